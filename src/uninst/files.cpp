// The installed files: each goes only while it is as the packing list describes it (size,
// MS-DOS date and time, CRC-32); then the folders they leave empty.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "installer.h"
#include "resource.h"
#include "uninst.h"

enum { READ_BLOCK = 16384 };
// An hour in the 100-nanosecond units of a file time.
static const unsigned long long FileTimeHour = 36000000000ULL;
enum FileState { FILE_GONE, FILE_AS_INSTALLED, FILE_CHANGED, FILE_UNREADABLE };

char KeptFiles[KEPT_CAPACITY];

static DWORD CrcTable[256];

static void MakeCrcTable()
{
    for (DWORD n = 0; n < 256; n++) {
        DWORD c = n;
        for (int k = 0; k < 8; k++)
            c = c & 1 ? 0xEDB88320 ^ (c >> 1) : c >> 1;
        CrcTable[n] = c;
    }
}

static unsigned long long DosTime(WORD date, WORD time)
{
    FILETIME converted = {0, 0};
    DosDateTimeToFileTime(date, time, &converted);
    return (unsigned long long)converted.dwHighDateTime << 32 | converted.dwLowDateTime;
}

// The file's CRC-32, size and local MS-DOS time, against "size,date,time,crc" (the last three
// in hexadecimal). NT converts the time of an NTFS file to local time with today's daylight
// saving bias, not that of the file's date, so a time exactly an hour off counts as the same.
static FileState CheckFile(const char *path, const char *recorded)
{
    unsigned long size, date, time, crc;
    if (sscanf(recorded, "%lu,%lx,%lx,%lx", &size, &date, &time, &crc) != 4)
        return FILE_CHANGED;
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return FILE_GONE;
    if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))
        return FILE_CHANGED;  // marked by the user
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return FILE_UNREADABLE;
    FILETIME written, local;
    WORD dosDate = 0, dosTime = 0;
    int same = GetFileSize(file, NULL) == size && GetFileTime(file, NULL, NULL, &written) &&
               FileTimeToLocalFileTime(&written, &local) &&
               FileTimeToDosDateTime(&local, &dosDate, &dosTime);
    unsigned long long found = DosTime(dosDate, dosTime);
    unsigned long long expected = DosTime((WORD)date, (WORD)time);
    unsigned long long shift = found > expected ? found - expected : expected - found;
    same = same && (shift == 0 || shift == FileTimeHour);
    BYTE *block = same ? (BYTE *)malloc(READ_BLOCK) : NULL;
    DWORD sum = 0xFFFFFFFF, count;
    BOOL read = TRUE;
    while (block && (read = ReadFile(file, block, READ_BLOCK, &count, NULL)) && count > 0)
        for (DWORD i = 0; i < count; i++)
            sum = CrcTable[(sum ^ block[i]) & 0xFF] ^ (sum >> 8);
    CloseHandle(file);
    free(block);
    if (!read || (same && !block))
        return FILE_UNREADABLE;
    return same && (sum ^ 0xFFFFFFFF) == crc ? FILE_AS_INSTALLED : FILE_CHANGED;
}

int CountRecordedFiles(int first, int last)
{
    int count = 0;
    char destination[PATH_CAPACITY];
    for (int archive = first; archive <= last; archive++) {
        ArchiveDestination(archive, destination, sizeof destination);
        char *lines = destination[0] ? ArchiveFiles(archive) : NULL;
        for (char *line = lines; line && *line; line += strlen(line) + 1)
            count++;
        free(lines);
    }
    return count;
}

// The file a packing-list line names, below the destination; its recorded data, or NULL.
static const char *FileOfLine(const char *destination, const char *line, char *path,
                              size_t capacity)
{
    const char *equals = strchr(line, '=');
    char name[PATH_CAPACITY];
    snprintf(name, sizeof name, "%.*s", equals ? (int)(equals - line) : (int)strlen(line), line);
    BuildBaseSubdirectory(path, capacity, destination, name);
    return equals ? equals + 1 : NULL;
}

static void KeepChanged(const char *path)
{
    Report(IDS_LOG_KEPT_s, path);
    if (KeptFiles[0])
        AppendText(KeptFiles, sizeof KeptFiles, "\n");
    AppendText(KeptFiles, sizeof KeptFiles, path);
}

// Each line names a file below the destination: its folders, up to the destination, go when
// they are empty. Files lie grouped by folder, so a folder just tried is not tried again.
static void RemoveEmptyFolders(const char *destination, const char *lines)
{
    char folder[PATH_CAPACITY], tried[PATH_CAPACITY] = "";
    size_t destinationLength = strlen(destination);
    for (const char *line = lines; *line; line += strlen(line) + 1) {
        FileOfLine(destination, line, folder, sizeof folder);
        char *end;
        while ((end = strrchr(folder, '\\')) && (size_t)(end - folder) >= destinationLength) {
            *end = '\0';
            if (GetFileAttributesA(folder) == INVALID_FILE_ATTRIBUTES)
                continue;
            if (strcmp(folder, tried) == 0)
                break;
            CopyText(tried, sizeof tried, folder);
            if (!RemoveDirectoryA(folder))
                break;
            Report(IDS_LOG_FOLDER_s, folder);
        }
    }
}

static int RemoveArchiveFiles(const char *destination, const char *lines)
{
    char path[PATH_CAPACITY];
    for (const char *line = lines; *line; line += strlen(line) + 1) {
        const char *recorded = FileOfLine(destination, line, path, sizeof path);
        if (!recorded)
            continue;
        FileState state = CheckFile(path, recorded);
        if (state == FILE_UNREADABLE) {
            SetErrorText("Can't read %s", path);
            return 1;
        }
        if (state == FILE_CHANGED)
            KeepChanged(path);
        if (state != FILE_AS_INSTALLED)
            continue;
        Report(IDS_LOG_DELETE_s, path);
        if (!DeleteFileA(path)) {
            SetErrorText("Can't delete %s", path);
            return 1;
        }
    }
    return 0;
}

int RemoveRecordedFiles(int first, int last)
{
    if (CrcTable[1] == 0)
        MakeCrcTable();
    char *lines[ARCHIVE_COUNT] = {};
    char destinations[ARCHIVE_COUNT][PATH_CAPACITY];
    int result = 0;
    for (int archive = first; archive <= last && result == 0; archive++) {
        ArchiveDestination(archive, destinations[archive], PATH_CAPACITY);
        if (!destinations[archive][0])
            continue;
        lines[archive] = ArchiveFiles(archive);
        result = !lines[archive] || RemoveArchiveFiles(destinations[archive], lines[archive]);
    }
    for (int archive = first; archive <= last; archive++) {
        if (result == 0 && lines[archive])
            RemoveEmptyFolders(destinations[archive], lines[archive]);
        free(lines[archive]);
    }
    return result;
}
