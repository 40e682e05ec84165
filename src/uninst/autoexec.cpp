// The SET TEMP line leaves the start-up file under the discipline setup.exe added it with: a
// whole copy without the line, committed, renamed into place with the old file kept as
// autoexec.tbr. The line goes only while it stands in the file once, as it was written; the
// backup autoexec.cv is never copied back over a file the user may have changed since.
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "config.h"
#include "dialogs.h"
#include "installer.h"
#include "resource.h"
#include "uninst.h"

// Whether two files hold the same bytes.
static int SameBytes(const char *first, const char *second)
{
    char *texts = (char *)malloc(2 * STARTUP_TEXT_LIMIT);
    size_t lengths[2] = {0, 0};
    const char *paths[2] = {first, second};
    int same = texts != NULL;
    for (int i = 0; i < 2 && same; i++) {
        FILE *file = fopen(paths[i], "rb");
        same = file != NULL;
        if (file) {
            lengths[i] = fread(texts + i * STARTUP_TEXT_LIMIT, 1, STARTUP_TEXT_LIMIT, file);
            same = !ferror(file) && lengths[i] < STARTUP_TEXT_LIMIT;
            fclose(file);
        }
    }
    same = same && lengths[0] == lengths[1] &&
           memcmp(texts, texts + STARTUP_TEXT_LIMIT, lengths[0]) == 0;
    free(texts);
    return same;
}

// Writes the start-up file's text without the line into a new committed copy: 0, 1 with
// ErrorText, or -1 when the line does not stand in the text once (nothing written).
static int WriteCopyWithoutLine(const char *startupPath, const char *line, const char *copyPath)
{
    char *buffers = (char *)malloc(2 * STARTUP_TEXT_LIMIT);
    if (!buffers) {
        SetErrorText("Can't allocate memory for %s", startupPath);
        return 1;
    }
    char *text = buffers, *rewritten = buffers + STARTUP_TEXT_LIMIT;
    size_t length, rewrittenLength;
    int result = ReadText(startupPath, text, STARTUP_TEXT_LIMIT, &length);
    if (result == 0 && TakeOutStartupLine(line, text, length, rewritten, STARTUP_TEXT_LIMIT,
                                          &rewrittenLength) != 0)
        result = -1;
    else if (result != 0)
        SetErrorText("Can't read %s", startupPath);
    FILE *copy = result == 0 ? fopen(copyPath, "w") : NULL;
    if (result == 0 && !copy) {
        SetErrorText("Can't create %s for writing", copyPath);
        result = 1;
    }
    if (copy)
        result = CommitCopy(copy, copyPath,
                            fwrite(rewritten, 1, rewrittenLength, copy) != rewrittenLength);
    free(buffers);
    return result;
}

// The uninstaller's backup of the start-up file lies beside it; its copies are named after
// the pattern TBXXXXXX.
static void StartupPaths(const char *startupPath, char *backupPath, char *pattern,
                         char *copyPath)
{
    const char *name = strrchr(startupPath, '\\');
    int folder = name ? (int)(name - startupPath) : 0;
    snprintf(backupPath, TEXT_CAPACITY, "%.*s\\autoexec.tbr", folder, startupPath);
    snprintf(pattern, TEXT_CAPACITY, "%.*s\\TB??????", folder, startupPath);
    snprintf(copyPath, TEXT_CAPACITY, "%.*s\\TBXXXXXX", folder, startupPath);
}

// The line out of the file: 0 when it is out (now or by an earlier run), 1 with ErrorText, or
// -1 when the file was left alone (and the user told why).
static int TakeLineOut(const char *startupPath, const char *backupPath, const char *line)
{
    char pattern[TEXT_CAPACITY], copyPath[TEXT_CAPACITY];
    char ignored[TEXT_CAPACITY];
    StartupPaths(startupPath, ignored, pattern, copyPath);
    int completed =
        CompleteInterruptedUpdate(startupPath, backupPath, pattern, line, TakeOutStartupLine);
    if (completed != 0)
        return completed < 0;
    // An earlier run that was cut short after the renames left the backup and its copy.
    if (IsRewriteOf(startupPath, backupPath, line, TakeOutStartupLine))
        return 0;
    if (!_mktemp(copyPath)) {
        SetErrorText("Can't get temporary filename");
        return 1;
    }
    int written = GetFileAttributesA(startupPath) == INVALID_FILE_ATTRIBUTES
                      ? -1
                      : WriteCopyWithoutLine(startupPath, line, copyPath);
    if (written < 0)
        Notice(IDS_STARTUP_LEFT_ss, line, startupPath);
    if (written != 0)
        return written;

    if (GetFileAttributesA(backupPath) != INVALID_FILE_ATTRIBUTES) {
        char format[TEXT_CAPACITY], question[2 * TEXT_CAPACITY];
        LoadInstallString(IDS_OVERWRITE_s, format, sizeof format);
        snprintf(question, sizeof question, format, backupPath);
        if (UnattendedMode || InstallMessageBox(question, MB_YESNO) != IDYES) {
            remove(copyPath);
            Notice(IDS_STARTUP_BACKUP_EXISTS_sss, line, startupPath, backupPath);
            return -1;
        }
        if (!DeleteFileA(backupPath)) {
            remove(copyPath);
            SetErrorText("Can't delete %s", backupPath);
            return 1;
        }
    }
    return PutCopyInPlace(startupPath, copyPath, backupPath);
}

int RemoveStartupLine()
{
    char startupPath[TEXT_CAPACITY], installBackup[TEXT_CAPACITY], line[TEXT_CAPACITY];
    char backupPath[TEXT_CAPACITY], pattern[TEXT_CAPACITY], copyPath[TEXT_CAPACITY];
    RecordValue(RECORD_STARTUP_LINE, line, sizeof line);
    RecordValue(RECORD_STARTUP_FILE, startupPath, sizeof startupPath);
    RecordValue(RECORD_STARTUP_BACKUP, installBackup, sizeof installBackup);
    if (!line[0] || !startupPath[0])
        return 0;
    StartupPaths(startupPath, backupPath, pattern, copyPath);
    Report(IDS_LOG_STARTUP_ss, line, startupPath);
    int result = TakeLineOut(startupPath, backupPath, line);
    if (result != 0)
        return result > 0;
    // Both backups are redundant once the file is again the one from before the installation.
    if (installBackup[0] && SameBytes(startupPath, installBackup)) {
        Notice(IDS_STARTUP_RESTORED_ss, line, startupPath);
        const char *const backups[] = {installBackup, backupPath};
        for (const char *backup : backups)
            if (GetFileAttributesA(backup) != INVALID_FILE_ATTRIBUTES && !DeleteFileA(backup)) {
                SetErrorText("Can't delete %s", backup);
                return 1;
            }
    } else {
        Notice(IDS_STARTUP_REMOVED_sss, line, startupPath, backupPath);
    }
    return ForgetRecordValue(RECORD_STARTUP_LINE);
}
