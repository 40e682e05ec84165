// What the failing disk (failing_disk.dll) and the programs that start a program on it share.
#ifndef TEST_FAILING_DISK_H
#define TEST_FAILING_DISK_H

// The environment variables that configure the disk in the process it is loaded into:
// "SIDE MODE N" (write|read, once|sticky|cut, N from 1), and the file that receives one line
// per operation, "SIDE N MODULE FUNCTION DETAIL", with " FAILED" after each one that failed.
#define FAILING_DISK_VARIABLE "FAILING_DISK"
#define FAILING_DISK_LOG_VARIABLE "FAILING_DISK_LOG"

// The exit code of a process that the disk ended at a power cut.
enum { FAILING_DISK_CUT_EXIT = 0xDEAD };

#endif
