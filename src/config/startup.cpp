// Start-up file update: a copy of autoexec.bat with SET TEMP appended, put in place of the
// file (the old one kept as autoexec.cv) or saved beside it.
#include <io.h>
#include <stdio.h>
#include <string.h>

#include "config.h"
#include "dialogs.h"
#include "installer.h"
#include "resource.h"

enum { LINE_CAPACITY = 1024 };

static int ProcessHasTemp()
{
    char value[2];
    SetLastError(0);
    return GetEnvironmentVariableA("TEMP", value, sizeof value) > 0 ||
           GetLastError() != ERROR_ENVVAR_NOT_FOUND;
}

// Copies the start-up file into the temporary file as DOS text and appends the SET TEMP
// line on a line of its own. 0, or 1 with ErrorText written and the temporary file gone.
static int WriteChangedCopy(FILE *startup, const char *temporaryPath)
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
    if (!failed && lineOpen)
        failed = fputs("\n", copy) == EOF;
    snprintf(line, sizeof line, "SET TEMP=%s\\\n", BootDrive);
    if (!failed)
        failed = fputs(line, copy) == EOF;
    // The close flushes the last block: a full disk shows up here at the latest.
    failed |= fclose(copy) != 0;
    if (failed) {
        remove(temporaryPath);
        SetErrorText("Can't write %s", temporaryPath);
        return 1;
    }
    return 0;
}

int UpdateStartupFile()
{
    if (ProcessHasTemp())
        return 0;

    char startupPath[TEXT_CAPACITY], temporaryPath[TEXT_CAPACITY], backupPath[TEXT_CAPACITY];
    snprintf(startupPath, sizeof startupPath, "%s\\autoexec.bat", BootDrive);
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
    int failed = WriteChangedCopy(startup, temporaryPath);
    fclose(startup);
    if (failed)
        return 1;

    snprintf(backupPath, sizeof backupPath, "%s\\autoexec.cv", BootDrive);
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
            return 1;
        }
        if (!MoveFileA(temporaryPath, startupPath)) {
            // Never leave the machine without a start-up file.
            MoveFileA(backupPath, startupPath);
            SetErrorText("Error renaming %s to %s", temporaryPath, startupPath);
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
