// Path texts of the installer: joins and the directory walk, free of any platform call.
#ifndef SETUP_PATHS_H
#define SETUP_PATHS_H

#include <stddef.h>

// Copies text into a buffer of the given capacity; 0 when it fit, 1 when it was cut.
int CopyText(char *buffer, size_t capacity, const char *text);
// Appends text; 0 when it fit, 1 when it was cut.
int AppendText(char *buffer, size_t capacity, const char *text);

// The base path: the base directory, with a backslash added to a bare drive such as d:.
int BuildBasePath(char *buffer, size_t capacity, const char *baseDirectory);
// A subdirectory of the base path, joined with one backslash unless the base path is
// empty or already ends in one.
int BuildBaseSubdirectory(char *buffer, size_t capacity, const char *baseDirectory,
                          const char *subdirectory);

// The two operations the directory walk uses: 1 when the path cannot be entered;
// 0 when one directory was created.
typedef int (*DirectoryProbe)(const char *path);
typedef int (*DirectoryCreate)(const char *path);
// Creates a drive (d:\...) or network (\\server\share\...) path level by level from its
// root: 0 when the whole path can be entered afterwards, 1 when it cannot, -1 when the
// shape is refused or a level cannot be created.
int WalkDirectoryPath(const char *path, DirectoryProbe missing, DirectoryCreate create);

#endif
