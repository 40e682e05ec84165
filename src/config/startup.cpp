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

// One line of the copy.
enum { LINE_CAPACITY = 1024 };

static int ProcessHasTemp()
{
    char value[2];
    SetLastError(0);
    return GetEnvironmentVariableA("TEMP", value, sizeof value) > 0 ||
           GetLastError() != ERROR_ENVVAR_NOT_FOUND;
}

void FormatTempLine(char *line, size_t capacity)
{
    snprintf(line, capacity, "SET TEMP=%s\\", BootDrive);
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
    AppendText(line, sizeof line, "\n");
    if (!failed)
        failed = fputs(line, copy) == EOF;
    if (CommitCopy(copy, temporaryPath, failed)) {
        if (unreadable)
            SetErrorText("Can't read %s", startupPath);
        return 1;
    }
    return 0;
}

static void StartupPaths(char *startupPath, char *backupPath, char *pattern, size_t capacity)
{
    snprintf(startupPath, capacity, "%s\\autoexec.bat", BootDrive);
    snprintf(backupPath, capacity, "%s\\autoexec.cv", BootDrive);
    snprintf(pattern, capacity, "%s\\CV??????", BootDrive);
}

int StartupFileHasTempLine()
{
    char startupPath[TEXT_CAPACITY], backupPath[TEXT_CAPACITY], pattern[TEXT_CAPACITY];
    char line[LINE_CAPACITY];
    StartupPaths(startupPath, backupPath, pattern, TEXT_CAPACITY);
    FormatTempLine(line, sizeof line);
    return IsRewriteOf(startupPath, backupPath, line, AddStartupLine);
}

int UpdateStartupFile()
{
    char startupPath[TEXT_CAPACITY], temporaryPath[TEXT_CAPACITY], backupPath[TEXT_CAPACITY];
    char pattern[TEXT_CAPACITY], line[LINE_CAPACITY];
    StartupPaths(startupPath, backupPath, pattern, TEXT_CAPACITY);
    FormatTempLine(line, sizeof line);
    // A finished interrupted update is this stage's work done.
    int completed =
        CompleteInterruptedUpdate(startupPath, backupPath, pattern, line, AddStartupLine);
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

    if (update)
        return PutCopyInPlace(startupPath, temporaryPath, backupPath);
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
