// File helpers for tests on the Wine drive C:: whole-file reads and writes, trees.
#ifndef TEST_WINE_FILES_H
#define TEST_WINE_FILES_H

#include <string>

std::string ReadWholeFile(const std::string &path);  // the bytes, empty when unreadable
bool WriteWholeFile(const std::string &path, const std::string &bytes);
bool FileExists(const std::string &path);
void RemoveTree(const std::string &path);            // a file or a directory with contents
std::string CurrentDirectory();
// The directory of the running test program, ending in a backslash.
std::string ProgramDirectory();

#endif
