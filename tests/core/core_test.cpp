// Start-up, the base directory and the library copy, on real directories of the Wine
// drive C: and of drives mapped to throwaway folders.
#include <gtest/gtest.h>

#include <direct.h>
#include <stdlib.h>

#include "dialogs.h"
#include "installer.h"
#include "resource.h"
#include "scripted_user.h"
#include "wine_files.h"

class CoreTest : public testing::Test {
protected:
    void SetUp() override
    {
        InstanceHandle = GetModuleHandleA(NULL);
        UnattendedMode = 0;
        BaseDirectory[0] = ErrorText[0] = '\0';
        strcpy(ViewerSubdirectory, "tabrin");
        InitEnvironment();
        RemoveTree("c:\\cvtools");
        RemoveTree("c:\\apps");
    }
    void TearDown() override
    {
        EXPECT_EQ(CurrentDirectory(), StartDirectory);
    }
};

TEST(StartUp, CommandLineArgument)
{
    struct Case {
        const char *arguments, *baseDirectory;
        int unattended;
    } cases[] = {
        {"", "", 0},
        {"\"d:\\apps\\tools\"", "d:\\apps\\tools", 1},
        {"c:\\my \"quoted\" word ", "c:\\my quoted word ", 1},
        {"\"", "", 1},
    };
    for (const auto &c : cases) {
        BaseDirectory[0] = '\0';
        UnattendedMode = 0;
        TakeCommandLine(c.arguments);
        EXPECT_STREQ(BaseDirectory, c.baseDirectory) << c.arguments;
        EXPECT_EQ(UnattendedMode, c.unattended) << c.arguments;
    }
    std::string longArgument(300, 'a');
    TakeCommandLine(longArgument.c_str());
    EXPECT_EQ(std::string(BaseDirectory), longArgument.substr(0, 255));
}

TEST(StartUp, EnvironmentOfTheRunningProgram)
{
    InstanceHandle = GetModuleHandleA(NULL);
    NewShell = 0;
    InitEnvironment();
    // The test runner starts programs from drive X: with C:\ as working directory, and
    // sets the Windows version the prefix reports.
    EXPECT_STREQ(SourceDirectory, ProgramDirectory().c_str());
    EXPECT_EQ(SourceDirectory[strlen(SourceDirectory) - 1], '\\');
    EXPECT_STREQ(StartDirectory, CurrentDirectory().c_str());
    EXPECT_STREQ(BootDrive, "c:");
    const char *expected = getenv("EXPECT_NEW_SHELL");
    if (expected) {
        EXPECT_EQ(NewShell, atoi(expected)) << "GetVersion major " << (GetVersion() & 0xFF);
    }
}

TEST_F(CoreTest, ExistingDirectoryIsTakenWithoutQuestion)
{
    _mkdir("c:\\cvtools");
    ScriptUser({{"Tabrin Install - Directory", IDOK}});
    EXPECT_EQ(ChooseBaseDirectory(), 0);
    auto seen = StopScriptedUser();
    EXPECT_STREQ(BaseDirectory, "c:\\cvtools");
    EXPECT_EQ(seen[0].Text(IDC_EDIT_TEXT), "c:\\cvtools");
}

TEST_F(CoreTest, MissingDirectoryIsCreatedOnYesAndProposedAgainOnNo)
{
    ScriptUser({{"Tabrin Install - Directory", IDOK, IDC_EDIT_TEXT, "c:\\apps\\new\\"},
                {"Tabrin Install", IDNO},
                {"Tabrin Install - Directory", IDOK, IDC_EDIT_TEXT, "c:\\apps\\new\\\\"},
                {"Tabrin Install", IDYES}});
    EXPECT_EQ(ChooseBaseDirectory(), 0);
    auto seen = StopScriptedUser();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(MessageBoxText(seen[1]), "Directory 'c:\\apps\\new' does not exist.  Create it?");
    EXPECT_EQ(seen[2].Text(IDC_EDIT_TEXT), "c:\\cvtools");  // the default every time
    // One backslash is removed before the probe, the second after the loop.
    EXPECT_STREQ(BaseDirectory, "c:\\apps\\new");
    EXPECT_TRUE(FileExists("c:\\apps\\new"));
}

TEST_F(CoreTest, CancelEndsWithEmptyReason)
{
    strcpy(ErrorText, "stale");
    ScriptUser({{"Tabrin Install - Directory", PRESS_ESCAPE}});
    EXPECT_EQ(ChooseBaseDirectory(), 1);
    StopScriptedUser();
    EXPECT_STREQ(ErrorText, "");
}

TEST_F(CoreTest, DriveRootBecomesTheBareDrive)
{
    ScriptUser({{"Tabrin Install - Directory", IDOK, IDC_EDIT_TEXT, "d:\\"}});
    EXPECT_EQ(ChooseBaseDirectory(), 0);
    StopScriptedUser();
    EXPECT_STREQ(BaseDirectory, "d:");
}

TEST_F(CoreTest, UnattendedRunCreatesWithoutAskingAndFallsBackToTheDialog)
{
    UnattendedMode = 1;
    strcpy(BaseDirectory, "c:\\apps\\quiet");
    ScriptUser({});
    EXPECT_EQ(ChooseBaseDirectory(), 0);
    EXPECT_TRUE(StopScriptedUser().empty());
    EXPECT_TRUE(FileExists("c:\\apps\\quiet"));

    strcpy(BaseDirectory, "q:\\nowhere");
    ScriptUser({{"Tabrin Install", IDOK}, {"Tabrin Install - Directory", IDOK}});
    EXPECT_EQ(ChooseBaseDirectory(), 0);
    auto seen = StopScriptedUser();
    EXPECT_EQ(MessageBoxText(seen[0]), "Couldn't make directory");
    EXPECT_STREQ(BaseDirectory, "c:\\cvtools");  // created without a question
    EXPECT_TRUE(FileExists("c:\\cvtools"));
}

TEST_F(CoreTest, MakeDirectoryPathOnRealDrives)
{
    EXPECT_EQ(MakeDirectoryPath("e:\\a\\b\\c"), 0);
    EXPECT_EQ(CurrentDirectory(), "e:\\a\\b\\c");
    EXPECT_TRUE(FileExists("e:\\a\\b"));
    EXPECT_EQ(MakeDirectoryPath("e:\\x"), 0);
    EXPECT_EQ(MakeDirectoryPath("q:\\x"), -1);
    for (const char *refused : {"\\\\server\\share", "tools\\x", "c:", "1:\\x"})
        EXPECT_EQ(MakeDirectoryPath(refused), -1) << refused;
    SetCurrentDirectoryA(StartDirectory);
}

TEST_F(CoreTest, LibraryCopyFailuresNameTheFile)
{
    EXPECT_EQ(CopyFileBinary("c:\\copy.dll", "c:\\missing.dll"), 1);
    EXPECT_STREQ(ErrorText, "Can't open c:\\missing.dll for reading");

    WriteWholeFile("c:\\source.dll", "library bytes");
    _mkdir("c:\\adir");
    EXPECT_EQ(CopyFileBinary("c:\\adir", "c:\\source.dll"), 1);
    EXPECT_STREQ(ErrorText, "Can't open c:\\adir for writing");

    EXPECT_EQ(CopyFileBinary("c:\\copy.dll", "c:\\source.dll"), 0);
    EXPECT_EQ(ReadWholeFile("c:\\copy.dll"), "library bytes");
}

TEST_F(CoreTest, LibraryCopyOntoAFullDiskFailsAndLeavesNothing)
{
    // Drive F: is a tiny file system of its own, too small for the library.
    std::string big(256 * 1024, 'L');
    ASSERT_TRUE(WriteWholeFile("c:\\big.dll", big));
    EXPECT_EQ(CopyFileBinary("f:\\big.dll", "c:\\big.dll"), 1);
    EXPECT_STREQ(ErrorText, "Can't write f:\\big.dll");
    EXPECT_FALSE(FileExists("f:\\big.dll"));
}

TEST_F(CoreTest, InterpreterCountsAsInstalledOnlyWithBothFiles)
{
    strcpy(BaseDirectory, "c:\\cvtools");
    MakeDirectoryPath("c:\\cvtools\\cv4.03");
    SetCurrentDirectoryA(StartDirectory);
    EXPECT_EQ(InterpreterInstalled(), 0);
    WriteWholeFile("c:\\cvtools\\cv4.03\\cvdll32.dll", "x");
    EXPECT_EQ(InterpreterInstalled(), 0);
    WriteWholeFile("c:\\cvtools\\cv4.03\\cv_init.ps", "x");
    EXPECT_EQ(InterpreterInstalled(), 1);
}

TEST_F(CoreTest, ViewerSettingsEntryIsWrittenAndReplaced)
{
    WritePrivateProfileStringA("Options", "Configured", "1", "tabrin32.ini");
    EXPECT_EQ(WriteViewerSettings("tabrin32.ini"), 0);
    char value[16];
    GetPrivateProfileStringA("Options", "Configured", "", value, sizeof value, "tabrin32.ini");
    EXPECT_STREQ(value, "0");
    std::string ini = ReadWholeFile("c:\\windows\\tabrin32.ini");
    EXPECT_NE(ini.find("[Options]"), std::string::npos);
    EXPECT_NE(ini.find("Configured=0"), std::string::npos);
}
