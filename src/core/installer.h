// Installer core: the shared installer state, the installation sequence and the base directory.
#ifndef SETUP_INSTALLER_H
#define SETUP_INSTALLER_H

#include <windows.h>

#include "paths.h"

// ---- Installer state (state.cpp). Zero at start; every Part reads and writes it directly.
enum { TEXT_CAPACITY = 256, EXTRACTOR_PATH_CAPACITY = 512 };

extern HINSTANCE InstanceHandle;
extern char StartDirectory[TEXT_CAPACITY];
extern char BootDrive[TEXT_CAPACITY];
extern char SourceDirectory[TEXT_CAPACITY];
extern char BaseDirectory[TEXT_CAPACITY];
extern char ViewerSubdirectory[TEXT_CAPACITY];
extern char DialogText[TEXT_CAPACITY];
extern char ErrorText[TEXT_CAPACITY];
extern char ExtractorPath[EXTRACTOR_PATH_CAPACITY];
extern int UnattendedMode;
extern int NewShell;
extern HWND ProgressWindow;

// Writes a one-line reason into ErrorText, printf-style, cut to fit.
void SetErrorText(const char *format, ...);

// The archives of the distribution in the order of extraction: the viewer's, then the three
// of the interpreter.
enum { ARCHIVE_COUNT = 4, FIRST_INTERPRETER_ARCHIVE = 1 };
extern const char *const ArchiveNames[ARCHIVE_COUNT];

// ---- The record of an installation, beside the uninstaller in the viewer directory: the
// packing list of the distribution (a section per archive, a line per file with its size,
// MS-DOS date and time and CRC-32) and what the run did, in section [Installed]: the base
// directory, each archive's destination or "kept", the start-up file, its backup and the line
// added to it (none when no line was added), the group and its shell form, the settings entry.
#define UNINSTALLER_FILE "uninst.exe"
#define PACKING_LIST_FILE "packlist.ini"
#define RECORD_FILE "uninst.ini"
#define RECORD_SECTION "Installed"
#define RECORD_BASE "BaseDirectory"
#define RECORD_KEPT "kept"
#define RECORD_STARTUP_FILE "StartupFile"
#define RECORD_STARTUP_BACKUP "StartupBackup"
#define RECORD_STARTUP_LINE "StartupLine"
#define RECORD_GROUP "Group"
#define RECORD_SHELL "Shell"
#define RECORD_SETTINGS_FILE "SettingsFile"
#define RECORD_SETTINGS_SECTION "SettingsSection"
#define RECORD_SETTINGS_KEY "SettingsKey"

// ---- Start-up (startup.cpp)
// Takes the argument text of the command line: quotes dropped, at most 255 characters
// kept into BaseDirectory; any non-empty text switches on UnattendedMode.
void TakeCommandLine(const char *arguments);
// Fills NewShell, SourceDirectory, StartDirectory and BootDrive.
void InitEnvironment();

// ---- Installation sequence (install.cpp)
int RunInstall();
int CopyFileBinary(const char *destination, const char *source);
int InterpreterInstalled();
int WriteViewerSettings(const char *fileName);

// ---- Base directory (basedir.cpp)
int DirectoryMissing(const char *path);
int MakeDirectoryPath(const char *path);
int ChooseBaseDirectory();

#endif
