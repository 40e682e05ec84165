// Settings files on the disk: where the profile functions keep them, and their changes forced
// out of the profile cache and the disk cache.
#include <stdio.h>

#include "config.h"
#include "installer.h"

int CommitToDisk(const char *path)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    BOOL flushed = FlushFileBuffers(file);
    CloseHandle(file);
    return !flushed;
}

int SettingsFilePath(const char *fileName, char *path, size_t capacity)
{
    UINT length = GetWindowsDirectoryA(path, (UINT)capacity);
    return length == 0 || length >= capacity || AppendText(path, capacity, "\\") ||
           AppendText(path, capacity, fileName);
}

// Windows 3.1 and 95 keep settings files in a cache and write a change out only when it is
// flushed. The flush call has no failure to act on (Wine, which writes each entry at once and
// has no such cache, always answers it with FALSE), so its answer is ignored and the file is
// then forced to the disk, which does fail where the change cannot be kept.
int CommitSettings(const char *fileName, const char *path)
{
    WritePrivateProfileStringA(NULL, NULL, NULL, fileName);
    return CommitToDisk(path);
}
