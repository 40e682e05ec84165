// Import tables of loaded modules.
#include "import_table.h"

void VisitImports(HMODULE module, ImportVisitor visit, void *context)
{
    BYTE *base = (BYTE *)module;
    IMAGE_NT_HEADERS *headers = (IMAGE_NT_HEADERS *)(base + ((IMAGE_DOS_HEADER *)base)->e_lfanew);
    IMAGE_DATA_DIRECTORY imports = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0)
        return;
    for (IMAGE_IMPORT_DESCRIPTOR *library = (IMAGE_IMPORT_DESCRIPTOR *)(base + imports.VirtualAddress);
         library->Name != 0; ++library) {
        const char *libraryName = (const char *)base + library->Name;
        IMAGE_THUNK_DATA *names = (IMAGE_THUNK_DATA *)(base + (library->OriginalFirstThunk
                                                                    ? library->OriginalFirstThunk
                                                                    : library->FirstThunk));
        IMAGE_THUNK_DATA *slots = (IMAGE_THUNK_DATA *)(base + library->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            IMAGE_IMPORT_BY_NAME *byName = (IMAGE_IMPORT_BY_NAME *)(base + names->u1.AddressOfData);
            visit(context, libraryName, (const char *)byName->Name, (void **)&slots->u1.Function);
        }
    }
}

void PatchImport(void **slot, void *function)
{
    DWORD protection;
    if (VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection)) {
        *slot = function;
        VirtualProtect(slot, sizeof *slot, protection, &protection);
    }
}
