// The real setup.exe driven from outside as a user would: every dialog and box it shows,
// in order, and what it leaves on the Wine drive C:.
#include <gtest/gtest.h>

#include <shlobj.h>

#include "resource.h"
#include "robot.h"
#include "wine_files.h"

static const char Disk[] = "c:\\disk1";
static const char Startup[] = "@ECHO OFF\r\nPATH C:\\DOS\r\n";

class SetupRobotTest : public testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(WaitForProgramManager()); }
    void SetUp() override
    {
        for (const char *path : {"c:\\disk1", "c:\\disk2", "c:\\cvtools", "c:\\apps"})
            RemoveTree(path);
        DeleteFileA("c:\\autoexec.cv");
        WriteWholeFile("c:\\autoexec.bat", Startup);
        LayOutDisk(Disk);
        SHCreateDirectoryExA(NULL, "c:\\disk2", NULL);
    }
};


TEST_F(SetupRobotTest, FullInteractiveRun)
{
    auto run = RunSetup(Disk, "",
                        {{"Tabrin Install - Introduction", PRESS_ENTER},
                         {"Tabrin Install - Copyright", IDOK},
                         {"Tabrin Install - Directory", IDOK, IDC_EDIT_TEXT, "c:\\apps\\tools\\"},
                         {"Tabrin Install", IDYES},
                         WatchProgress,
                         {"Tabrin Install - Config", IDOK},
                         {"Tabrin Install", IDOK}});
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_EQ(run.seen.size(), 7u);
    EXPECT_EQ(run.seen[2].Text(IDC_EDIT_TEXT), "c:\\cvtools");
    EXPECT_EQ(MessageBoxText(run.seen[3]),
              "Directory 'c:\\apps\\tools' does not exist.  Create it?");
    EXPECT_EQ(MessageBoxText(run.seen[6]), "Installation successful.\rA Program Manager group "
                                           "named \"CV Tools\" has been created.");
    EXPECT_TRUE(FileExists("c:\\apps\\tools\\tabrin\\tabrin32.exe"));
    EXPECT_TRUE(FileExists("c:\\apps\\tools\\cv4.03\\fonts"));
    EXPECT_FALSE(FileExists("c:\\apps\\tools\\tabrin\\wizunz32.dll"));
    EXPECT_EQ(ReadWholeFile("c:\\autoexec.bat"), std::string(Startup) + "SET TEMP=c:\\\r\n");
    EXPECT_EQ(ReadWholeFile("c:\\autoexec.cv"), Startup);
}

TEST_F(SetupRobotTest, CancelAtEachDialogAbortsWithAnEmptyReason)
{
    std::vector<std::vector<UserAction>> scripts = {
        {{"Tabrin Install - Introduction", IDCANCEL}},
        {{"Tabrin Install - Introduction", IDOK}, {"Tabrin Install - Copyright", PRESS_CLOSE_BOX}},
        {{"Tabrin Install - Introduction", IDOK},
         {"Tabrin Install - Copyright", IDOK},
         {"Tabrin Install - Directory", PRESS_ESCAPE}},
    };
    for (auto script : scripts) {
        script.push_back({"Tabrin Install", IDOK});
        auto run = RunSetup(Disk, "", script);
        EXPECT_EQ(run.exitCode, 0u);
        ASSERT_FALSE(run.seen.empty());
        EXPECT_EQ(MessageBoxText(run.seen.back()), "Installation aborted\n");
    }
    EXPECT_FALSE(FileExists("c:\\cvtools"));
}

TEST_F(SetupRobotTest, MissingArchiveIsFoundWhereTheUserPoints)
{
    MoveFileA("c:\\disk1\\cv403w32.zip", "c:\\disk2\\cv403w32.zip");
    auto run = RunSetup(Disk, "c:\\cvtools",
                        {WatchProgress,
                         {"Tabrin Install - Missing ZIP file", IDOK, IDC_EDIT_TEXT,
                          "c:\\disk2\\cv403w32.zip"}},
                        true);
    EXPECT_TRUE(run.finished);
    ASSERT_EQ(run.seen.size(), 2u);
    EXPECT_EQ(run.seen[1].Text(IDC_EDIT_TEXT), "c:\\disk1\\cv403w32.zip");
    EXPECT_TRUE(FileExists("c:\\cvtools\\cv4.03\\cvdll32.dll"));
}

TEST_F(SetupRobotTest, CancelledDiskPromptKeepsTheLogUntilTheUserClosesIt)
{
    DeleteFileA("c:\\disk1\\cv403w32.zip");
    std::string log, clipboard;
    bool closed = false;
    UserAction watch = WatchProgress;
    watch.meanwhile = [&] {
        if (closed)
            return;  // the window may be on its way out, its text with it
        log = ControlText(RobotWindow, IDC_PROGRESS_LOG);
        if (!EndsInUnzipError(log))
            return;
        Photograph(RobotWindow, "progress window after a failure");
        SendMessageA(RobotWindow, WM_COMMAND, IDC_PROGRESS_COPY, 0);
        if (OpenClipboard(NULL)) {
            HANDLE data = GetClipboardData(CF_TEXT);
            clipboard = data ? (const char *)GlobalLock(data) : "";
            if (data)
                GlobalUnlock(data);
            CloseClipboard();
        }
        PostMessageA(RobotWindow, WM_COMMAND, IDCANCEL, 0);
        closed = true;
    };
    auto run = RunSetup(Disk, "c:\\cvtools",
                        {watch, {"Tabrin Install - Missing ZIP file", IDCANCEL},
                         {"Tabrin Install", IDOK}},
                        true);
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(MessageBoxText(run.seen.back()), "Installation aborted\n");
    EXPECT_NE(log.find("Unzipping c:\\disk1\\cv403ini.zip\r\n"), std::string::npos);
    EXPECT_EQ(clipboard, log);
    EXPECT_TRUE(FileExists("c:\\cvtools\\cv4.03\\cv_init.ps"));  // the archives before stay
    EXPECT_FALSE(FileExists("c:\\cvtools\\tabrin\\wizunz32.dll"));
}

TEST_F(SetupRobotTest, EscapeInTheConfigDialogSavesTheCopyBeside)
{
    auto run = RunSetup(Disk, "", {{"Tabrin Install - Introduction", IDOK},
                                   {"Tabrin Install - Copyright", IDOK},
                                   {"Tabrin Install - Directory", IDOK},
                                   {"Tabrin Install", IDYES},
                                   WatchProgress,
                                   {"Tabrin Install - Config", PRESS_ESCAPE},
                                   {"Tabrin Install", IDOK},
                                   {"Tabrin Install", IDOK}});
    ASSERT_EQ(run.seen.size(), 8u);
    EXPECT_EQ(MessageBoxText(run.seen[6]), "Changes were saved in c:\\autoexec.cv");
    EXPECT_EQ(ReadWholeFile("c:\\autoexec.bat"), Startup);
}

TEST_F(SetupRobotTest, ClosingTheProgressWindowCancelsTheInstallation)
{
    // The user closes the progress window while the disk prompt is up, then points the
    // prompt at the archive: it is extracted, and the installation stops there.
    MoveFileA("c:\\disk1\\cv403ini.zip", "c:\\disk2\\cv403ini.zip");
    UserAction prompt = {"Tabrin Install - Missing ZIP file", IDOK, IDC_EDIT_TEXT,
                         "c:\\disk2\\cv403ini.zip"};
    prompt.meanwhile = [] {
        PostMessageA(FindWindowA(NULL, "Tabrin Install - Unzipping"), WM_COMMAND, IDCANCEL, 0);
    };
    auto run = RunSetup(Disk, "c:\\cvtools", {WatchProgress, prompt, {"Tabrin Install", IDOK}}, true);
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(MessageBoxText(run.seen.back()), "Installation aborted\nUnzip cancelled");
    EXPECT_TRUE(FileExists("c:\\cvtools\\cv4.03\\cv_init.ps"));
    EXPECT_FALSE(FileExists("c:\\cvtools\\cv4.03\\cvdll32.dll"));
    EXPECT_FALSE(FileExists("c:\\cvtools\\tabrin\\wizunz32.dll"));
}

TEST_F(SetupRobotTest, SetupRunFromTheViewerDirectoryKeepsItsLibrary)
{
    // The distribution copied into the very directory the viewer is installed into, and
    // started under another spelling of that directory.
    SHCreateDirectoryExA(NULL, "c:\\cvtools\\tabrin", NULL);
    std::string library = ReadWholeFile(ProgramDirectory() + "wizunz32.dll");
    for (std::string name : {"setup.exe", "wizunz32.dll", "tabrin.zip", "cv403ini.zip",
                             "cv403w32.zip", "cv403fn1.zip"})
        CopyFileA((std::string(Disk) + "\\" + name).c_str(), ("c:\\cvtools\\tabrin\\" + name).c_str(),
                  FALSE);
    auto run = RunSetup("C:\\CVTOOLS\\TABRIN", "c:\\cvtools", {WatchProgress}, true);
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(run.seen.size(), 1u);
    EXPECT_EQ(ReadWholeFile("c:\\cvtools\\tabrin\\wizunz32.dll"), library);
    EXPECT_TRUE(FileExists("c:\\cvtools\\cv4.03\\cvdll32.dll"));
}

TEST_F(SetupRobotTest, InstalledInterpreterIsReinstalledOnNo)
{
    SHCreateDirectoryExA(NULL, "c:\\cvtools\\cv4.03", NULL);
    WriteWholeFile("c:\\cvtools\\cv4.03\\cvdll32.dll", "old");
    WriteWholeFile("c:\\cvtools\\cv4.03\\cv_init.ps", "old");
    auto run = RunSetup(Disk, "c:\\cvtools", {WatchProgress, {"Tabrin Install", IDNO}}, true);
    EXPECT_TRUE(run.finished);
    ASSERT_EQ(run.seen.size(), 2u);
    EXPECT_EQ(MessageBoxText(run.seen[1]),
              "Corvane 4.03 appears to be already installed.  Skip installation of Corvane?");
    EXPECT_NE(ReadWholeFile("c:\\cvtools\\cv4.03\\cvdll32.dll"), "old");
    EXPECT_TRUE(FileExists("c:\\cvtools\\cv4.03\\fonts"));
}
