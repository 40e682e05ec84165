// The real uninst.exe after an installation by the real setup.exe, driven by the robot as a
// user would: one table of removals, each checked on drive C:, in Wine's list of installed
// programs and after a restart (wineboot -r). With --windows95 both programs run on the
// Windows 95 kernel (windows95_layer.dll).
#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <functional>
#include <thread>

#include "resource.h"
#include "robot.h"
#include "wine_files.h"

namespace {

const char Disk[] = "c:\\disk1";
const char Base[] = "c:\\cvtools";
const char Viewer[] = "c:\\cvtools\\tabrin";
const char Startup[] = "c:\\autoexec.bat";
const char Original[] = "@ECHO OFF\r\nPATH C:\\DOS\r\n";
const char Line[] = "SET TEMP=c:\\\r\n";
const UserAction Confirm = {"Tabrin Install - Remove", IDOK};
const UserAction Progress = {"Tabrin Install - Removing", PRESS_NOTHING};
const UserAction Yes = {"Tabrin Install", IDYES};
const UserAction Ok = {"Tabrin Install", IDOK};

bool OnNt() { return !(GetVersion() & 0x80000000); }
bool NewShell() { return LOBYTE(GetVersion()) >= 4; }
std::string Layer()
{
    return strstr(GetCommandLineA(), " --windows95") ? "windows95_layer.dll" : "";
}

// Runs one of Wine's programs to its end; what it wrote to its standard output.
std::string RunWineProgram(const std::string &command)
{
    CreateDirectoryA("c:\\listings", NULL);
    system((command + " >c:\\listings\\output.txt").c_str());
    return ReadWholeFile("c:\\listings\\output.txt");
}

bool Listed()
{
    return RunWineProgram("uninstaller.exe --list").find("|||Tabrin") != std::string::npos;
}

std::string GroupFolder()
{
    char programs[MAX_PATH] = "";
    SHGetFolderPathA(NULL, CSIDL_PROGRAMS, NULL, 0, programs);
    return std::string(programs) + "\\CV Tools";
}

// Every file below a folder, sorted; when listing a machine, each folder too and each file's
// size. Neither this test's own folders nor those Wine links to the user's home outside
// drive C: are followed.
std::vector<std::string> FilesUnder(const std::string &folder, bool listing = false)
{
    std::vector<std::string> files;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
        std::string name = found.cFileName, path = folder + "\\" + name;
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            files.push_back(listing ? path + " " + std::to_string(found.nFileSizeLow) : path);
        else if (name != "." && name != ".." && path != Disk && path != "c:\\listings" &&
                 !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            std::vector<std::string> inner = FilesUnder(path, listing);
            if (listing)
                files.push_back(path + "\\");
            files.insert(files.end(), inner.begin(), inner.end());
        }
    }
    FindClose(search);
    std::sort(files.begin(), files.end());
    return files;
}

void Install(bool skipInterpreter)
{
    std::vector<UserAction> actions = {WatchProgress};
    if (skipInterpreter)
        actions.push_back(Yes);
    auto run = RunRobot(std::string(Disk) + "\\setup.exe " + Base, actions, false, Layer());
    ASSERT_TRUE(run.finished);
    ASSERT_TRUE(FileExists(std::string(Viewer) + "\\uninst.ini"));
    EXPECT_EQ(Listed(), NewShell());
}

// Runs the uninstaller in a window station of its own, where no Program Manager answers,
// on a thread that has no window yet.
RobotRun RemoveWithoutShell(const std::string &command, const std::vector<UserAction> &actions)
{
    RobotRun run;
    std::thread worker([&] {
        HWINSTA station = GetProcessWindowStation();
        HWINSTA bare = CreateWindowStationA("WithoutShell", 0, WINSTA_ALL_ACCESS, NULL);
        ASSERT_TRUE(bare && SetProcessWindowStation(bare));
        HDESK desktop = CreateDesktopA("Default", NULL, NULL, 0, GENERIC_ALL, NULL);
        ASSERT_TRUE(desktop && SetThreadDesktop(desktop));
        run = RunRobot(command, actions, false, Layer());
        SetProcessWindowStation(station);
    });
    worker.join();
    return run;
}

struct Removal {
    const char *name;
    std::function<void()> change;      // what the user did since the installation
    std::vector<UserAction> actions;   // the user's answers to uninst.exe
    std::string startup;               // autoexec.bat afterwards
    std::vector<std::string> kept;     // the viewer's files that stay
    std::string said;                  // in the closing message, or the log when unattended
    bool interpreterKept = false;      // its folder stays
    bool interpreterThere = false;     // another program's interpreter, which setup kept
    bool unattended = false;
    bool withoutShell = false;
};

const std::string Installed = std::string(Original) + Line;
const std::string Readme = "c:\\cvtools\\tabrin\\README.TXT";
const std::string Restored = "which is again as before the installation.";
const std::string LeftAlone = "that file was left alone.";
const std::string OwnLine = std::string(Original) + "SET TEMP=c:\\temp\r\n";

void EditStartup(const std::string &text) { WriteWholeFile(Startup, text); }

// A change that only the CRC-32 tells: one letter's case, the size and the time kept.
void ChangeOneLetter(const std::string &path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                              0, NULL);
    FILETIME written;
    char letter = 0;
    DWORD count;
    ASSERT_TRUE(GetFileTime(file, NULL, NULL, &written) &&
                ReadFile(file, &letter, 1, &count, NULL) && isalpha((unsigned char)letter));
    letter ^= 0x20;
    SetFilePointer(file, 0, NULL, FILE_BEGIN);
    EXPECT_TRUE(WriteFile(file, &letter, 1, &count, NULL) && SetFileTime(file, NULL, NULL, &written));
    CloseHandle(file);
}

const Removal Removals[] = {
    {"fresh", [] {}, {Confirm, Progress, Yes, Ok}, Original, {}, Restored},
    {"interpreter_kept", [] {}, {Confirm, Progress, Ok}, Original, {}, Restored, true, true},
    {"file_changed", [] { ChangeOneLetter(Readme); }, {Confirm, Progress, Yes, Ok},
     Original, {Readme}, "changed since the installation and were kept:\n" + Readme},
    {"line_moved", [] { EditStartup(std::string(Line) + Original); },
     {Confirm, Progress, Yes, Ok}, Original, {}, Restored},
    {"line_removed", [] { EditStartup(OwnLine); }, {Confirm, Progress, Yes, Ok}, OwnLine, {},
     LeftAlone},
    {"line_doubled", [] { EditStartup(Installed + Line); }, {Confirm, Progress, Yes, Ok},
     Installed + Line, {}, LeftAlone},
    {"unattended", [] {}, {Progress}, Original, {}, "Tabrin has been removed.", true, false, true},
    {"no_program_manager", [] {}, {Confirm, Progress, Ok, Yes, Ok}, Original, {}, Restored, false,
     false, false, true},
};

class RemovalTest : public testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(WaitForProgramManager()); }
    void SetUp() override
    {
        RemoveTree(Base);
        RemoveTree(GroupFolder());
        DeleteFileA("c:\\autoexec.cv");
        WriteWholeFile(Startup, Original);
        LayOutDisk(Disk);
    }
};

class Removed : public RemovalTest, public testing::WithParamInterface<Removal> {};

TEST_P(Removed, TakesBackWhatTheInstallationPutThere)
{
    const Removal &removal = GetParam();
    const std::string interpreter = std::string(Base) + "\\cv4.03";
    if (removal.interpreterThere) {
        SHCreateDirectoryExA(NULL, interpreter.c_str(), NULL);
        for (const char *file : {"\\cvdll32.dll", "\\cv_init.ps"})
            WriteWholeFile(interpreter + file, "another program's copy");
    }
    Install(removal.interpreterThere);
    removal.change();
    std::vector<std::string> left = removal.kept;
    if (removal.interpreterKept)
        left = FilesUnder(interpreter);

    std::string log;  // as last read before the window closed
    std::vector<UserAction> actions = removal.actions;
    for (UserAction &action : actions)
        if (action.press == PRESS_NOTHING)
            action.meanwhile = [&] {
                std::string text = ControlText(RobotWindow, IDC_PROGRESS_LOG);
                log = text.empty() ? log : text;
            };
    if (actions.back().press != PRESS_NOTHING)  // the window under the closing message
        actions.back().meanwhile = [] {
            Photograph(FindWindowA(NULL, "Tabrin Install - Removing"), "removal's progress window");
        };
    std::string command = std::string(Viewer) + "\\uninst.exe";
    if (removal.unattended)
        command += " /S";
    auto run = removal.withoutShell ? RemoveWithoutShell(command, actions)
                                    : RunRobot(command, actions, false, Layer());
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_FALSE(run.seen.empty());
    if (!removal.unattended) {
        EXPECT_EQ(run.seen[0].Text(IDC_REMOVE_TEXT).substr(0, 39),
                  "Tabrin will be removed from c:\\cvtools:");
    }
    std::string said = removal.unattended ? log : MessageBoxText(run.seen.back());
    EXPECT_NE(said.find(removal.said), std::string::npos) << said;
    if (removal.withoutShell) {
        EXPECT_EQ(MessageBoxText(run.seen[2]).substr(0, 47),
                  "Couldn't open DDE connection to Program Manager");
    }
    EXPECT_EQ(FileExists(GroupFolder()), removal.withoutShell);
    EXPECT_FALSE(Listed());
    EXPECT_EQ(ReadWholeFile(Startup), removal.startup);
    EXPECT_EQ(FileExists("c:\\autoexec.cv"), removal.said == LeftAlone);
    EXPECT_FALSE(FileExists("c:\\windows\\tabrin32.ini"));
    left.push_back(std::string(Viewer) + "\\uninst.exe");
    left.push_back(std::string(Viewer) + "\\uninst.ini");
    std::sort(left.begin(), left.end());
    EXPECT_EQ(FilesUnder(Base), left);

    // The restart: NT removes the uninstaller, its record and the folders left empty;
    // Windows 95 the two files; Windows 3.1 nothing.
    RunWineProgram("wineboot.exe -r");
    EXPECT_EQ(FileExists(std::string(Viewer) + "\\uninst.exe"), !NewShell() && !OnNt());
    EXPECT_EQ(FileExists(Viewer), !OnNt() || !removal.kept.empty());
    EXPECT_EQ(FileExists(Base), !OnNt() || left.size() > 2);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Removed, testing::ValuesIn(Removals),
                         [](const testing::TestParamInfo<Removal> &info) {
                             return std::string(info.param.name);
                         });

// What differs between two sorted listings, each line marked - (before only) or + (after),
// and printed.
std::vector<std::string> Differences(const char *what, const std::vector<std::string> &before,
                                     const std::vector<std::string> &after)
{
    std::vector<std::string> gone, come;
    std::set_difference(before.begin(), before.end(), after.begin(), after.end(),
                        std::back_inserter(gone));
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                        std::back_inserter(come));
    for (std::string &line : gone)
        line = "- " + line;
    for (const std::string &line : come)
        gone.push_back("+ " + line);
    printf("%s: %d lines before, %d after\n", what, (int)before.size(), (int)after.size());
    for (const std::string &line : gone)
        printf("%s: %s\n", what, line.c_str());
    return gone;
}

// Drive C: and the whole registry, as regedit exports it.
void ListMachine(std::vector<std::string> *files, std::vector<std::string> *registry)
{
    *files = FilesUnder("c:", true);
    RunWineProgram("regedit.exe /E c:\\listings\\registry.reg");
    std::string text = ReadWholeFile("c:\\listings\\registry.reg");
    registry->clear();
    std::string wide;  // regedit writes UTF-16 with CR LF; the listing keeps its ASCII lines
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        if (text[i] != '\r' || text[i + 1] != 0)
            wide += text[i + 1] == 0 ? text[i] : '?';
    for (size_t start = 0, end; (end = wide.find('\n', start)) != std::string::npos;
         start = end + 1)
        registry->push_back(wide.substr(start, end - start));
    std::sort(registry->begin(), registry->end());
}

// Install, remove, restart, install again, remove, restart: drive C: and the registry as
// before the first installation, but for the shell's own keys. The differences are printed.
TEST_F(RemovalTest, TwoInstallationsAndRemovalsLeaveTheMachineAsItWas)
{
    if (!OnNt())
        GTEST_SKIP() << "Windows 95 and 3.1 leave the folders, as the uninstaller says";
    // Wine makes a few settings of its own at the first window a program shows: the uninstaller
    // shows one where it has no record beside it, and changes nothing.
    auto idle = RunRobot(std::string(Disk) + "\\uninst.exe", {Ok}, false, Layer());
    ASSERT_EQ(idle.seen.size(), 1u);
    EXPECT_EQ(MessageBoxText(idle.seen[0]),
              "There is no record of an installation in c:\\disk1; nothing was removed.");
    EXPECT_EQ(idle.exitCode, 1u);
    std::vector<std::string> filesBefore, registryBefore, filesAfter, registryAfter;
    ListMachine(&filesBefore, &registryBefore);
    for (int round = 0; round < 2; round++) {
        Install(false);
        auto run = RunRobot(std::string(Viewer) + "\\uninst.exe", {Confirm, Progress, Yes, Ok},
                            false, Layer());
        EXPECT_EQ(run.exitCode, 0u);
        RunWineProgram("wineboot.exe -r");
    }
    ListMachine(&filesAfter, &registryAfter);
    EXPECT_TRUE(Differences("drive C:", filesBefore, filesAfter).empty());
    auto registry = Differences("registry", registryBefore, registryAfter);
    // Wine's shell keeps empty keys of its own for the folder windows that ShowGroup opened.
    for (const std::string &line : registry) {
        bool emptyKey = line.size() == 2 || line[2] == '[';
        EXPECT_TRUE(emptyKey && line.find("Tabrin") == std::string::npos) << line;
    }
}

}  // namespace
