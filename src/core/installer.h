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
