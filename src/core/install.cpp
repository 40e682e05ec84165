// The installation sequence: every stage in order, stopping at the first failure.
#include <direct.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "config.h"
#include "dialogs.h"
#include "extract.h"
#include "installer.h"
#include "progress.h"
#include "resource.h"

static const char ExtractorFileName[] = "wizunz32.dll";
static const char InterpreterSubdirectory[] = "cv4.03";
static const char InterpreterVersion[] = "4.03";
enum { COPY_BUFFER_SIZE = 16384, PATH_CAPACITY = 1024 };

// Two names for one file: the same volume and file index, whatever the spelling. The files
// are opened with the sharing every system accepts: Windows 95 refuses FILE_SHARE_DELETE.
static HANDLE OpenToCompare(const char *name)
{
    return CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                       OPEN_EXISTING, 0, NULL);
}

static int SameFile(const char *first, const char *second)
{
    BY_HANDLE_FILE_INFORMATION firstInfo, secondInfo;
    int same = 0;
    HANDLE a = OpenToCompare(first);
    HANDLE b = OpenToCompare(second);
    if (a != INVALID_HANDLE_VALUE && b != INVALID_HANDLE_VALUE &&
        GetFileInformationByHandle(a, &firstInfo) && GetFileInformationByHandle(b, &secondInfo))
        same = firstInfo.dwVolumeSerialNumber == secondInfo.dwVolumeSerialNumber &&
               firstInfo.nFileIndexHigh == secondInfo.nFileIndexHigh &&
               firstInfo.nFileIndexLow == secondInfo.nFileIndexLow;
    if (a != INVALID_HANDLE_VALUE)
        CloseHandle(a);
    if (b != INVALID_HANDLE_VALUE)
        CloseHandle(b);
    return same;
}

int CopyFileBinary(const char *destination, const char *source)
{
    FILE *in = fopen(source, "rb");
    if (!in) {
        SetErrorText("Can't open %s for reading", source);
        return 1;
    }
    FILE *out = fopen(destination, "wb");
    if (!out) {
        SetErrorText("Can't open %s for writing", destination);
        fclose(in);
        return 1;
    }
    char *buffer = (char *)malloc(COPY_BUFFER_SIZE);
    if (!buffer) {
        fclose(in);
        fclose(out);
        SetErrorText("Can't allocate memory for copy buffer");
        return 1;
    }

    // A short write (a full disk) or a failed read would leave a truncated library that
    // loads badly later: detect both, and the close that flushes the last block.
    int result = 0;
    size_t count;
    while ((count = fread(buffer, 1, COPY_BUFFER_SIZE, in)) > 0) {
        if (fwrite(buffer, 1, count, out) != count) {
            SetErrorText("Can't write %s", destination);
            result = 1;
            break;
        }
    }
    if (result == 0 && ferror(in)) {
        SetErrorText("Can't read %s", source);
        result = 1;
    }
    free(buffer);
    if (fclose(out) != 0 && result == 0) {
        SetErrorText("Can't write %s", destination);
        result = 1;
    }
    fclose(in);
    if (result != 0)
        remove(destination);
    return result;
}

static int FileExists(const char *directory, const char *name)
{
    char path[PATH_CAPACITY];
    snprintf(path, sizeof path, "%s%s", directory, name);
    FILE *file = fopen(path, "rb");
    if (!file)
        return 0;
    fclose(file);
    return 1;
}

int InterpreterInstalled()
{
    char directory[PATH_CAPACITY];
    if (BuildBaseSubdirectory(directory, sizeof directory, BaseDirectory, InterpreterSubdirectory) ||
        AppendText(directory, sizeof directory, "\\"))
        return 0;
    return FileExists(directory, "cvdll32.dll") && FileExists(directory, "cv_init.ps");
}

// Forces a file's data out of the disk cache: 0, or 1 when it cannot be opened or flushed.
static int CommitToDisk(const char *path)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    BOOL flushed = FlushFileBuffers(file);
    CloseHandle(file);
    return !flushed;
}

// The settings file lies in the Windows directory. Windows 3.1 and 95 keep settings files in
// a cache and write the entry out only when it is flushed; the flush call has no failure to
// act on (Wine, which writes each entry at once and has no such cache, always answers it with
// FALSE), so its answer is ignored and the file is then forced to the disk, which does fail
// where the entry cannot be kept. A failure is reported with the file's full path.
int WriteViewerSettings(const char *fileName)
{
    char path[PATH_CAPACITY];
    UINT length = GetWindowsDirectoryA(path, sizeof path);
    if (length == 0 || length >= sizeof path || AppendText(path, sizeof path, "\\"))
        path[0] = '\0';
    AppendText(path, sizeof path, fileName);
    if (WritePrivateProfileStringA("Options", "Configured", "0", fileName)) {
        WritePrivateProfileStringA(NULL, NULL, NULL, fileName);
        if (CommitToDisk(path) == 0)
            return 0;
    }
    SetErrorText("Can't write %s", path);
    return 1;
}

// Copies the unzip library from beside the setup program into the viewer directory.
// When both names are one file (the setup program runs from that very directory), the
// library is left where it is and *keepLibrary tells the clean-up not to delete it.
static int CopyExtractor(int *keepLibrary)
{
    char source[PATH_CAPACITY];
    snprintf(source, sizeof source, "%s%s", SourceDirectory, ExtractorFileName);

    if (snprintf(ExtractorPath, sizeof ExtractorPath, "%s\\%s", BaseDirectory,
                 ViewerSubdirectory) >= (int)sizeof ExtractorPath) {
        SetErrorText("Base directory too long: %s", BaseDirectory);
        return 1;
    }
    _mkdir(ExtractorPath);
    if (AppendText(ExtractorPath, sizeof ExtractorPath, "\\") ||
        AppendText(ExtractorPath, sizeof ExtractorPath, ExtractorFileName)) {
        SetErrorText("Base directory too long: %s", BaseDirectory);
        return 1;
    }
    if (SameFile(ExtractorPath, source)) {
        *keepLibrary = 1;
        return 0;
    }
    return CopyFileBinary(ExtractorPath, source);
}

static int ExtractArchives(const char *basePath)
{
    char viewerDirectory[PATH_CAPACITY], interpreterDirectory[PATH_CAPACITY];
    BuildBaseSubdirectory(viewerDirectory, sizeof viewerDirectory, BaseDirectory,
                          ViewerSubdirectory);
    BuildBaseSubdirectory(interpreterDirectory, sizeof interpreterDirectory, BaseDirectory,
                          InterpreterSubdirectory);

    _mkdir(viewerDirectory);
    int result = ExtractArchive("tabrin.zip", viewerDirectory);
    if (result != 0)
        return result;

    if (InterpreterInstalled()) {
        char format[TEXT_CAPACITY], question[2 * TEXT_CAPACITY];
        LoadInstallString(IDS_SKIP_INTERPRETER_s, format, sizeof format);
        snprintf(question, sizeof question, format, InterpreterVersion);
        if (InstallMessageBox(question, MB_YESNO) == IDYES)
            return 0;
    }
    result = ExtractArchive("cv403ini.zip", basePath);
    if (result == 0)
        result = ExtractArchive("cv403w32.zip", basePath);
    if (result == 0)
        result = ExtractArchive("cv403fn1.zip", interpreterDirectory);
    return result;
}

// Keeps the progress window up after a failure until the user closes it.
static void WaitForProgressWindow()
{
    LogAppendText("unzip error");
    RefreshProgressLog(ProgressWindow);
    MSG message;
    while (ProgressWindow && IsWindow(ProgressWindow) && GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

int RunInstall()
{
    InitEnvironment();
    int result = ShowIntroDialogs();
    if (result == 0)
        result = ChooseBaseDirectory();
    int keepLibrary = 0;
    if (result == 0)
        result = CopyExtractor(&keepLibrary);
    if (result != 0)
        return result;

    ProgressWindow = ShowProgressWindow();
    result = LoadExtractor(ExtractorPath, InstanceHandle, ProgressWindow, 0);

    // BaseDirectory holds at most 255 characters, so its derived paths always fit.
    char basePath[PATH_CAPACITY];
    BuildBasePath(basePath, sizeof basePath, BaseDirectory);
    if (result == 0)
        result = ExtractArchives(basePath);

    SetCurrentDirectoryA(StartDirectory);
    if (result != 0)
        WaitForProgressWindow();
    CloseProgressWindow();
    UnloadExtractor();
    if (!keepLibrary)
        DeleteFileA(ExtractorPath);

    if (result == 0)
        result = UpdateStartupFile();
    if (result == 0)
        result = WriteViewerSettings("tabrin32.ini");
    if (result == 0)
        result = CreateProgramGroup();
    if (result == 0) {
        char message[TEXT_CAPACITY];
        LoadInstallString(IDS_SUCCESS, message, sizeof message);
        if (!UnattendedMode)
            InstallMessageBox(message, MB_OK);
    }
    return result;
}
