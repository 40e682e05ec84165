// Binding to the unzip library: loading and version test, the two memory blocks handed
// to it, the extraction call and the callbacks through which it reports.
#include <stdio.h>
#include <string.h>

#include "dialogs.h"
#include "extract.h"
#include "installer.h"
#include "progress.h"

enum {
    NAME_BLOCK_SIZE = 1641,
    NAME_BLOCK_DIRECTORY = 128,
    CONTROL_BLOCK_SIZE = 88,
    REQUIRED_VERSION_MAJOR = 1,
    REQUIRED_VERSION_MINOR = 0,
};

// Byte offsets of the control block's 32-bit fields.
enum ControlField {
    FIELD_PRINT = 0, FIELD_EMPTY = 4, FIELD_STREAM = 8, FIELD_NAMES = 12, FIELD_RESERVED = 16,
    FIELD_WINDOW = 20, FIELD_INSTANCE = 24, FIELD_ARCHIVE = 80,
};

// Library settings stored before each archive: byte offset and value.
static const struct {
    int offset;
    DWORD value;
} ArchiveSettings[] = {
    {32, 1}, {44, 0}, {48, 0}, {52, 0}, {56, 0}, {60, 0},
    {64, 1}, {68, 0}, {72, 0}, {76, 0}, {84, 0},
};

typedef int(WINAPI *ProcessZipFiles)(void *controlBlock);
typedef void(WINAPI *DllVersion)(DWORD *version);

static HMODULE ExtractorModule;
static ProcessZipFiles ProcessZipFilesEntry;
static DllVersion GetDllVersionEntry;
static HGLOBAL NameBlockHandle;
char *ExtractorNameBlock;
static HGLOBAL ControlBlockHandle;
DWORD *ExtractorControlBlock;

static void SetField(int offset, DWORD value)
{
    ExtractorControlBlock[offset / 4] = value;
}

static DWORD Field(int offset)
{
    return ExtractorControlBlock[offset / 4];
}

static void *AllocateBlock(HGLOBAL *handle, DWORD size)
{
    *handle = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, size);
    return *handle ? GlobalLock(*handle) : NULL;
}

static void ReleaseBlock(HGLOBAL *handle, void *address)
{
    if (!*handle)
        return;
    if (address)
        GlobalUnlock(*handle);
    GlobalFree(*handle);
    *handle = NULL;
}

int UnloadExtractor()
{
    if (ExtractorModule)
        FreeLibrary(ExtractorModule);
    ExtractorModule = NULL;
    ProcessZipFilesEntry = NULL;
    GetDllVersionEntry = NULL;
    ReleaseBlock(&NameBlockHandle, ExtractorNameBlock);
    ExtractorNameBlock = NULL;
    ReleaseBlock(&ControlBlockHandle, ExtractorControlBlock);
    ExtractorControlBlock = NULL;
    return 0;
}

static void ShowExtractorError(const char *message)
{
    MessageBoxA((HWND)(UINT_PTR)Field(FIELD_WINDOW), message, INSTALL_CAPTION,
                MB_ICONERROR);
}

int LoadExtractor(const char *libraryPath, HINSTANCE instance, HWND window, DWORD reserved)
{
    ExtractorNameBlock = (char *)AllocateBlock(&NameBlockHandle, NAME_BLOCK_SIZE);
    if (!ExtractorNameBlock) {
        UnloadExtractor();
        return -1;
    }
    ExtractorControlBlock = (DWORD *)AllocateBlock(&ControlBlockHandle, CONTROL_BLOCK_SIZE);
    if (!ExtractorControlBlock) {
        UnloadExtractor();
        return -1;
    }
    SetField(FIELD_PRINT, (DWORD)(UINT_PTR)ExtractorPrintCallback);
    SetField(FIELD_EMPTY, (DWORD)(UINT_PTR)ExtractorEmptyCallback);
    SetField(FIELD_STREAM, (DWORD)(UINT_PTR)stdout);
    SetField(FIELD_NAMES, (DWORD)(UINT_PTR)ExtractorNameBlock);
    SetField(FIELD_RESERVED, reserved);
    SetField(FIELD_WINDOW, (DWORD)(UINT_PTR)window);
    SetField(FIELD_INSTANCE, (DWORD)(UINT_PTR)instance);

    char message[TEXT_CAPACITY];
    ExtractorModule = LoadLibraryA(libraryPath);
    if ((UINT_PTR)ExtractorModule < 32) {
        ExtractorModule = NULL;
        // A path too long for the message is cut: the box still says what is missing.
        snprintf(message, sizeof message, "Cannot find %s", libraryPath);
        ShowExtractorError(message);
        UnloadExtractor();
        return -1;
    }
    ProcessZipFilesEntry = (ProcessZipFiles)(void *)GetProcAddress(ExtractorModule,
                                                                   "DllProcessZipFiles");
    GetDllVersionEntry = (DllVersion)(void *)GetProcAddress(ExtractorModule, "GetDllVersion");
    if (!ProcessZipFilesEntry) {
        UnloadExtractor();
        return -1;
    }
    if (!GetDllVersionEntry)
        return 0;

    DWORD version = 0;
    GetDllVersionEntry(&version);
    if (HIWORD(version) == REQUIRED_VERSION_MAJOR && LOWORD(version) == REQUIRED_VERSION_MINOR)
        return 0;
    wsprintfA(message, "Wrong version of UNZIP DLL.  Need %d.%d.  Found %d.%d.",
              REQUIRED_VERSION_MAJOR, REQUIRED_VERSION_MINOR, HIWORD(version), LOWORD(version));
    ShowExtractorError(message);
    UnloadExtractor();
    return -1;
}

int RunExtractor(const char *archivePath)
{
    if (!ProcessZipFilesEntry)
        return -1;
    for (const auto &setting : ArchiveSettings)
        SetField(setting.offset, setting.value);

    CopyText(ExtractorNameBlock, NAME_BLOCK_DIRECTORY, archivePath);
    char *directory = ExtractorNameBlock + NAME_BLOCK_DIRECTORY;
    CopyText(directory, NAME_BLOCK_SIZE - NAME_BLOCK_DIRECTORY, archivePath);
    char *lastBackslash = strrchr(directory, '\\');
    if (lastBackslash)
        *lastBackslash = '\0';

    SetField(FIELD_ARCHIVE, (DWORD)(UINT_PTR)archivePath);
    return ProcessZipFilesEntry(ExtractorControlBlock);
}

extern "C" int ExtractorPrintCallback(void *, int length, const char *text)
{
    LogAppend(text, length);
    RefreshProgressLog(ProgressWindow);

    // Keep the progress window live while the library works: its Cancel and Copy buttons
    // and its keys are handled here.
    HWND dialog = (HWND)(UINT_PTR)Field(FIELD_WINDOW);
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        if (dialog && IsDialogMessageA(dialog, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return length;
}

extern "C" void ExtractorEmptyCallback()
{
}
