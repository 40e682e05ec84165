// What the failing disk (failing_disk.dll) and the programs that start setup.exe on it share.
#ifndef TEST_FAILING_DISK_H
#define TEST_FAILING_DISK_H

#include <windows.h>

#include <string>

// The environment variables that configure the disk in the process it is loaded into:
// "SIDE MODE N" (write|read, once|sticky|cut, N from 1), and the file that receives one line
// per operation, "SIDE N MODULE FUNCTION DETAIL", with " FAILED" after each one that failed.
#define FAILING_DISK_VARIABLE "FAILING_DISK"
#define FAILING_DISK_LOG_VARIABLE "FAILING_DISK_LOG"

// The exit code of a process that the disk ended at a power cut.
enum { FAILING_DISK_CUT_EXIT = 0xDEAD };

// Starts a command line with failing_disk.dll (from beside this program) loaded before the
// program's entry point runs, in the given environment block (NULL: this one). The program
// then runs on its own; false when it could not be started or the library not loaded.
bool StartOnFailingDisk(std::string command, char *environment, PROCESS_INFORMATION *process,
                        std::string *error);

#endif
