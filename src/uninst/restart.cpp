// Itself last: a running program cannot delete its own file, so the system removes the
// uninstaller, its record and the folders left at the next restart, each system its own way:
// NT through MoveFileExA, Windows 95 through the [rename] section of WININIT.INI (which removes
// files only), Windows 3.1 not at all.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "config.h"
#include "installer.h"
#include "resource.h"
#include "uninst.h"

static const char RenameFile[] = "wininit.ini";
static const char RenameSection[] = "rename";
enum { RENAME_SECTION_CAPACITY = 32767 };

typedef BOOL(WINAPI *MoveFileExFunction)(LPCSTR, LPCSTR, DWORD);
typedef DWORD(WINAPI *ShortPathFunction)(LPCSTR, LPSTR, DWORD);

// Neither function is part of every system's KERNEL32 (Windows 95 has MoveFileExA only as a
// stub), so both are looked up when needed.
static FARPROC KernelFunction(const char *name)
{
    return GetProcAddress(GetModuleHandleA("kernel32.dll"), name);
}

// Whether a folder holds nothing but the one named.
static int HoldsOnly(const char *folder, const char *only)
{
    char pattern[PATH_CAPACITY];
    snprintf(pattern, sizeof pattern, "%s\\*", folder);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    int alone = 1;
    do
        alone = strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0 ||
                lstrcmpiA(found.cFileName, only) == 0;
    while (alone && FindNextFileA(search, &found));
    FindClose(search);
    return alone;
}

// NT removes a folder named for deletion at restart only when it is empty by then. The base
// directory goes too when the uninstaller's folder is all that is left in it. The outermost
// folder that goes is named in closing.
static int DeleteAtRestartOnNt(MoveFileExFunction moveFileEx, char *outermost, size_t capacity)
{
    char base[TEXT_CAPACITY], parent[PATH_CAPACITY];
    RecordValue(RECORD_BASE, base, sizeof base);
    CopyText(parent, sizeof parent, UninstallerDirectory);
    char *name = strrchr(parent, '\\');
    *name++ = '\0';
    CopyText(outermost, capacity, UninstallerDirectory);
    const char *paths[] = {UninstallerPath, RecordPath, UninstallerDirectory, parent};
    int count = lstrcmpiA(parent, base) == 0 && HoldsOnly(parent, name) ? 4 : 3;
    for (int i = 0; i < count; i++)
        if (!moveFileEx(paths[i], NULL, MOVEFILE_DELAY_UNTIL_REBOOT))
            return 1;
    if (count == 4)
        CopyText(outermost, capacity, parent);
    return 0;
}

// The [rename] section may already name files of other programs, each as NUL=path: the
// section is read whole and written back with the two lines added (writing the key NUL would
// replace the first of them), and the change forced to the disk.
static int DeleteAtRestartOnWindows95()
{
    char path[PATH_CAPACITY];
    if (SettingsFilePath(RenameFile, path, sizeof path)) {
        SetErrorText("Can't write %s", RenameFile);
        return 1;
    }
    char *section = (char *)malloc(RENAME_SECTION_CAPACITY);
    if (!section) {
        SetErrorText("Can't allocate memory for %s", path);
        return 1;
    }
    size_t length = GetPrivateProfileSectionA(RenameSection, section, RENAME_SECTION_CAPACITY,
                                              RenameFile);
    ShortPathFunction shortPath = (ShortPathFunction)(void *)KernelFunction("GetShortPathNameA");
    int fits = 1;
    const char *const files[] = {UninstallerPath, RecordPath};
    for (const char *file : files) {
        char line[PATH_CAPACITY] = "NUL=";
        DWORD shortLength = shortPath ? shortPath(file, line + 4, sizeof line - 4) : 0;
        if (shortLength == 0 || shortLength >= sizeof line - 4)
            CopyText(line + 4, sizeof line - 4, file);
        int present = 0;
        for (const char *entry = section; entry < section + length; entry += strlen(entry) + 1)
            present |= lstrcmpiA(entry, line) == 0;
        size_t size = strlen(line) + 1;
        fits = fits && length + size + 1 < RENAME_SECTION_CAPACITY;
        if (!present && fits) {
            memcpy(section + length, line, size);
            length += size;
        }
    }
    section[length] = '\0';
    int failed = !fits || !WritePrivateProfileSectionA(RenameSection, section, RenameFile) ||
                 CommitSettings(RenameFile, path) != 0;
    free(section);
    if (failed)
        SetErrorText("Can't write %s", path);
    return failed;
}

int RemoveAtRestart()
{
    char outermost[PATH_CAPACITY];
    DWORD version = GetVersion();
    int nt = !(version & 0x80000000);
    int major = LOBYTE(LOWORD(version));
    MoveFileExFunction moveFileEx = (MoveFileExFunction)(void *)KernelFunction("MoveFileExA");
    UINT said = IDS_LEFT_s;
    CopyText(outermost, sizeof outermost, UninstallerDirectory);
    // Where NT refuses (a user who may not change the system's settings), what is left is said.
    if (nt && moveFileEx && DeleteAtRestartOnNt(moveFileEx, outermost, sizeof outermost) == 0)
        said = IDS_RESTART_NT_s;
    else if (!nt && major >= 4) {
        if (DeleteAtRestartOnWindows95())
            return 1;
        said = IDS_RESTART_95_s;
    }
    Notice(said, outermost);
    return 0;
}
