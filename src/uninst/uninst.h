// The uninstaller: takes back what the record beside it says an installation put in place,
// reporting each step in the progress window.
#ifndef SETUP_UNINST_H
#define SETUP_UNINST_H

#include <windows.h>

#include <stddef.h>

enum { PATH_CAPACITY = 1024, KEPT_CAPACITY = 1024 };

// ---- The record and the uninstaller's own place (record.cpp)
extern char UninstallerPath[PATH_CAPACITY];
extern char UninstallerDirectory[PATH_CAPACITY];
extern char RecordPath[PATH_CAPACITY];
// Finds the record beside the program: 0, or 1 when there is none.
int FindRecord();
// A value of the record's [Installed] section; empty when it is absent.
void RecordValue(const char *key, char *value, size_t capacity);
// Removes a value and forces the record to the disk: 0, or 1 with ErrorText.
int ForgetRecordValue(const char *key);
// The destination an archive was extracted into; empty when it was kept or not extracted.
void ArchiveDestination(int archive, char *destination, size_t capacity);
// The packing list's lines of an archive ("name=size,date,time,crc", each NUL-terminated,
// an empty one last), in a block the caller frees; NULL with ErrorText when unreadable.
char *ArchiveFiles(int archive);

// ---- What the user is told (remove.cpp)
// A sentence of the string table, formatted, into the progress log.
void Report(UINT id, ...);
// The same, and in interactive mode in a message box too.
void Tell(UINT id, ...);
// The same, and kept for the closing message.
void Notice(UINT id, ...);
// Runs the whole removal: 0 when done, 1 when it failed or was cancelled.
int RunRemoval();

// ---- The installed files (files.cpp)
// Counts the files of the archives first to last that the record says were extracted.
int CountRecordedFiles(int first, int last);
// Deletes each recorded file of the archives first to last that is as installed; a changed
// one stays and is listed. Then the folders left empty go. 0, or 1 with ErrorText.
int RemoveRecordedFiles(int first, int last);
// The changed files kept so far, one per line.
extern char KeptFiles[KEPT_CAPACITY];

// ---- The start-up file (autoexec.cpp)
// Takes the recorded SET TEMP line out of the start-up file, or leaves the file alone and says
// why. 0, or 1 with ErrorText.
int RemoveStartupLine();

// ---- Itself, last (restart.cpp)
// Has the system remove the uninstaller, the record and the folders left at the next restart,
// and says so in closing (or what is left, where the system cannot). 0, or 1 with ErrorText.
int RemoveAtRestart();

#endif
