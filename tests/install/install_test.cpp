// The whole installation sequence in this process, with the real unzip library and the
// sample archives beside the test program, on the Wine drive C:.
#include <gtest/gtest.h>

#include <direct.h>
#include <shlobj.h>

#include "installer.h"
#include "progress.h"
#include "resource.h"
#include "scripted_user.h"
#include "wine_files.h"

static const UserAction Progress = {"Tabrin Install - Unzipping", PRESS_NOTHING};

class InstallTest : public testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(WaitForProgramManager()); }
    void SetUp() override
    {
        InstanceHandle = GetModuleHandleA(NULL);
        strcpy(ViewerSubdirectory, "tabrin");
        memset(&ProgressLog, 0, sizeof ProgressLog);
        ErrorText[0] = '\0';
        UnattendedMode = 1;
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
