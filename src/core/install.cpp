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
static const char SettingsFileName[] = "tabrin32.ini";
static const char SettingsSection[] = "Options";
static const char SettingsKey[] = "Configured";
enum { COPY_BUFFER_SIZE = 16384, PATH_CAPACITY = 1024 };

// Whether this run kept an interpreter that was already there.
static int InterpreterKept;

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

// The settings file lies in the Windows directory; a failure is reported with its full path.
int WriteViewerSettings(const char *fileName)
{
    char path[PATH_CAPACITY];
    if (SettingsFilePath(fileName, path, sizeof path))
        CopyText(path, sizeof path, fileName);
    if (WritePrivateProfileStringA(SettingsSection, SettingsKey, "0", fileName) &&
        CommitSettings(fileName, path) == 0)
        return 0;
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
    int result = ExtractArchive(ArchiveNames[0], viewerDirectory);
    if (result != 0)
        return result;

    if (InterpreterInstalled()) {
        char format[TEXT_CAPACITY], question[2 * TEXT_CAPACITY];
        LoadInstallString(IDS_SKIP_INTERPRETER_s, format, sizeof format);
        snprintf(question, sizeof question, format, InterpreterVersion);
        InterpreterKept = InstallMessageBox(question, MB_YESNO) == IDYES;
        if (InterpreterKept)
            return 0;
    }
    result = ExtractArchive(ArchiveNames[1], basePath);
    if (result == 0)
        result = ExtractArchive(ArchiveNames[2], basePath);
    if (result == 0)
        result = ExtractArchive(ArchiveNames[3], interpreterDirectory);
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

// Gives a committed temporary copy its name, in place of an earlier file of that name.
static int PutInPlace(const char *temporaryPath, const char *path)
{
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES && !DeleteFileA(path)) {
        SetErrorText("Can't delete %s", path);
        return 1;
    }
    if (!MoveFileA(temporaryPath, path)) {
        SetErrorText("Error renaming %s to %s", temporaryPath, path);
        return 1;
    }
    return 0;
}

static int WriteRecordEntry(const char *record, const char *key, const char *value)
{
    if (WritePrivateProfileStringA(RECORD_SECTION, key, value, record))
        return 0;
    SetErrorText("Can't write %s", record);
    return 1;
}

// What this run did, added to the copy of the packing list. An interpreter that this run kept
// but an earlier installation put there, as its record says, is still the installation's.
static int WriteRecord(const char *record, const char *earlierRecord, const char *basePath,
                       const char *viewerDirectory)
{
    char interpreterDirectory[PATH_CAPACITY], line[TEXT_CAPACITY], path[PATH_CAPACITY];
    BuildBaseSubdirectory(interpreterDirectory, sizeof interpreterDirectory, BaseDirectory,
                          InterpreterSubdirectory);
    const char *destinations[ARCHIVE_COUNT] = {viewerDirectory, basePath, basePath,
                                               interpreterDirectory};
    int failed = WriteRecordEntry(record, RECORD_BASE, BaseDirectory);
    for (int i = 0; i < ARCHIVE_COUNT && !failed; i++) {
        const char *destination = destinations[i];
        if (i >= FIRST_INTERPRETER_ARCHIVE && InterpreterKept) {
            GetPrivateProfileStringA(RECORD_SECTION, ArchiveNames[i], RECORD_KEPT, path,
                                     sizeof path, earlierRecord);
            destination = lstrcmpiA(path, destinations[i]) == 0 ? path : RECORD_KEPT;
        }
        failed = WriteRecordEntry(record, ArchiveNames[i], destination);
    }
    snprintf(path, sizeof path, "%s\\autoexec.bat", BootDrive);
    failed = failed || WriteRecordEntry(record, RECORD_STARTUP_FILE, path);
    snprintf(path, sizeof path, "%s\\autoexec.cv", BootDrive);
    failed = failed || WriteRecordEntry(record, RECORD_STARTUP_BACKUP, path);
    FormatTempLine(line, sizeof line);
    int added = failed ? 0 : StartupFileHasTempLine();
    failed = failed || added < 0 ||
             (added && WriteRecordEntry(record, RECORD_STARTUP_LINE, line));
    failed = failed || WriteRecordEntry(record, RECORD_GROUP, PROGRAM_GROUP) ||
             WriteRecordEntry(record, RECORD_SHELL, NewShell ? "new" : "old") ||
             WriteRecordEntry(record, RECORD_SETTINGS_FILE, SettingsFileName) ||
             WriteRecordEntry(record, RECORD_SETTINGS_SECTION, SettingsSection) ||
             WriteRecordEntry(record, RECORD_SETTINGS_KEY, SettingsKey);
    if (!failed && CommitSettings(record, record) != 0) {
        SetErrorText("Can't write %s", record);
        failed = 1;
    }
    return failed;
}

// Copies of the uninstaller and the packing list in the viewer directory; empty when the
// distribution has none.
static char UninstallerCopy[PATH_CAPACITY], RecordCopy[PATH_CAPACITY];

// The uninstaller and the packing list are copied from beside the setup program together
// with the library, while the first disk is in the drive, under temporary names in the viewer
// directory; a distribution without them installs without either. 0, or 1 with both gone.
static int CopyUninstaller()
{
    char uninstallerSource[PATH_CAPACITY], packingList[PATH_CAPACITY];
    snprintf(uninstallerSource, sizeof uninstallerSource, "%s%s", SourceDirectory,
             UNINSTALLER_FILE);
    snprintf(packingList, sizeof packingList, "%s%s", SourceDirectory, PACKING_LIST_FILE);
    if (GetFileAttributesA(uninstallerSource) == INVALID_FILE_ATTRIBUTES ||
        GetFileAttributesA(packingList) == INVALID_FILE_ATTRIBUTES)
        return 0;
    char viewerDirectory[PATH_CAPACITY];
    BuildBaseSubdirectory(viewerDirectory, sizeof viewerDirectory, BaseDirectory,
                          ViewerSubdirectory);
    snprintf(UninstallerCopy, sizeof UninstallerCopy, "%s\\uninst.ex$", viewerDirectory);
    snprintf(RecordCopy, sizeof RecordCopy, "%s\\uninst.in$", viewerDirectory);
    int result = CopyFileBinary(UninstallerCopy, uninstallerSource);
    if (result == 0 && CommitToDisk(UninstallerCopy) != 0) {
        SetErrorText("Can't write %s", UninstallerCopy);
        result = 1;
    }
    if (result == 0)
        result = CopyFileBinary(RecordCopy, packingList);
    if (result != 0) {
        DeleteFileA(UninstallerCopy);
        UninstallerCopy[0] = '\0';
    }
    return result;
}

// The last stage: the record of the run written into the copy of the packing list, and both
// copies committed to the disk before they take their names; then the entry in Add/Remove
// Programs, whose failure is no failure of the installation. After a failure of the run, or
// of this stage, neither the uninstaller nor the record is left, and the next run puts both
// in place.
static int InstallUninstaller(int result, const char *basePath)
{
    if (!UninstallerCopy[0])
        return result;
    char viewerDirectory[PATH_CAPACITY], uninstaller[PATH_CAPACITY], record[PATH_CAPACITY];
    BuildBaseSubdirectory(viewerDirectory, sizeof viewerDirectory, BaseDirectory,
                          ViewerSubdirectory);
    snprintf(uninstaller, sizeof uninstaller, "%s\\%s", viewerDirectory, UNINSTALLER_FILE);
    snprintf(record, sizeof record, "%s\\%s", viewerDirectory, RECORD_FILE);
    int failed = 0;
    // The record first: a record without its uninstaller does nothing.
    if (result == 0)
        failed = WriteRecord(RecordCopy, record, basePath, viewerDirectory) ||
                 PutInPlace(RecordCopy, record) || PutInPlace(UninstallerCopy, uninstaller);
    if (result != 0 || failed) {
        DeleteFileA(UninstallerCopy);
        DeleteFileA(RecordCopy);
    }
    if (failed) {
        DeleteFileA(uninstaller);
        DeleteFileA(record);
        return 1;
    }
    if (result == 0 && NewShell)
        RegisterUninstaller(uninstaller);
    return result;
}

int RunInstall()
{
    InitEnvironment();
    int result = ShowIntroDialogs();
    if (result == 0)
        result = ChooseBaseDirectory();
    int keepLibrary = 0;
    if (result == 0) {
        result = CopyExtractor(&keepLibrary);
        if (result == 0 && CopyUninstaller() != 0) {
            if (!keepLibrary)
                DeleteFileA(ExtractorPath);
            result = 1;
        }
    }
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
        result = WriteViewerSettings(SettingsFileName);
    if (result == 0)
        result = CreateProgramGroup();
    result = InstallUninstaller(result, basePath);
    if (result == 0) {
        char message[TEXT_CAPACITY];
        LoadInstallString(IDS_SUCCESS, message, sizeof message);
        if (!UnattendedMode)
            InstallMessageBox(message, MB_OK);
    }
    return result;
}
