// Archive extraction: the binding to the unzip library loaded at run time, and the
// extraction of one archive with disk prompts and cancel detection.
#ifndef SETUP_EXTRACT_H
#define SETUP_EXTRACT_H

#include <windows.h>

// The two zero-filled blocks handed to the library while it is loaded: the archive path
// and its directory (1641 bytes), and the 88-byte control block of 32-bit fields.
extern char *ExtractorNameBlock;
extern DWORD *ExtractorControlBlock;
// The longest archive path the name block takes.
enum { EXTRACTOR_MAX_ARCHIVE_PATH = 127 };

// Loads the library and its two blocks; 0, or -1 with nothing left loaded.
int LoadExtractor(const char *libraryPath, HINSTANCE instance, HWND window, DWORD reserved);
// Extracts one archive into the current directory; the library's result.
int RunExtractor(const char *archivePath);
// Releases whatever is loaded; harmless when nothing is. Always 0.
int UnloadExtractor();

// The callbacks handed to the library (the platform's default calling convention).
extern "C" int ExtractorPrintCallback(void *ignored, int length, const char *text);
extern "C" void ExtractorEmptyCallback();

// Finds the archive (asking for a disk when it is missing) and extracts it into the
// destination: 0, 1 after a cancelled prompt, -1 when the progress window was closed,
// or the library's own non-zero result.
int ExtractArchive(const char *archiveName, const char *destination);

#endif
