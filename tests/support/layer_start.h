// Starting a program with a layer of the tests loaded into it before its entry point runs:
// a library (the failing disk, the Windows 95 kernel) that rewrites the program's imports.
#ifndef TEST_LAYER_START_H
#define TEST_LAYER_START_H

#include <windows.h>

#include <string>

// Starts a command line with the library (from beside this program) loaded, in the given
// environment block (NULL: this one). The program then runs on its own; false, with the
// reason in *error, when it could not be started or the library not loaded.
bool StartWithLayer(const std::string &library, std::string command, char *environment,
                    PROCESS_INFORMATION *process, std::string *error);

#endif
