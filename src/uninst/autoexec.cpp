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

// Whether two files hold the same bytes: 1 or 0, and 0 when one is missing; -1 with ErrorText
// when one cannot be read.
static int SameBytes(const char *first, const char *second)
{
    char *texts = (char *)malloc(2 * STARTUP_TEXT_LIMIT);
    size_t lengths[2] = {0, 0};
    const char *paths[2] = {first, second};
    int same = texts ? 1 : -1;
    for (int i = 0; i < 2 && same > 0; i++) {
        FILE *file = fopen(paths[i], "rb");
        if (!file) {
            same = GetFileAttributesA(paths[i]) == INVALID_FILE_ATTRIBUTES ? 0 : -1;
            continue;
        }
        lengths[i] = fread(texts + i * STARTUP_TEXT_LIMIT, 1, STARTUP_TEXT_LIMIT, file);
        if (ferror(file))
            same = -1;
        else if (lengths[i] == STARTUP_TEXT_LIMIT)
            same = 0;  // larger than any start-up file this program writes
        fclose(file);
    }
    if (same > 0)
        same = lengths[0] == lengths[1] &&
               memcmp(texts, texts + STARTUP_TEXT_LIMIT, lengths[0]) == 0;
    if (same < 0)
        SetErrorText("Can't read %s", texts ? first : second);
    free(texts);
    return same;
}

// How often the line stands in the start-up file as a whole line (0 when the file is
// missing); -1 with ErrorText when it cannot be read, -2 when it is too large.
static int CountInFile(const char *startupPath, const char *line)
{
    if (GetFileAttributesA(startupPath) == INVALID_FILE_ATTRIBUTES)
        return 0;
    char *text = (char *)malloc(STARTUP_TEXT_LIMIT);
    size_t length;
    int read = text ? ReadText(startupPath, text, STARTUP_TEXT_LIMIT, &length) : 1;
    int count = read == 0 ? CountStartupLine(line, text, length) : read == 2 ? -2 : -1;
    free(text);
    if (count == -1)
        SetErrorText("Can't read %s", startupPath);
    return count;
}

// Writes the start-up file's text without the line into a new committed copy: 0, or 1 with
// ErrorText.
static int WriteCopyWithoutLine(const char *startupPath, const char *line, const char *copyPath)
{
    char *buffers = (char *)malloc(2 * STARTUP_TEXT_LIMIT);
    char *text = buffers, *rewritten = buffers + STARTUP_TEXT_LIMIT;
    size_t length, rewrittenLength;
    if (!buffers || ReadText(startupPath, text, STARTUP_TEXT_LIMIT, &length) != 0 ||
        TakeOutStartupLine(line, text, length, rewritten, STARTUP_TEXT_LIMIT, &rewrittenLength)) {
        free(buffers);
        SetErrorText("Can't read %s", startupPath);
        return 1;
    }
    FILE *copy = fopen(copyPath, "w");
    int result = 1;
    if (!copy)
        SetErrorText("Can't create %s for writing", copyPath);
    else
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

// Takes the one line out: 0 when it is out, 1 with ErrorText, or -1 when the file was left
// alone because an older backup is in the way (the user was told).
static int TakeLineOut(const char *startupPath, const char *backupPath, const char *line,
                       char *copyPath)
{
    if (!_mktemp(copyPath)) {
        SetErrorText("Can't get temporary filename");
        return 1;
    }
    if (WriteCopyWithoutLine(startupPath, line, copyPath))
        return 1;
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

// What a run finds tells how far an earlier one got, so a second run needs no other trace:
// the line once in the file goes; with no line left, a file equal to the installation's
// backup is the file from before the installation, and both backups go (the installation's
// last, as the evidence). Then the record forgets the line.
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
    if (CompleteInterruptedUpdate(startupPath, backupPath, pattern, line, TakeOutStartupLine) < 0)
        return 1;
    int count = CountInFile(startupPath, line);
    if (count == -1)
        return 1;
    if (count > 1 || count == -2) {
        Notice(count > 1 ? IDS_STARTUP_LEFT_ss : IDS_STARTUP_LARGE_ss, line, startupPath);
        return 0;
    }
    if (count == 1) {
        int taken = TakeLineOut(startupPath, backupPath, line, copyPath);
        if (taken != 0)
            return taken > 0;
    }
    int restored = installBackup[0] ? SameBytes(startupPath, installBackup) : 0;
    if (restored < 0)
        return 1;
    if (restored) {
        const char *const backups[] = {backupPath, installBackup};
        for (const char *backup : backups)
            if (GetFileAttributesA(backup) != INVALID_FILE_ATTRIBUTES && !DeleteFileA(backup)) {
                SetErrorText("Can't delete %s", backup);
                return 1;
            }
        Notice(IDS_STARTUP_RESTORED_ss, line, startupPath);
    } else {
        int ours = count == 1 || IsRewriteOf(startupPath, backupPath, line, TakeOutStartupLine);
        if (ours < 0)
            return 1;
        if (ours)
            Notice(IDS_STARTUP_REMOVED_sss, line, startupPath, backupPath);
        else
            Notice(IDS_STARTUP_GONE_ss, line, startupPath);
    }
    return ForgetRecordValue(RECORD_STARTUP_LINE);
}
