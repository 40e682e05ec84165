// The record of the installation, read through the profile functions from beside the program.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "config.h"
#include "installer.h"
#include "uninst.h"

// The largest section of the packing list read: the profile functions of Windows 95 read
// no more than this at once.
enum { SECTION_CAPACITY = 32767 };

char UninstallerPath[PATH_CAPACITY];
char UninstallerDirectory[PATH_CAPACITY];
char RecordPath[PATH_CAPACITY];

int FindRecord()
{
    DWORD length = GetModuleFileNameA(NULL, UninstallerPath, sizeof UninstallerPath);
    if (length == 0 || length >= sizeof UninstallerPath)
        return 1;
    CopyText(UninstallerDirectory, sizeof UninstallerDirectory, UninstallerPath);
    char *lastBackslash = strrchr(UninstallerDirectory, '\\');
    if (!lastBackslash)
        return 1;
    *lastBackslash = '\0';
    snprintf(RecordPath, sizeof RecordPath, "%s\\%s", UninstallerDirectory, RECORD_FILE);
    char base[TEXT_CAPACITY];
    RecordValue(RECORD_BASE, base, sizeof base);
    return base[0] == '\0';
}

void RecordValue(const char *key, char *value, size_t capacity)
{
    GetPrivateProfileStringA(RECORD_SECTION, key, "", value, (DWORD)capacity, RecordPath);
}

int ForgetRecordValue(const char *key)
{
    if (WritePrivateProfileStringA(RECORD_SECTION, key, NULL, RecordPath) &&
        CommitSettings(RecordPath, RecordPath) == 0)
        return 0;
    SetErrorText("Can't write %s", RecordPath);
    return 1;
}

void ArchiveDestination(int archive, char *destination, size_t capacity)
{
    RecordValue(ArchiveNames[archive], destination, capacity);
    if (lstrcmpiA(destination, RECORD_KEPT) == 0)
        destination[0] = '\0';
}

char *ArchiveFiles(int archive)
{
    char *lines = (char *)malloc(SECTION_CAPACITY);
    if (!lines) {
        SetErrorText("Can't allocate memory for the record");
        return NULL;
    }
    DWORD length = GetPrivateProfileSectionA(ArchiveNames[archive], lines, SECTION_CAPACITY,
                                             RecordPath);
    if (length >= SECTION_CAPACITY - 2) {
        free(lines);
        SetErrorText("Can't read %s", RecordPath);
        return NULL;
    }
    lines[length] = lines[length + 1] = '\0';
    return lines;
}
