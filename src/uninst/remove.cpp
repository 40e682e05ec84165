// The removal, step by step in the order that undoes the installation, each reported in the
// progress window; the first failure stops it. Every step leaves alone what is already
// undone, so a second run finishes what a failed or interrupted one left.
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "config.h"
#include "dialogs.h"
#include "installer.h"
#include "progress.h"
#include "resource.h"
#include "uninst.h"

static const char InterpreterVersion[] = "4.03";
enum {
    SENTENCE_CAPACITY = 2048, CLOSING_CAPACITY = 4096, EMPTY_FILE_PROBE = 512,
    NAMES_CAPACITY = 1024, UNATTENDED_CLOSING_MS = 1500, PUMP_INTERVAL_MS = 50
};

// What the closing message says besides "removed": the notices, in order.
static char Closing[CLOSING_CAPACITY];
static char ConfirmText[CLOSING_CAPACITY];

// Keeps the progress window live between the steps: its Cancel and Copy buttons and its keys.
static void PumpMessages()
{
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        HWND window = ProgressWindow;
        if (window && IsWindow(window) && IsDialogMessageA(window, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// Each line on its own, so that no long text is too large for the log.
static void LogText(const char *text)
{
    for (const char *line = text; *line;) {
        const char *end = strchr(line, '\n');
        size_t length = end ? (size_t)(end - line) : strlen(line);
        LogAppend(line, (int)length);
        LogAppendText("\n");
        line += end ? length + 1 : length;
    }
    if (ProgressWindow && IsWindow(ProgressWindow))
        RefreshProgressLog(ProgressWindow);
    PumpMessages();
}

static void Sentence(char *text, UINT id, va_list arguments)
{
    char format[TEXT_CAPACITY];
    LoadInstallString(id, format, sizeof format);
    vsnprintf(text, SENTENCE_CAPACITY, format, arguments);
}

void Report(UINT id, ...)
{
    char text[SENTENCE_CAPACITY];
    va_list arguments;
    va_start(arguments, id);
    Sentence(text, id, arguments);
    va_end(arguments);
    LogText(text);
}

void Tell(UINT id, ...)
{
    char text[SENTENCE_CAPACITY];
    va_list arguments;
    va_start(arguments, id);
    Sentence(text, id, arguments);
    va_end(arguments);
    LogText(text);
    if (!UnattendedMode)
        InstallMessageBox(text, MB_OK);
}

void Notice(UINT id, ...)
{
    char text[SENTENCE_CAPACITY];
    va_list arguments;
    va_start(arguments, id);
    Sentence(text, id, arguments);
    va_end(arguments);
    LogText(text);
    AppendText(Closing, sizeof Closing, "\n");
    AppendText(Closing, sizeof Closing, text);
}

// Appends a sentence of the string table as a line of text.
static void AddLine(char *text, size_t capacity, UINT id, ...)
{
    char line[SENTENCE_CAPACITY];
    va_list arguments;
    va_start(arguments, id);
    Sentence(line, id, arguments);
    va_end(arguments);
    if (text[0])
        AppendText(text, capacity, "\n");
    AppendText(text, capacity, line);
}

INT_PTR CALLBACK ConfirmDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG)
        SetDlgItemTextA(window, IDC_REMOVE_TEXT, ConfirmText);
    return GeneralDlgProc(window, message, wParam, lParam);
}

// Says what will be removed, from the record: 1 when the user agrees.
static int ConfirmRemoval()
{
    char base[TEXT_CAPACITY], value[TEXT_CAPACITY], file[TEXT_CAPACITY];
    char section[TEXT_CAPACITY];
    RecordValue(RECORD_BASE, base, sizeof base);
    AddLine(ConfirmText, sizeof ConfirmText, IDS_CONFIRM_s, base);
    AddLine(ConfirmText, sizeof ConfirmText, IDS_CONFIRM_FILES_d, CountRecordedFiles(0, 0));
    RecordValue(RECORD_GROUP, value, sizeof value);
    if (value[0])
        AddLine(ConfirmText, sizeof ConfirmText, IDS_CONFIRM_GROUP_s, value);
    RecordValue(RECORD_STARTUP_LINE, value, sizeof value);
    RecordValue(RECORD_STARTUP_FILE, file, sizeof file);
    if (value[0])
        AddLine(ConfirmText, sizeof ConfirmText, IDS_CONFIRM_LINE_ss, value, file);
    RecordValue(RECORD_SETTINGS_KEY, value, sizeof value);
    RecordValue(RECORD_SETTINGS_SECTION, section, sizeof section);
    RecordValue(RECORD_SETTINGS_FILE, file, sizeof file);
    if (value[0])
        AddLine(ConfirmText, sizeof ConfirmText, IDS_CONFIRM_SETTINGS_sss, value, section, file);
    RecordValue(RECORD_SHELL, value, sizeof value);
    if (strcmp(value, "new") == 0)
        AddLine(ConfirmText, sizeof ConfirmText, IDS_CONFIRM_ENTRY);
    int interpreterFiles = CountRecordedFiles(FIRST_INTERPRETER_ARCHIVE, ARCHIVE_COUNT - 1);
    if (interpreterFiles > 0)
        AddLine(ConfirmText, sizeof ConfirmText, IDS_CONFIRM_INTERPRETER_sd, InterpreterVersion,
                interpreterFiles);
    return RunModalDialog(IDD_REMOVE, ConfirmDlgProc) == IDOK;
}

// ---- The steps, in order
static int RemoveGroup()
{
    char group[TEXT_CAPACITY];
    RecordValue(RECORD_GROUP, group, sizeof group);
    if (!group[0])
        return 0;
    Report(IDS_LOG_GROUP_s, group);
    if (DeleteProgramGroup(group))
        Tell(IDS_NO_PROGRAM_MANAGER_s, group);
    return 0;
}

// Whether a settings file holds nothing but blanks: 1 or 0; -1 when it cannot be read.
static int Blank(const char *path)
{
    char text[EMPTY_FILE_PROBE];
    FILE *file = fopen(path, "rb");
    if (!file)
        return GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES ? 0 : -1;
    size_t length = fread(text, 1, sizeof text, file);
    int blank = ferror(file) ? -1 : length < sizeof text;
    fclose(file);
    for (size_t i = 0; i < length && blank > 0; i++)
        blank = text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n';
    return blank;
}

// Whether a list of names (each NUL-terminated, an empty one last) holds the name, and
// whether it holds any other.
static int Listed(const char *list, const char *name, int *others)
{
    int found = 0;
    *others = 0;
    for (const char *entry = list; *entry; entry += strlen(entry) + 1)
        if (lstrcmpiA(entry, name) == 0)
            found = 1;
        else
            *others = 1;
    return found;
}

// The key goes, then its section when nothing else is left in it, then the file when nothing
// at all is; what the profile cache holds is written out and forced to the disk first.
static int RemoveSettingsEntry()
{
    char file[TEXT_CAPACITY], section[TEXT_CAPACITY], key[TEXT_CAPACITY], path[PATH_CAPACITY];
    char keys[NAMES_CAPACITY], sections[NAMES_CAPACITY];
    RecordValue(RECORD_SETTINGS_FILE, file, sizeof file);
    RecordValue(RECORD_SETTINGS_SECTION, section, sizeof section);
    RecordValue(RECORD_SETTINGS_KEY, key, sizeof key);
    if (!file[0] || !section[0] || !key[0] || SettingsFilePath(file, path, sizeof path) ||
        GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
        return 0;
    Report(IDS_LOG_SETTINGS_sss, key, section, file);
    int otherKeys, otherSections;
    GetPrivateProfileStringA(NULL, NULL, "", sections, sizeof sections, file);
    GetPrivateProfileStringA(section, NULL, "", keys, sizeof keys, file);
    int failed =
        Listed(keys, key, &otherKeys) && !WritePrivateProfileStringA(section, key, NULL, file);
    if (!failed && !otherKeys && Listed(sections, section, &otherSections))
        failed = !WritePrivateProfileStringA(section, NULL, NULL, file);
    if (failed || CommitSettings(file, path) != 0) {
        SetErrorText("Can't write %s", path);
        return 1;
    }
    int blank = Blank(path);
    if (blank < 0)
        SetErrorText("Can't read %s", path);
    else if (blank && !DeleteFileA(path))
        SetErrorText("Can't delete %s", path);
    else
        return 0;
    return 1;
}

static int RemoveViewer()
{
    return RemoveRecordedFiles(0, 0);
}

// Other programs may use the interpreter: its files go only when the user says so.
static int RemoveInterpreter()
{
    int result = 0;
    if (CountRecordedFiles(FIRST_INTERPRETER_ARCHIVE, ARCHIVE_COUNT - 1) > 0) {
        char format[TEXT_CAPACITY], question[2 * TEXT_CAPACITY];
        LoadInstallString(IDS_REMOVE_INTERPRETER_s, format, sizeof format);
        snprintf(question, sizeof question, format, InterpreterVersion);
        if (!UnattendedMode && InstallMessageBox(question, MB_YESNO) == IDYES)
            result = RemoveRecordedFiles(FIRST_INTERPRETER_ARCHIVE, ARCHIVE_COUNT - 1);
        else
            Report(IDS_INTERPRETER_KEPT_s, InterpreterVersion);
    }
    if (result == 0 && KeptFiles[0])
        Notice(IDS_KEPT_FILES_s, KeptFiles);
    return result;
}

static int RemoveEntry()
{
    char shell[TEXT_CAPACITY];
    RecordValue(RECORD_SHELL, shell, sizeof shell);
    if (strcmp(shell, "new") != 0)
        return 0;
    Report(IDS_LOG_ENTRY);
    if (UnregisterUninstaller(UninstallerPath) == 0)
        return 0;
    SetErrorText("Can't remove the entry in Add/Remove Programs");
    return 1;
}

// Unattended, the window stays a moment after its last line, then closes by itself.
static void LingerBeforeClosing()
{
    DWORD start = GetTickCount();
    while (ProgressWindow && IsWindow(ProgressWindow) &&
           GetTickCount() - start < UNATTENDED_CLOSING_MS) {
        Sleep(PUMP_INTERVAL_MS);
        PumpMessages();
    }
}

int RunRemoval()
{
    if (FindRecord()) {
        char format[TEXT_CAPACITY], message[2 * PATH_CAPACITY];
        LoadInstallString(IDS_NO_RECORD_s, format, sizeof format);
        snprintf(message, sizeof message, format, UninstallerDirectory);
        if (!UnattendedMode)
            InstallMessageBox(message, MB_OK);
        return 1;
    }
    if (!UnattendedMode && !ConfirmRemoval())
        return 1;

    ProgressWindow = ShowProgressWindow();
    typedef int (*Step)();
    const Step steps[] = {RemoveGroup,       RemoveSettingsEntry, RemoveStartupLine, RemoveViewer,
                          RemoveInterpreter, RemoveEntry,         RemoveAtRestart};
    int result = 0;
    for (Step step : steps) {
        result = step();
        if (result == 0 && ProgressWindow && !IsWindow(ProgressWindow)) {
            SetErrorText("Removal cancelled");
            result = 1;
        }
        if (result != 0)
            break;
    }

    // The notices are in the log already, each where it arose.
    char format[TEXT_CAPACITY], message[CLOSING_CAPACITY + TEXT_CAPACITY];
    LoadInstallString(result == 0 ? IDS_REMOVED_s : IDS_REMOVAL_ABORTED_s, format, sizeof format);
    snprintf(message, sizeof message, format, result == 0 ? "" : ErrorText);
    LogText(message);
    if (result == 0)
        snprintf(message, sizeof message, format, Closing);
    if (!UnattendedMode)
        InstallMessageBox(message, MB_OK);
    if (UnattendedMode)
        LingerBeforeClosing();
    CloseProgressWindow();
    return result;
}
