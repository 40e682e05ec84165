// Every file operation of an unattended installation, failed in turn on a failing disk: the
// real setup.exe and wizunz32.dll, from C:\disk1 into c:\cvtools. For each installation (a
// fresh one, and a reinstall over a complete earlier one), and for the removal of a complete
// one by the real uninst.exe, a first run on a sound disk counts the operations; then, for
// each operation N of each side (writes, reads) and each way of failing (once, sticky, cut),
// a run fails it, and a second run on a sound disk follows in the state it left. A power cut
// under a write-back disk cache (the power mode) comes at each operation of the write side
// and once more right after the program ends, when the job must be complete. After each
// installation: no crash or hang; success only with everything in place; autoexec.bat
// whole; no file under its own name partial; nothing left behind that the run could have
// removed. After a removal: autoexec.bat never lost, no file removed that the
// record does not name or that the user changed, success only with the removal complete.
// The second run must finish the job.
//
//   disk_fault_sweep.exe [--library-every K] [--setup-every K] [--removal-every K]
//                        [--mode once|sticky|cut|power]
//
// With a library's K > 1 a sample: every K-th operation of the library, of setup.exe itself
// and of uninst.exe, where setup.exe's are counted without those inside a run of one call on
// one file (a copy's blocks, a file's lines), of which only the first and the last count.
// Each kept operation is failed in one way, the ways taking turns on each side; with --mode,
// only in that way.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "failing_disk.h"
#include "layer_start.h"
#include "resource.h"
#include "scripted_user.h"
#include "wine_files.h"

namespace {

const char Disk[] = "c:\\disk1";
const char Base[] = "c:\\cvtools";
const char Startup[] = "c:\\autoexec.bat";
const char Backup[] = "c:\\autoexec.cv";
const char LibraryCopy[] = "c:\\cvtools\\tabrin\\wizunz32.dll";
const char Uninstaller[] = "c:\\cvtools\\tabrin\\uninst.exe";
const char RemovalBackup[] = "c:\\autoexec.tbr";
const char Snapshot[] = "c:\\installed";
// What the user did to the installation before removing it: a file of it changed, a file of
// their own added.
const char ChangedFile[] = "tabrin\\README.TXT";
const char OwnFile[] = "tabrin\\notes.txt";
const char UsersText[] = "the user's own words\r\n";
const char Original[] =
    "@ECHO OFF\r\nPROMPT $P$G\r\nPATH C:\\DOS;C:\\WINDOWS\r\nSET BLASTER=A220 I5 D1 T4\r\n"
    "LH C:\\DOS\\MOUSE.COM\r\nLH C:\\DOS\\SMARTDRV.EXE 2048\r\n";
const char TempLine[] = "SET TEMP=c:\\\r\n";
const int PatienceMs = 60000;

enum Mode { ONCE, STICKY, CUT, POWER };
const char *const ModeNames[] = {"once", "sticky", "cut", "power"};

typedef std::map<std::string, std::string> Tree;  // relative path -> bytes

std::string Lower(std::string text)
{
    for (char &c : text)
        c = (char)tolower((unsigned char)c);
    return text;
}

void ReadTree(const std::string &root, const std::string &prefix, Tree *tree)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((root + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ReadTree(root + "\\" + name, prefix + name + "\\", tree);
        else
            (*tree)[prefix + name] = ReadWholeFile(root + "\\" + name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

Tree TreeOf(const std::string &root)
{
    Tree tree;
    ReadTree(root, "", &tree);
    return tree;
}

// The start-up file updates' temporary files in C:\ ("CV" or "TB" and six characters).
std::set<std::string> StartupTemporaries(const char *prefix = "CV")
{
    std::set<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((std::string("c:\\") + prefix + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (strlen(found.cFileName) == 8 && !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.insert(std::string("c:\\") + found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

std::string SettingsFile()
{
    char directory[MAX_PATH];
    GetWindowsDirectoryA(directory, sizeof directory);
    return std::string(directory) + "\\tabrin32.ini";
}

std::string Configured()
{
    char value[16] = "";
    GetPrivateProfileStringA("Options", "Configured", "(none)", value, sizeof value,
                             SettingsFile().c_str());
    return value;
}

// ---- One run of setup.exe, answered as an unattended run's user would: No to the question
// whether to skip the installed interpreter, Cancel at a disk prompt, the progress window
// closed once its log ends in "unzip error", OK to every message.
struct SetupRun {
    bool finished = false;
    DWORD exitCode = 0;
    std::vector<std::string> messages;  // every message box text and other window title
    bool Succeeded() const { return finished && exitCode == 0 && messages.empty(); }
};

const char SkipQuestion[] = "Corvane 4.03 appears to be already installed.  Skip installation of Corvane?";
// The uninstaller, answered as a user who removes everything would answer it.
const char RemoveQuestion[] = "Remove Corvane 4.03 too? Other programs may use it.";
const char Removed[] = "Tabrin has been removed.";

std::string TextOf(HWND window, int id)
{
    char text[8192] = "";
    SendDlgItemMessageA(window, id, WM_GETTEXT, sizeof text, (LPARAM)text);
    return text;
}

// Answers one window; false when it is not ready to be answered yet.
bool Answer(HWND window, SetupRun *run)
{
    char title[256] = "";
    if (GetWindowTextA(window, title, sizeof title) == 0)
        return false;  // on its way in or out
    if (strcmp(title, "Tabrin Install - Remove") == 0) {
        PostMessageA(window, WM_COMMAND, IDOK, 0);
        return true;
    }
    if (strcmp(title, "Tabrin Install - Removing") == 0)
        return false;
    if (strcmp(title, "Tabrin Install - Unzipping") == 0) {
        std::string log = TextOf(window, IDC_PROGRESS_LOG);
        if (log.size() >= 11 && log.compare(log.size() - 11, 11, "unzip error") == 0)
            PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
        return false;  // looked at again until it closes
    }
    if (strcmp(title, "Tabrin Install") != 0) {  // a dialog: the disk prompt or another
        run->messages.push_back(title);
        PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
        return true;
    }
    std::string text = TextOf(window, 65535);
    if (text.empty())
        return false;
    if (text == SkipQuestion || text == RemoveQuestion) {
        PostMessageA(window, WM_COMMAND, text == SkipQuestion ? IDNO : IDYES, 0);
        return true;
    }
    if (text.compare(0, strlen(Removed), Removed) != 0)
        run->messages.push_back(text);
    PostMessageA(window, WM_COMMAND, IDOK, 0);
    return true;
}

// Runs setup.exe unattended, or the uninstaller when removing, on the failing disk when a log
// is given (with the fault, if any), else as it is.
SetupRun RunSetup(bool temp, const std::string &fault = "", const std::string &log = "",
                  bool removal = false)
{
    SetupRun run;
    std::string command = removal ? std::string(Uninstaller)
                                  : std::string("\"") + Disk + "\\setup.exe\" " + Base;
    std::vector<std::string> disk;
    if (!fault.empty())
        disk.push_back(std::string(FAILING_DISK_VARIABLE "=") + fault);
    if (!log.empty())
        disk.push_back(std::string(FAILING_DISK_LOG_VARIABLE "=") + log);
    std::string environment = EnvironmentBlock(temp, disk);
    PROCESS_INFORMATION process;
    std::string error;
    if (log.empty()) {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        if (!CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, &environment[0], NULL,
                            &startup, &process))
            error = "cannot start setup.exe";
    } else {
        // A start that fails before the program's entry point has touched nothing: under a
        // heavy load Wine now and then refuses one, so it is tried again.
        for (int attempt = 0; attempt < 3; attempt++) {
            error.clear();
            if (StartWithLayer("failing_disk.dll", command, &environment[0], &process, &error))
                break;
            Sleep(1000);
        }
    }
    if (!error.empty()) {
        ADD_FAILURE() << error;
        return run;
    }
    std::set<HWND> answered;
    run.finished = WaitAnsweringMessages(process.hProcess, PatienceMs, 10, [&] {
        for (HWND window : DialogsOfProcess(process.dwProcessId))
            if (!answered.count(window) && Answer(window, &run))
                answered.insert(window);
    });
    if (!run.finished)
        TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, 5000);
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return run;
}

// ---- The operations a run made, from the failing disk's log.
struct Operation {
    std::string side, module, function, detail;
    bool failed = false;
};

std::vector<Operation> ReadLog(const std::string &log)
{
    std::vector<Operation> operations;
    std::string text = ReadWholeFile(log);
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = text.substr(start, end - start);
        char side[8], module[64], function[64];
        int used = 0;
        long number;
        if (sscanf(line.c_str(), "%7s %ld %63s %63s %n", side, &number, module, function, &used) < 4)
            continue;
        Operation operation;
        operation.side = side;
        operation.module = module;
        operation.function = function;
        operation.detail = line.substr(used);
        for (const char *mark : {" FAILED", " CUT"}) {
            size_t at = operation.detail.rfind(mark);
            if (at != std::string::npos && at + strlen(mark) == operation.detail.size()) {
                operation.detail.erase(at);
                operation.failed = true;
            }
        }
        operations.push_back(operation);
    }
    return operations;
}

// ---- The installations, as the disk and drive C: look before the first run.
struct Installation {
    const char *name;
    bool reinstall;
    bool removal;  // of a complete installation, by the uninstaller
};

Tree NewTree;      // what a complete installation leaves under the base directory
Tree RemovedTree;  // what a complete removal leaves there

// A complete installation as the first sound run left it, with the files it changed outside
// the base directory, copied from C:\ to the snapshot (keep) or back (restore), each file
// keeping its time.
void CopyInstallation(bool keep)
{
    std::string snapshot = std::string(Snapshot) + "\\cvtools", base = Base;
    std::string from = (keep ? base : snapshot) + '\0', to = (keep ? snapshot : base) + '\0';
    if (keep)
        CreateDirectoryA(Snapshot, NULL);
    SHFILEOPSTRUCTA copy = {NULL, FO_COPY, from.c_str(), to.c_str(),
                            FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_SILENT | FOF_NOERRORUI};
    SHFileOperationA(&copy);
    for (const std::string &file : {std::string(Startup), std::string(Backup), SettingsFile()}) {
        std::string kept = Snapshot + file.substr(file.rfind('\\'));
        CopyFileA((keep ? file : kept).c_str(), (keep ? kept : file).c_str(), FALSE);
    }
}

std::string OldContent(const std::string &path) { return "an earlier version of " + path + "\r\n"; }

void Prepare(const Installation &installation)
{
    RemoveTree(Base);
    for (const char *prefix : {"CV", "TB"})
        for (const std::string &name : StartupTemporaries(prefix))
            DeleteFileA(name.c_str());
    DeleteFileA(SettingsFile().c_str());
    WriteWholeFile(Startup, Original);
    DeleteFileA(Backup);
    DeleteFileA(RemovalBackup);
    if (installation.removal) {
        CopyInstallation(false);
        WriteWholeFile(std::string(Base) + "\\" + ChangedFile, UsersText);
        WriteWholeFile(std::string(Base) + "\\" + OwnFile, UsersText);
    }
    if (!installation.reinstall)
        return;
    // A complete earlier installation, of which the user had declined the start-up file
    // change: its copy with the SET TEMP line was saved as the backup.
    for (const auto &file : NewTree) {
        std::string path = std::string(Base) + "\\" + file.first;
        for (size_t slash = path.find('\\', 3); slash != std::string::npos; slash = path.find('\\', slash + 1))
            CreateDirectoryA(path.substr(0, slash).c_str(), NULL);
        WriteWholeFile(path, OldContent(file.first));
    }
    SetFileAttributesA((std::string(Base) + "\\tabrin\\README.TXT").c_str(), FILE_ATTRIBUTE_READONLY);
    WritePrivateProfileStringA("Options", "Configured", "1", SettingsFile().c_str());
    WriteWholeFile(Backup, std::string(Original) + TempLine);
}

// ---- What must hold after a run; each finding a line.
struct Findings {
    std::vector<std::string> lines;
    void Add(const std::string &line) { lines.push_back(line); }
};

// Whether the disk refused to remove the file: a failed delete, or a failed change of its
// attributes before one, named it by its full path or by a path relative to the current
// directory of the time (the library's names).
bool RemovalRefused(const std::vector<Operation> &operations, const std::string &path)
{
    std::string file = Lower(path);
    for (const Operation &operation : operations) {
        if (!operation.failed || (operation.function != "DeleteFileA" && operation.function != "remove" &&
                                  operation.function != "_unlink" &&
                                  operation.function != "SetFileAttributesA"))
            continue;
        std::string named = Lower(operation.detail);
        if (named.compare(0, 2, ".\\") == 0)
            named.erase(0, 2);
        if (file == named || (file.size() > named.size() &&
                              file.compare(file.size() - named.size() - 1, std::string::npos,
                                           "\\" + named) == 0))
            return true;
    }
    return false;
}

// Leftovers a run may leave: anything when the process died or the disk refuses every
// write from some point on; otherwise only a file whose removal the disk refused.
bool MayStay(Mode mode, const std::vector<Operation> &operations, const std::string &path)
{
    return mode != ONCE || RemovalRefused(operations, path);
}

void CheckStartupFile(bool mayBeInterrupted, Findings *findings)
{
    std::string withTemp = std::string(Original) + TempLine;
    bool hasStartup = FileExists(Startup);
    std::string startup = ReadWholeFile(Startup), backup = ReadWholeFile(Backup);
    if (hasStartup && startup == Original)
        return;
    if (hasStartup && startup == withTemp) {
        if (backup != Original)
            findings->Add("autoexec.bat has the SET TEMP line but autoexec.cv is not the original");
        return;
    }
    if (!hasStartup && mayBeInterrupted && backup == Original) {
        for (const std::string &name : StartupTemporaries())
            if (ReadWholeFile(name) == withTemp)
                return;  // the interrupted update, which the next run completes
    }
    findings->Add(hasStartup ? "autoexec.bat is neither the original nor the original with SET TEMP"
                             : "no autoexec.bat");
}

void CheckFiles(const Installation &installation, Mode mode,
                const std::vector<Operation> &operations, Findings *findings)
{
    Tree tree = TreeOf(Base);
    for (const auto &file : NewTree) {
        auto found = tree.find(file.first);
        if (found != tree.end() && found->second != file.second &&
            !(installation.reinstall && found->second == OldContent(file.first)))
            findings->Add(file.first + " is partial (" + std::to_string(found->second.size()) +
                          " bytes)");
    }
    for (const auto &file : tree) {
        std::string path = std::string(Base) + "\\" + file.first;
        if (NewTree.count(file.first))
            continue;
        if (!MayStay(mode, operations, path))
            findings->Add("left behind: " + path +
                          (Lower(path) == Lower(LibraryCopy) &&
                                   file.second != ReadWholeFile(std::string(Disk) + "\\wizunz32.dll")
                               ? ", a partial copy of the library"
                               : ""));
    }
}

Findings CheckFaultedRun(const Installation &installation, Mode mode, const SetupRun &run,
                         const std::vector<Operation> &operations)
{
    Findings findings;
    if (!run.finished)
        findings.Add("setup.exe hung");
    else if (run.exitCode != 0 && !(mode >= CUT && run.exitCode == FAILING_DISK_CUT_EXIT))
        findings.Add("setup.exe crashed (exit code " + std::to_string(run.exitCode) + ")");
    if (run.Succeeded()) {
        Tree tree = TreeOf(Base);
        for (const auto &file : NewTree)
            if (!tree.count(file.first) || tree[file.first] != file.second)
                findings.Add("success reported, but " + file.first + " is not the new one");
        if (Configured() != "0")
            findings.Add("success reported, but tabrin32.ini says Configured=" + Configured());
        if (ReadWholeFile(Startup) != std::string(Original) + TempLine)
            findings.Add("success reported, but autoexec.bat has no SET TEMP line");
    }
    CheckStartupFile(mode != ONCE, &findings);
    CheckFiles(installation, mode, operations, &findings);
    for (const std::string &name : StartupTemporaries())
        if (!MayStay(mode, operations, name))
            findings.Add("left behind: " + name);
    return findings;
}

Findings CheckSecondRun(const SetupRun &run, const std::set<std::string> &temporariesBefore)
{
    Findings findings;
    if (!run.Succeeded()) {
        std::string what = run.finished ? "exit code " + std::to_string(run.exitCode) : "hung";
        for (const std::string &message : run.messages)
            what += "; \"" + message + "\"";
        findings.Add("the second run failed: " + what);
    }
    Tree tree = TreeOf(Base);
    if (tree != NewTree) {
        for (const auto &file : NewTree)
            if (!tree.count(file.first) || tree[file.first] != file.second)
                findings.Add("after the second run " + file.first + " is not the new one");
        for (const auto &file : tree)
            if (!NewTree.count(file.first))
                findings.Add("after the second run left behind: " + file.first);
    }
    if (Configured() != "0")
        findings.Add("after the second run tabrin32.ini says Configured=" + Configured());
    if (ReadWholeFile(Startup) != std::string(Original) + TempLine || ReadWholeFile(Backup) != Original)
        findings.Add("after the second run autoexec.bat or autoexec.cv is wrong");
    for (const std::string &name : StartupTemporaries())
        if (!temporariesBefore.count(name))
            findings.Add("the second run left behind " + name);
    return findings;
}

// ---- After a removal
void CheckRemoved(const std::string &when, Findings *findings)
{
    if (TreeOf(Base) != RemovedTree)
        findings->Add(when + "the base directory holds other files than after a complete removal");
    if (ReadWholeFile(Startup) != Original || FileExists(Backup) || FileExists(RemovalBackup))
        findings->Add(when + "autoexec.bat is not the original, or a backup of it stays");
    if (FileExists(SettingsFile()))
        findings->Add(when + "tabrin32.ini stays");
}

Findings CheckFaultedRemoval(Mode mode, const SetupRun &run,
                             const std::vector<Operation> &operations)
{
    Findings findings;
    if (!run.finished)
        findings.Add("uninst.exe hung");
    else if (run.exitCode > 1 && !(mode >= CUT && run.exitCode == FAILING_DISK_CUT_EXIT))
        findings.Add("uninst.exe crashed (exit code " + std::to_string(run.exitCode) + ")");
    if (run.Succeeded())
        CheckRemoved("success reported, but ", &findings);
    // autoexec.bat is the installed one or the original, or the interrupted update's state.
    std::string installed = std::string(Original) + TempLine, startup = ReadWholeFile(Startup);
    bool installedWhole = startup == installed && ReadWholeFile(Backup) == Original;
    bool whole = FileExists(Startup) && (startup == Original || installedWhole);
    bool interrupted = mode != ONCE && !FileExists(Startup) &&
                       ReadWholeFile(RemovalBackup) == installed;
    for (const std::string &name : StartupTemporaries("TB"))
        whole |= interrupted && ReadWholeFile(name) == Original;
    if (!whole)
        findings.Add("autoexec.bat is lost, or neither the installed one nor the original");
    Tree tree = TreeOf(Base);
    if (tree[ChangedFile] != UsersText || tree[OwnFile] != UsersText)
        findings.Add("a file the user changed, or one the record does not name, was removed");
    for (const std::string &name : StartupTemporaries("TB"))
        if (!MayStay(mode, operations, name))
            findings.Add("left behind: " + name);
    return findings;
}

Findings CheckSecondRemoval(const SetupRun &run, const std::set<std::string> &temporariesBefore)
{
    Findings findings;
    if (!run.Succeeded())
        findings.Add("the second run failed" +
                     (run.messages.empty() ? std::string() : ": \"" + run.messages[0] + "\""));
    CheckRemoved("after the second run ", &findings);
    for (const std::string &name : StartupTemporaries("TB"))
        if (!temporariesBefore.count(name))
            findings.Add("the second run left behind " + name);
    return findings;
}

// Every how many operations of the library (--library-every K), of setup.exe (--setup-every
// K) or of uninst.exe (--removal-every K) are failed.
int Every(const std::string &module)
{
    const char *name = module == "uninst.exe"  ? "--removal-every "
                       : module == "setup.exe" ? "--setup-every "
                                               : "--library-every ";
    const char *option = strstr(GetCommandLineA(), name);
    return option ? std::max(1, atoi(option + strlen(name))) : 1;
}

// Whether operation i repeats, on its side, the operation before it and the one after it.
bool InsideARun(const std::vector<Operation> &operations, size_t i)
{
    auto repeats = [&](int step) {
        for (size_t j = i + step; j < operations.size(); j += step)
            if (operations[j].side == operations[i].side)
                return operations[j].module == operations[i].module &&
                       operations[j].function == operations[i].function &&
                       operations[j].detail == operations[i].detail;
        return false;
    };
    return repeats(-1) && repeats(1);
}

const char *ModeOption() { return strstr(GetCommandLineA(), "--mode "); }

bool ModeChosen(Mode mode)
{
    const char *option = ModeOption();
    return option == nullptr || strncmp(option + 7, ModeNames[mode], strlen(ModeNames[mode])) == 0;
}

std::string LogPath(const char *name)
{
    return std::string("c:\\") + name + ".log";
}

class FailingDisk : public testing::TestWithParam<Installation> {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(WaitForProgramManager());
        CreateDirectoryA(Disk, NULL);
        for (const char *name : {"setup.exe", "uninst.exe", "wizunz32.dll", "packlist.ini",
                                 "tabrin.zip", "cv403ini.zip", "cv403w32.zip", "cv403fn1.zip"})
            ASSERT_TRUE(CopyFileA((ProgramDirectory() + name).c_str(),
                                  (std::string(Disk) + "\\" + name).c_str(), FALSE));
        Prepare({"fresh", false});
        SetupRun run = RunSetup(false);
        ASSERT_TRUE(run.Succeeded());
        NewTree = TreeOf(Base);
        ASSERT_TRUE(NewTree.count("tabrin\\tabrin32.exe") && NewTree.count("cv4.03\\cvdll32.dll"));
        ASSERT_FALSE(NewTree.count("tabrin\\wizunz32.dll"));
        RemoveTree(Snapshot);
        CopyInstallation(true);
    }
};

TEST_P(FailingDisk, EveryOperationFailedInTurn)
{
    const Installation installation = GetParam();
    std::string log = LogPath("failing-disk");
    Prepare(installation);
    ASSERT_TRUE(RunSetup(false, "", log, installation.removal).Succeeded());
    if (installation.removal) {
        RemovedTree = TreeOf(Base);
        ASSERT_EQ(RemovedTree.size(), 4u);  // the user's two files, the uninstaller, its record
    }
    std::vector<Operation> counted = ReadLog(log);
    std::map<std::string, int> totals;
    for (const Operation &operation : counted)
        totals[operation.side]++;
    printf("%s installation: %d write and %d read operations\n", installation.name,
           totals["write"], totals["read"]);
    ASSERT_GT(totals["write"], 0);
    ASSERT_GT(totals["read"], 0);

    int runs = 0;
    auto faultedRun = [&](Mode mode, const std::string &side, int number, const std::string &what) {
        if (!ModeChosen(mode))
            return;
        std::string fault = side + " " + ModeNames[mode] + " " + std::to_string(number);
        std::string where = std::string(installation.name) + ", " + fault + " (" + what + "): ";
        Prepare(installation);
        SetupRun faulted = RunSetup(false, fault, log, installation.removal);
        Findings findings = installation.removal
                                ? CheckFaultedRemoval(mode, faulted, ReadLog(log))
                                : CheckFaultedRun(installation, mode, faulted, ReadLog(log));
        std::set<std::string> temporaries = StartupTemporaries(installation.removal ? "TB" : "CV");
        // The machine starts again: TEMP is set when the start-up file sets it.
        bool temp = ReadWholeFile(Startup).find(TempLine) != std::string::npos;
        SetupRun again = RunSetup(temp, "", "", installation.removal);
        Findings second = installation.removal ? CheckSecondRemoval(again, temporaries)
                                               : CheckSecondRun(again, temporaries);
        for (const std::string &line : findings.lines)
            ADD_FAILURE() << where << line;
        for (const std::string &line : second.lines)
            ADD_FAILURE() << where << line;
        runs++;
    };
    bool sampled = Every("library") > 1;
    std::map<std::string, int> numbers, ofModule, turns;
    for (size_t i = 0; i < counted.size(); i++) {
        const Operation &operation = counted[i];
        int number = ++numbers[operation.side];
        if ((sampled && operation.module == "setup.exe" && InsideARun(counted, i)) ||
            ofModule[operation.side + operation.module]++ % Every(operation.module) != 0)
            continue;
        std::vector<Mode> modes;
        for (Mode mode : {ONCE, STICKY, CUT, POWER})
            if (mode != POWER || operation.side == "write")
                modes.push_back(mode);
        // A sample fails each operation it keeps in one way, the ways taking turns.
        if (sampled && !ModeOption())
            modes = {modes[turns[operation.side]++ % modes.size()]};
        for (Mode mode : modes)
            faultedRun(mode, operation.side, number,
                       operation.module + " " + operation.function + " " + operation.detail);
    }
    faultedRun(POWER, "write", totals["write"] + 1, "after the program ended");
    printf("%s installation: %d faulted runs, each followed by a second run\n", installation.name, runs);
}

INSTANTIATE_TEST_SUITE_P(Installations, FailingDisk,
                         testing::Values(Installation{"fresh", false, false},
                                         Installation{"reinstall", true, false},
                                         Installation{"removal", false, true}),
                         [](const testing::TestParamInfo<Installation> &info) {
                             return std::string(info.param.name);
                         });

}  // namespace
