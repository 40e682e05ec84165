// The installer state shared by every part of the program: zero at start, never freed.
#include <stdarg.h>
#include <stdio.h>

#include "installer.h"

HINSTANCE InstanceHandle;
char StartDirectory[TEXT_CAPACITY];
char BootDrive[TEXT_CAPACITY];
char SourceDirectory[TEXT_CAPACITY];
char BaseDirectory[TEXT_CAPACITY];
char ViewerSubdirectory[TEXT_CAPACITY];
char DialogText[TEXT_CAPACITY];
char ErrorText[TEXT_CAPACITY];
char ExtractorPath[EXTRACTOR_PATH_CAPACITY];
int UnattendedMode;
int NewShell;
HWND ProgressWindow;

const char *const ArchiveNames[ARCHIVE_COUNT] = {"tabrin.zip", "cv403ini.zip", "cv403w32.zip",
                                                 "cv403fn1.zip"};

void SetErrorText(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(ErrorText, sizeof ErrorText, format, arguments);
    va_end(arguments);
}
