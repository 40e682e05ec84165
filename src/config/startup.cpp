// Start-up file update: a copy of autoexec.bat with SET TEMP appended, put in place of the
// file (the old one kept as autoexec.cv) or saved beside it.
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "config.h"
#include "dialogs.h"
#include "installer.h"
#include "resource.h"

// LINE_CAPACITY is one line of the copy; TEXT_LIMIT the largest start-up file whose whole
// text the recovery of an interrupted update compares.
enum { LINE_CAPACITY = 1024, TEXT_LIMIT = 32768 };

static int ProcessHasTemp()
{
    char value[2];
    SetLastError(0);
    return GetEnvironmentVariableA("TEMP", value, sizeof value) > 0 ||
           GetLastError() != ERROR_ENVVAR_NOT_FOUND;
}

static void FormatTempLine(char *line, size_t capacity)
{
    snprintf(line, capacity, "SET TEMP=%s\\\n", BootDrive);
}

// Copies the start-up file into the temporary file as DOS text and appends the SET TEMP
// line on a line of its own. A read error is never taken for the end of the file. 0, or 1
// with ErrorText written and the temporary file gone.
static int WriteChangedCopy(FILE *startup, const char *startupPath, const char *temporaryPath)
{
    FILE *copy = fopen(temporaryPath, "w");
    if (!copy) {
        SetErrorText("Can't create %s for writing", temporaryPath);
        return 1;
    }
    char line[LINE_CAPACITY];
    int lineOpen = 0;
    int failed = 0;
    while (!failed && fgets(line, sizeof line, startup)) {
        failed = fputs(line, copy) == EOF;
        lineOpen = line[strlen(line) - 1] != '\n';
    }
    int unreadable = !failed && ferror(startup);
    failed |= unreadable;
    if (!failed && lineOpen)
        failed = fputs("\n", copy) == EOF;
    FormatTempLine(line, sizeof line);
    if (!failed)
        failed = fputs(line, copy) == EOF;
    // The copy is forced to the disk before any name changes: a disk cache may write the
    // renames first, and a power cut in between would leave autoexec.bat on clusters never
    // written. A full disk shows up here at the latest.
    if (!failed)
        failed = fflush(copy) != 0 || _commit(_fileno(copy)) != 0;
    failed |= fclose(copy) != 0;
    if (failed) {
        remove(temporaryPath);
        if (unreadable)
            SetErrorText("Can't read %s", startupPath);
        else
            SetErrorText("Can't write %s", temporaryPath);
        return 1;
    }
    return 0;
}

// A file's whole text as text mode reads it, into text; 0 with its length, or 1 when it
// cannot be read whole or does not fit.
static int ReadText(const char *path, char *text, size_t capacity, size_t *length)
{
    FILE *file = fopen(path, "r");
    if (!file)
        return 1;
    *length = fread(text, 1, capacity, file);
    int whole = !ferror(file) && *length < capacity;
    fclose(file);
    return !whole;
}

// Whether candidate holds what this stage writes from the start-up file now kept as the
// backup: its lines, the last one ended, and the SET TEMP line.
static int IsChangedCopyOf(const char *candidate, const char *backup, char *buffers)
{
    char *expected = buffers, *found = buffers + TEXT_LIMIT;
    size_t expectedLength, foundLength;
    if (ReadText(backup, expected, TEXT_LIMIT - LINE_CAPACITY, &expectedLength) ||
        ReadText(candidate, found, TEXT_LIMIT, &foundLength))
        return 0;
    if (expectedLength > 0 && expected[expectedLength - 1] != '\n')
        expected[expectedLength++] = '\n';
    FormatTempLine(expected + expectedLength, LINE_CAPACITY);
    expectedLength += strlen(expected + expectedLength);
    return expectedLength == foundLength && memcmp(expected, found, foundLength) == 0;
}

// An update cut short between its two renames (a power cut) leaves no start-up file, the
// old one as the backup and the new one under its temporary name. That state is finished
// here: 1 when it was, 0 when there was nothing to finish, -1 with ErrorText when it could
// not be.
static int CompleteInterruptedUpdate(const char *startupPath, const char *backupPath)
{
    FILE *startup = fopen(startupPath, "r");
    if (startup) {
        fclose(startup);
        return 0;
    }
    char pattern[TEXT_CAPACITY], candidate[TEXT_CAPACITY];
    snprintf(pattern, sizeof pattern, "%s\\CV??????", BootDrive);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    char *buffers = (char *)malloc(2 * TEXT_LIMIT);
    int result = 0;
    do {
        if (strlen(found.cFileName) != 8 || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        snprintf(candidate, sizeof candidate, "%s\\%s", BootDrive, found.cFileName);
        if (buffers && IsChangedCopyOf(candidate, backupPath, buffers)) {
            result = MoveFileA(candidate, startupPath) ? 1 : -1;
            if (result < 0)
                SetErrorText("Error renaming %s to %s", candidate, startupPath);
        }
    } while (result == 0 && FindNextFileA(search, &found));
    FindClose(search);
    free(buffers);
    return result;
}

int UpdateStartupFile()
{
    char startupPath[TEXT_CAPACITY], temporaryPath[TEXT_CAPACITY], backupPath[TEXT_CAPACITY];
    snprintf(startupPath, sizeof startupPath, "%s\\autoexec.bat", BootDrive);
    snprintf(backupPath, sizeof backupPath, "%s\\autoexec.cv", BootDrive);
    // A finished interrupted update is this stage's work done.
    int completed = CompleteInterruptedUpdate(startupPath, backupPath);
    if (completed != 0)
        return completed < 0;
    if (ProcessHasTemp())
        return 0;

    int update = UnattendedMode || RunModalDialog(IDD_CONFIG, GeneralDlgProc) == IDOK;

    snprintf(temporaryPath, sizeof temporaryPath, "%s\\CVXXXXXX", BootDrive);
    if (!_mktemp(temporaryPath)) {
        SetErrorText("Can't get temporary filename");
        return 1;
    }
    FILE *startup = fopen(startupPath, "r");
    if (!startup) {
        SetErrorText("Can't open %s for reading", startupPath);
        return 1;
    }
    int failed = WriteChangedCopy(startup, startupPath, temporaryPath);
    fclose(startup);
    if (failed)
        return 1;

    FILE *backup = fopen(backupPath, "r");
    if (backup) {
        fclose(backup);
        char question[2 * TEXT_CAPACITY];
        snprintf(question, sizeof question, "File %s exists.  Overwrite?", backupPath);
        if (!UnattendedMode && InstallMessageBox(question, MB_YESNO) != IDYES)
            return 0;
        remove(backupPath);
    }

    if (update) {
        if (!MoveFileA(startupPath, backupPath)) {
            SetErrorText("Error renaming %s to %s", startupPath, backupPath);
            remove(temporaryPath);
            return 1;
        }
        if (!MoveFileA(temporaryPath, startupPath)) {
            SetErrorText("Error renaming %s to %s", temporaryPath, startupPath);
            // Never leave the machine without a start-up file: the old one goes back and the
            // copy goes. Where even that fails, the next run finishes the update.
            if (MoveFileA(backupPath, startupPath))
                remove(temporaryPath);
            return 1;
        }
        return 0;
    }
    if (!MoveFileA(temporaryPath, backupPath)) {
        SetErrorText("Error renaming %s to %s", temporaryPath, backupPath);
        return 1;
    }
    char notice[2 * TEXT_CAPACITY];
    snprintf(notice, sizeof notice, "Changes were saved in %s", backupPath);
    if (!UnattendedMode)
        InstallMessageBox(notice, MB_OK);
    return 0;
}
