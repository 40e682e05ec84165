// Rewriting the start-up file, as both programs do it: a whole copy committed to the disk
// before any name changes, renamed into place with the old file kept as the backup, and an
// update cut short between the two renames finished by the next run.
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "config.h"
#include "installer.h"

int AddStartupLine(const char *line, const char *text, size_t length, char *rewritten,
                   size_t capacity, size_t *rewrittenLength)
{
    int lineOpen = length > 0 && text[length - 1] != '\n';
    size_t needed = length + lineOpen + strlen(line) + 1;
    if (needed > capacity)
        return 1;
    memcpy(rewritten, text, length);
    *rewrittenLength = length;
    if (lineOpen)
        rewritten[(*rewrittenLength)++] = '\n';
    memcpy(rewritten + *rewrittenLength, line, strlen(line));
    *rewrittenLength += strlen(line);
    rewritten[(*rewrittenLength)++] = '\n';
    return 0;
}

// Counts the whole lines equal to line; the last one found spans [*found, *after).
static int FindStartupLine(const char *line, const char *text, size_t length, size_t *found,
                           size_t *after)
{
    size_t lineLength = strlen(line);
    int count = 0;
    for (size_t start = 0; start < length;) {
        const char *end = (const char *)memchr(text + start, '\n', length - start);
        size_t stop = end ? (size_t)(end - text) : length;
        if (stop - start == lineLength && memcmp(text + start, line, lineLength) == 0) {
            count++;
            *found = start;
            *after = end ? stop + 1 : stop;
        }
        start = stop + 1;
    }
    return count;
}

int CountStartupLine(const char *line, const char *text, size_t length)
{
    size_t found, after;
    return FindStartupLine(line, text, length, &found, &after);
}

// A text holding the line other than exactly once has no rewrite: 1.
int TakeOutStartupLine(const char *line, const char *text, size_t length, char *rewritten,
                       size_t capacity, size_t *rewrittenLength)
{
    size_t found = 0, at = 0;
    if (FindStartupLine(line, text, length, &found, &at) != 1 || length - (at - found) > capacity)
        return 1;
    memcpy(rewritten, text, found);
    memcpy(rewritten + found, text + at, length - at);
    *rewrittenLength = length - (at - found);
    return 0;
}

int ReadText(const char *path, char *text, size_t capacity, size_t *length)
{
    FILE *file = fopen(path, "r");
    if (!file)
        return 1;
    *length = fread(text, 1, capacity, file);
    int result = ferror(file) ? 1 : *length < capacity ? 0 : 2;
    fclose(file);
    return result;
}

// A file that is missing, or larger than any start-up file, is no rewrite; one that cannot be
// read makes the answer unknown.
static int ReadIfThere(const char *path, char *text, size_t *length)
{
    int result = ReadText(path, text, STARTUP_TEXT_LIMIT, length);
    if (result == 1 && GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
        result = 2;
    if (result == 1)
        SetErrorText("Can't read %s", path);
    return result;
}

int IsRewriteOf(const char *candidate, const char *original, const char *line,
                StartupRewrite rewrite)
{
    char *buffers = (char *)malloc(3 * STARTUP_TEXT_LIMIT);
    if (!buffers) {
        SetErrorText("Can't allocate memory for %s", candidate);
        return -1;
    }
    char *text = buffers, *expected = buffers + STARTUP_TEXT_LIMIT;
    char *found = buffers + 2 * STARTUP_TEXT_LIMIT;
    size_t length, expectedLength, foundLength;
    int read = ReadIfThere(original, text, &length);
    if (read == 0)
        read = ReadIfThere(candidate, found, &foundLength);
    int same = read == 1 ? -1 : 0;
    if (read == 0)
        same = rewrite(line, text, length, expected, STARTUP_TEXT_LIMIT, &expectedLength) == 0 &&
               foundLength == expectedLength && memcmp(expected, found, foundLength) == 0;
    free(buffers);
    return same;
}

int CompleteInterruptedUpdate(const char *startupPath, const char *backupPath, const char *pattern,
                              const char *line, StartupRewrite rewrite)
{
    if (GetFileAttributesA(startupPath) != INVALID_FILE_ATTRIBUTES)
        return 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    char candidate[TEXT_CAPACITY];
    const char *name = strrchr(pattern, '\\');
    size_t folderLength = name ? (size_t)(name - pattern) : 0;
    int result = 0;
    do {
        if (strlen(found.cFileName) != 8 || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        snprintf(candidate, sizeof candidate, "%.*s\\%s", (int)folderLength, pattern,
                 found.cFileName);
        int rewritten = IsRewriteOf(candidate, backupPath, line, rewrite);
        if (rewritten < 0)
            result = -1;
        else if (rewritten) {
            result = MoveFileA(candidate, startupPath) ? 1 : -1;
            if (result < 0)
                SetErrorText("Error renaming %s to %s", candidate, startupPath);
        }
    } while (result == 0 && FindNextFileA(search, &found));
    FindClose(search);
    return result;
}

// The copy is forced to the disk before any name changes: a disk cache may write the renames
// first, and a power cut in between would leave the start-up file on clusters never written.
// A full disk shows up here at the latest.
int CommitCopy(FILE *copy, const char *copyPath, int failed)
{
    if (!failed)
        failed = fflush(copy) != 0 || _commit(_fileno(copy)) != 0;
    failed |= fclose(copy) != 0;
    if (failed) {
        remove(copyPath);
        SetErrorText("Can't write %s", copyPath);
    }
    return failed;
}

int PutCopyInPlace(const char *startupPath, const char *copyPath, const char *backupPath)
{
    if (!MoveFileA(startupPath, backupPath)) {
        SetErrorText("Error renaming %s to %s", startupPath, backupPath);
        remove(copyPath);
        return 1;
    }
    if (!MoveFileA(copyPath, startupPath)) {
        SetErrorText("Error renaming %s to %s", copyPath, startupPath);
        // Never leave the machine without a start-up file: the old one goes back and the copy
        // goes. Where even that fails, the next run finishes the update.
        if (MoveFileA(backupPath, startupPath))
            remove(copyPath);
        return 1;
    }
    return 0;
}
