// Start-up: the command-line argument and the environment fields of the installer state.
#include <direct.h>

#include "installer.h"

void TakeCommandLine(const char *arguments)
{
    size_t stored = 0;
    for (const char *c = arguments; *c && stored < sizeof BaseDirectory - 1; c++) {
        if (*c != '"')
            BaseDirectory[stored++] = *c;
    }
    BaseDirectory[stored] = '\0';
    if (arguments[0] != '\0')
        UnattendedMode = 1;
}

void InitEnvironment()
{
    if (LOBYTE(LOWORD(GetVersion())) >= 4)
        NewShell = 1;

    DWORD length = GetModuleFileNameA(InstanceHandle, SourceDirectory, sizeof SourceDirectory);
    if (length >= sizeof SourceDirectory)
        length = sizeof SourceDirectory - 1;
    SourceDirectory[length] = '\0';
    char *lastBackslash = strrchr(SourceDirectory, '\\');
    if (lastBackslash)
        lastBackslash[1] = '\0';
    else
        SourceDirectory[0] = '\0';

    if (!_getcwd(StartDirectory, sizeof StartDirectory))
        StartDirectory[0] = '\0';
    CopyText(BootDrive, sizeof BootDrive, "c:");
}
