// Small stand-ins for the unzip library, one per behaviour the binding must handle: a
// library reporting another version, one without a version entry point, one without the
// extraction entry point, and a recording library that keeps what it was handed.
#include <windows.h>

#include <string.h>

#ifndef REPORTED_VERSION
#define REPORTED_VERSION 0x00010000
#endif

typedef int(__cdecl *PrintCallback)(void *, int, const char *);

// The control block's fields are 32-bit, addresses included.
static void *Address(const unsigned char *control, int offset)
{
    return (void *)(UINT_PTR) * (const DWORD *)(control + offset);
}

extern "C" {
// What the recording library saw at its last call.
__declspec(dllexport) unsigned char RecordedControlBlock[88];
__declspec(dllexport) char RecordedNameBlock[1641];
__declspec(dllexport) char RecordedArchivePath[260];
__declspec(dllexport) char RecordedDirectory[260];
__declspec(dllexport) DWORD RecordedThread;
__declspec(dllexport) int RecordedPrintResult;
__declspec(dllexport) int InsideProcessZipFiles;
__declspec(dllexport) int ProcessCalls;

#ifndef NO_VERSION
__declspec(dllexport) void WINAPI GetDllVersion(DWORD *version)
{
    *version = REPORTED_VERSION;
}
#endif

#ifndef NO_PROCESS
__declspec(dllexport) int WINAPI DllProcessZipFiles(unsigned char *control)
{
    InsideProcessZipFiles = 1;
    ProcessCalls++;
    memcpy(RecordedControlBlock, control, sizeof RecordedControlBlock);
    char *names = (char *)Address(control, 12);
    memcpy(RecordedNameBlock, names, sizeof RecordedNameBlock);
    const char *archive = (const char *)Address(control, 80);
    lstrcpynA(RecordedArchivePath, archive, sizeof RecordedArchivePath);
    GetCurrentDirectoryA(sizeof RecordedDirectory, RecordedDirectory);
    RecordedThread = GetCurrentThreadId();

    // An archive named for it has the user press Cancel in the progress window while the
    // library is still at work.
    HWND window = (HWND)Address(control, 20);
    if (strstr(archive, "cancel"))
        PostMessageA(window, WM_COMMAND, IDCANCEL, 0);

    PrintCallback print = (PrintCallback)Address(control, 0);
    static const char output[] = "  inflating: readme.txt\nno NUL after this";
    RecordedPrintResult = print(NULL, (int)sizeof output - 1, output);
    InsideProcessZipFiles = 0;
    return strstr(archive, "corrupt") ? 51 : 0;
}
#endif
}
