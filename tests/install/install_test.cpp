// The whole installation sequence in this process, with the real unzip library and the
// sample archives beside the test program, on the Wine drive C:.
#include <gtest/gtest.h>

#include <direct.h>
#include <shlobj.h>

#include "installer.h"
#include "progress.h"
#include "resource.h"
#include "scripted_user.h"
#include "windows95_kernel.h"
#include "wine_files.h"

static const UserAction Progress = {"Tabrin Install - Unzipping", PRESS_NOTHING};

// With --windows95 every test runs with this program's KERNEL32 calls, and those of the
// unzip library it loads, behaving as on Windows 95. The test program's own wide-character
// imports come from its C++ runtime, not from the installer, and are left alone.
static bool OnWindows95() { return strstr(GetCommandLineA(), " --windows95") != NULL; }

// A run that fails in the extraction waits until the user closes the progress window. A
// test must fail then, not hang: a timer on this thread, which fires inside every message
// loop of the run, closes the window as soon as the log ends in "unzip error".
static void CALLBACK CloseProgressWindowOnError(HWND, UINT, UINT_PTR, DWORD)
{
    static const char Error[] = "unzip error";
    size_t length = ProgressLog.length;
    if (ProgressWindow && length >= sizeof Error - 1 &&
        memcmp(ProgressLog.text + length - (sizeof Error - 1), Error, sizeof Error - 1) == 0)
        PostMessageA(ProgressWindow, WM_COMMAND, IDCANCEL, 0);
}

static void PrepareRun()
{
    static bool watching = false;
    if (!watching)
        watching = SetTimer(NULL, 0, 100, CloseProgressWindowOnError) != 0;
    if (OnWindows95())
        EmulateWindows95Kernel(GetModuleHandleA(NULL));
    InstanceHandle = GetModuleHandleA(NULL);
    strcpy(ViewerSubdirectory, "tabrin");
    memset(&ProgressLog, 0, sizeof ProgressLog);
    ErrorText[0] = '\0';
    UnattendedMode = 1;
}

class InstallTest : public testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(WaitForProgramManager()); }
    void SetUp() override
    {
        PrepareRun();
        RemoveTree("c:\\cvtools");
        RemoveTree("c:\\tabrin");
        RemoveTree("c:\\cv4.03");
    }
    void TearDown() override
    {
        EXPECT_FALSE(FileExists(ExtractorPath)) << ExtractorPath;
        EXPECT_EQ(CurrentDirectory(), StartDirectory);
    }
    std::string Log() { return std::string(ProgressLog.text, ProgressLog.length); }
};

static void ExpectViewer(const std::string &directory)
{
    for (const char *name : {"tabrin32.exe", "tabrin32.ico", "README.TXT", "LICENCE"})
        EXPECT_TRUE(FileExists(directory + "\\" + name)) << directory << "\\" << name;
}

static void ExpectInterpreter(const std::string &directory, bool present)
{
    for (const char *name : {"cvdll32.dll", "cvwin32.exe", "cv_init.ps", "cvtext.ico", "README",
                             "PUBLIC", "fonts"})
        EXPECT_EQ(FileExists(directory + "\\" + name), present) << directory << "\\" << name;
}

TEST_F(InstallTest, UnattendedRunInstallsEverythingUnderTheBaseDirectory)
{
    strcpy(BaseDirectory, "c:\\cvtools");
    ScriptUser({Progress});
    EXPECT_EQ(RunInstall(), 0) << ErrorText;
    StopScriptedUser();
    EXPECT_STREQ(ExtractorPath, "c:\\cvtools\\tabrin\\wizunz32.dll");
    ExpectViewer("c:\\cvtools\\tabrin");
    ExpectInterpreter("c:\\cvtools\\cv4.03", true);
    for (const char *archive : {"tabrin.zip", "cv403ini.zip", "cv403w32.zip", "cv403fn1.zip"})
        EXPECT_NE(Log().find(std::string("Unzipping ") + SourceDirectory + archive + "\r\n"),
                  std::string::npos)
            << archive;
    char value[8];
    GetPrivateProfileStringA("Options", "Configured", "", value, sizeof value, "tabrin32.ini");
    EXPECT_STREQ(value, "0");
}

TEST_F(InstallTest, BareDriveInstallsIntoTheDriveRoot)
{
    strcpy(BaseDirectory, "c:");
    ScriptUser({Progress});
    EXPECT_EQ(RunInstall(), 0) << ErrorText;
    StopScriptedUser();
    EXPECT_STREQ(ExtractorPath, "c:\\tabrin\\wizunz32.dll");
    ExpectViewer("c:\\tabrin");
    ExpectInterpreter("c:\\cv4.03", true);
}

TEST_F(InstallTest, InstalledInterpreterIsSkippedOnYes)
{
    SHCreateDirectoryExA(NULL, "c:\\cvtools\\cv4.03", NULL);
    WriteWholeFile("c:\\cvtools\\cv4.03\\cvdll32.dll", "x");
    WriteWholeFile("c:\\cvtools\\cv4.03\\cv_init.ps", "x");
    strcpy(BaseDirectory, "c:\\cvtools");
    ScriptUser({Progress, {"Tabrin Install", IDYES}});
    EXPECT_EQ(RunInstall(), 0) << ErrorText;
    auto seen = StopScriptedUser();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(MessageBoxText(seen[1]),
              "Corvane 4.03 appears to be already installed.  Skip installation of Corvane?");
    ExpectViewer("c:\\cvtools\\tabrin");
    EXPECT_FALSE(FileExists("c:\\cvtools\\cv4.03\\fonts"));
    EXPECT_EQ(ReadWholeFile("c:\\cvtools\\cv4.03\\cvdll32.dll"), "x");
}

TEST_F(InstallTest, InterpreterWithOneFileIsInstalledWithoutAsking)
{
    SHCreateDirectoryExA(NULL, "c:\\cvtools\\cv4.03", NULL);
    WriteWholeFile("c:\\cvtools\\cv4.03\\cvdll32.dll", "x");
    strcpy(BaseDirectory, "c:\\cvtools");
    ScriptUser({Progress});
    EXPECT_EQ(RunInstall(), 0) << ErrorText;
    StopScriptedUser();
    ExpectInterpreter("c:\\cvtools\\cv4.03", true);
    EXPECT_NE(ReadWholeFile("c:\\cvtools\\cv4.03\\cvdll32.dll"), "x");
}

TEST_F(InstallTest, InteractiveRunWithCancelInTheIntroductionEndsAtOnce)
{
    UnattendedMode = 0;
    ScriptUser({{"Tabrin Install - Introduction", IDCANCEL}});
    EXPECT_EQ(RunInstall(), 1);
    StopScriptedUser();
    EXPECT_STREQ(ErrorText, "");
    EXPECT_FALSE(FileExists("c:\\cvtools"));
}

// Names of the library's temporary files (uzXXXX.tmp) left anywhere under a directory.
static std::vector<std::string> Temporaries(const std::string &directory)
{
    std::vector<std::string> found;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((directory + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return found;
    do {
        std::string name = data.cFileName, path = directory + "\\" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (name != "." && name != "..")
                for (const std::string &inner : Temporaries(path))
                    found.push_back(inner);
        } else if (_strnicmp(name.c_str(), "uz", 2) == 0 && name.size() > 4 &&
                   _stricmp(name.c_str() + name.size() - 4, ".tmp") == 0) {
            found.push_back(path);
        }
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return found;
}

// A repair: the same installation again over a complete one, the interpreter too, so that
// the library replaces every file.
TEST_F(InstallTest, SecondInstallationReplacesTheFirst)
{
    strcpy(BaseDirectory, "c:\\cvtools");
    ScriptUser({Progress});
    ASSERT_EQ(RunInstall(), 0) << ErrorText;
    StopScriptedUser();
    WriteWholeFile("c:\\cvtools\\cv4.03\\cvdll32.dll", "damaged");
    ScriptUser({Progress, {"Tabrin Install", IDNO}});
    EXPECT_EQ(RunInstall(), 0) << ErrorText << Log();
    StopScriptedUser();
    ExpectViewer("c:\\cvtools\\tabrin");
    ExpectInterpreter("c:\\cvtools\\cv4.03", true);
    EXPECT_NE(ReadWholeFile("c:\\cvtools\\cv4.03\\cvdll32.dll"), "damaged");
    EXPECT_EQ(Temporaries("c:\\cvtools"), std::vector<std::string>{});
}

static const char ViewerDirectory[] = "C:\\CVTOOLS\\TABRIN\\";

// The setup program started from the very directory it installs the viewer into, under
// another spelling of it: this program, the library and the archives are copied there, and
// the copy runs the test below.
TEST_F(InstallTest, RunFromTheViewerDirectoryKeepsTheLibrary)
{
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, sizeof self);
    std::string program = strrchr(self, '\\') + 1;
    std::string library = ReadWholeFile(ProgramDirectory() + "wizunz32.dll");
    ASSERT_FALSE(library.empty());
    SHCreateDirectoryExA(NULL, ViewerDirectory, NULL);
    for (std::string name : {program.c_str(), "wizunz32.dll", "tabrin.zip", "cv403ini.zip",
                             "cv403w32.zip", "cv403fn1.zip"})
        ASSERT_TRUE(CopyFileA((ProgramDirectory() + name).c_str(),
                              (ViewerDirectory + name).c_str(), FALSE))
            << name;
    DWORD exitCode = 1;
    ASSERT_TRUE(RunAnsweringMessages(ViewerDirectory + program +
                                         " --gtest_filter=FromTheViewerDirectory.*" +
                                         (OnWindows95() ? " --windows95" : ""),
                                     &exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_TRUE(ReadWholeFile("c:\\cvtools\\tabrin\\wizunz32.dll") == library)
        << "the library copied onto itself lost its bytes";
    ExpectViewer("c:\\cvtools\\tabrin");
    ExpectInterpreter("c:\\cvtools\\cv4.03", true);
    ExtractorPath[0] = '\0';  // the library stays, as it should
}

TEST(FromTheViewerDirectory, InstallsAndKeepsItsLibrary)
{
    if (_stricmp(ProgramDirectory().c_str(), ViewerDirectory) != 0)
        GTEST_SKIP() << "run by RunFromTheViewerDirectoryKeepsTheLibrary from " << ViewerDirectory;
    ASSERT_TRUE(WaitForProgramManager());
    PrepareRun();
    strcpy(BaseDirectory, "c:\\cvtools");
    ScriptUser({Progress});
    EXPECT_EQ(RunInstall(), 0) << ErrorText;
    StopScriptedUser();
    EXPECT_STREQ(SourceDirectory, ViewerDirectory);
    EXPECT_TRUE(FileExists(ExtractorPath)) << ExtractorPath;
}
