// Path texts: bounded copies and joins, and the level-by-level directory walk.
#include <string.h>

#include "paths.h"

int CopyText(char *buffer, size_t capacity, const char *text)
{
    if (capacity == 0)
        return 1;
    size_t length = strlen(text);
    int cut = length >= capacity;
    if (cut)
        length = capacity - 1;
    memcpy(buffer, text, length);
    buffer[length] = '\0';
    return cut;
}

int AppendText(char *buffer, size_t capacity, const char *text)
{
    size_t used = strnlen(buffer, capacity);
    if (used >= capacity)
        return 1;
    return CopyText(buffer + used, capacity - used, text);
}

int BuildBasePath(char *buffer, size_t capacity, const char *baseDirectory)
{
    int cut = CopyText(buffer, capacity, baseDirectory);
    if (strlen(baseDirectory) == 2)
        cut |= AppendText(buffer, capacity, "\\");
    return cut;
}

int BuildBaseSubdirectory(char *buffer, size_t capacity, const char *baseDirectory,
                          const char *subdirectory)
{
    int cut = BuildBasePath(buffer, capacity, baseDirectory);
    size_t length = strlen(buffer);
    if (length > 0 && buffer[length - 1] != '\\')
        cut |= AppendText(buffer, capacity, "\\");
    return cut | AppendText(buffer, capacity, subdirectory);
}

static int IsAsciiLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

int WalkDirectoryPath(const char *path, DirectoryProbe missing, DirectoryCreate create)
{
    size_t length = strlen(path);
    if (length < 3)
        return -1;

    size_t rootLength;
    if (IsAsciiLetter(path[0]) && path[1] == ':' && path[2] == '\\') {
        rootLength = 3;
    } else if (path[0] == '\\' && path[1] == '\\') {
        const char *serverEnd = strchr(path + 2, '\\');
        if (!serverEnd)
            return -1;
        const char *shareEnd = strchr(serverEnd + 1, '\\');
        if (!shareEnd)
            return -1;
        rootLength = (size_t)(shareEnd - path);
    } else {
        return -1;
    }

    // Each level is a prefix of the path, so it always fits a copy of the path.
    char level[1024];
    if (length >= sizeof level)
        return -1;
    memcpy(level, path, rootLength);
    level[rootLength] = '\0';
    size_t search = path[0] == '\\' ? rootLength + 1 : rootLength;

    for (;;) {
        if (missing(level) && create(level) != 0)
            return -1;
        if (search >= length)
            return missing(path);
        const char *next = strchr(path + search, '\\');
        size_t levelLength = next ? (size_t)(next - path) : length;
        memcpy(level, path, levelLength);
        level[levelLength] = '\0';
        search = next ? levelLength + 1 : length + 1;
    }
}
