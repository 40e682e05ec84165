// Windows 95 behaviour of KERNEL32 for modules under test, by rewriting their import tables.
#include "windows95_kernel.h"

#include "import_table.h"

#include <string.h>

namespace {

// The real functions, taken from KERNEL32's exports: the emulation's own calls must not go
// through an import table it may have rewritten.
struct RealKernel {
    decltype(&CreateFileA) createFile;
    decltype(&MoveFileA) moveFile;
    decltype(&LoadLibraryA) loadLibrary;
    decltype(&GetProcAddress) getProcAddress;
};

RealKernel Real()
{
    static RealKernel real;
    if (real.createFile == nullptr) {
        HMODULE kernel = GetModuleHandleA("kernel32.dll");
        real.createFile = (decltype(&CreateFileA))(void *)GetProcAddress(kernel, "CreateFileA");
        real.moveFile = (decltype(&MoveFileA))(void *)GetProcAddress(kernel, "MoveFileA");
        real.loadLibrary = (decltype(&LoadLibraryA))(void *)GetProcAddress(kernel, "LoadLibraryA");
        real.getProcAddress =
            (decltype(&GetProcAddress))(void *)GetProcAddress(kernel, "GetProcAddress");
    }
    return real;
}

int renamesBeforeRefusal = -1;
DWORD refusalError;

HANDLE WINAPI CreateFile95(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                           DWORD disposition, DWORD flags, HANDLE model)
{
    if (share & FILE_SHARE_DELETE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    return Real().createFile(name, access, share, security, disposition, flags, model);
}

BOOL WINAPI MoveFileEx95(LPCSTR, LPCSTR, DWORD)
{
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}

BOOL WINAPI MoveFile95(LPCSTR from, LPCSTR to)
{
    if (renamesBeforeRefusal == 0) {
        renamesBeforeRefusal = -1;
        SetLastError(refusalError);
        return FALSE;
    }
    if (renamesBeforeRefusal > 0)
        --renamesBeforeRefusal;
    return Real().moveFile(from, to);
}

HMODULE WINAPI GetModuleHandleW95(LPCWSTR)
{
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return NULL;
}

HMODULE WINAPI LoadLibrary95(LPCSTR name)
{
    HMODULE module = Real().loadLibrary(name);
    if (module != NULL)
        EmulateWindows95Kernel(module);
    return module;
}

// A program that looks MoveFileExA up at run time finds the stub too.
FARPROC WINAPI GetProcAddress95(HMODULE module, LPCSTR name)
{
    if ((ULONG_PTR)name >> 16 && strcmp(name, "MoveFileExA") == 0 &&
        module == GetModuleHandleA("kernel32.dll"))
        return (FARPROC)(void *)MoveFileEx95;
    return Real().getProcAddress(module, name);
}

struct Replacement {
    const char *name;
    void *function;
};

const Replacement Replacements[] = {
    {"CreateFileA", (void *)CreateFile95},     {"MoveFileExA", (void *)MoveFileEx95},
    {"MoveFileA", (void *)MoveFile95},         {"LoadLibraryA", (void *)LoadLibrary95},
    {"GetModuleHandleW", (void *)GetModuleHandleW95}, {"GetProcAddress", (void *)GetProcAddress95},
};

// The wide-character functions that Windows 95 does implement (KERNEL32, USER32, GDI32).
const char *const WideFunctionsOf95[] = {
    "EnumResourceLanguagesW", "EnumResourceNamesW", "EnumResourceTypesW", "FindResourceW",
    "FindResourceExW", "GetCommandLineW", "lstrlenW", "MessageBoxW", "MessageBoxExW",
    "ExtTextOutW", "TextOutW", "GetCharWidthW", "GetTextExtentPointW", "GetTextExtentPoint32W",
    "GetTextExtentExPointW",
};

// The system libraries whose wide-character functions are stubs on Windows 95.
const char *const SystemLibraries[] = {"kernel32.dll", "user32.dll", "gdi32.dll"};

bool SystemLibrary(const char *name)
{
    for (const char *library : SystemLibraries)
        if (lstrcmpiA(name, library) == 0)
            return true;
    return false;
}

bool WideStub(const char *name)
{
    size_t length = strlen(name);
    if (length < 2 || name[length - 1] != 'W' || name[length - 2] < 'a' || name[length - 2] > 'z')
        return false;
    for (const char *implemented : WideFunctionsOf95)
        if (strcmp(name, implemented) == 0)
            return false;
    return true;
}

// Redirects one import of an emulated module, or notes a wide function it cannot run with.
void Emulate(void *context, const char *library, const char *function, void **slot)
{
    if (!SystemLibrary(library))
        return;
    if (lstrcmpiA(library, "kernel32.dll") == 0)
        for (const Replacement &r : Replacements)
            if (strcmp(function, r.name) == 0) {
                PatchImport(slot, r.function);
                return;
            }
    if (WideStub(function))
        ((std::vector<std::string> *)context)->push_back(function);
}

}  // namespace

std::vector<std::string> EmulateWindows95Kernel(HMODULE module)
{
    Real();  // looked up before this module's GetProcAddress may lead to the emulation
    std::vector<std::string> cannotRun;
    VisitImports(module, Emulate, &cannotRun);
    return cannotRun;
}

void RefuseRenameAfter(int renames, DWORD error)
{
    renamesBeforeRefusal = renames;
    refusalError = error;
}
