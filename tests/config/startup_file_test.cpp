// The SET TEMP update of autoexec.bat on the Wine drive C:, with TEMP taken out of the
// environment of this process.
#include <gtest/gtest.h>

#include "config.h"
#include "installer.h"
#include "resource.h"
#include "scripted_user.h"
#include "wine_files.h"

static const char Startup[] = "c:\\autoexec.bat";
static const char Backup[] = "c:\\autoexec.cv";
static const char Original[] = "@ECHO OFF\r\nPROMPT $P$G\r\nPATH C:\\DOS\r\n";
static const char Added[] = "SET TEMP=c:\\\r\n";

// The files the update left in the root of drive C: besides the two known ones.
static std::vector<std::string> TemporaryFiles()
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA("c:\\CV*", &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do
            names.push_back(std::string("c:\\") + entry.cFileName);
        while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    return names;
}

class StartupFileTest : public testing::Test {
protected:
    void SetUp() override
    {
        InstanceHandle = GetModuleHandleA(NULL);
        strcpy(BootDrive, "c:");
        UnattendedMode = 0;
        ErrorText[0] = '\0';
        SetEnvironmentVariableA("TEMP", NULL);
        DeleteFileA(Startup);
        DeleteFileA(Backup);
        for (const auto &name : TemporaryFiles())
            DeleteFileA(name.c_str());
    }
};

TEST_F(StartupFileTest, NothingHappensWhenTheProcessHasTemp)
{
    WriteWholeFile(Startup, Original);
    for (const char *name : {"TEMP", "temp", "Temp"}) {
        SetEnvironmentVariableA("TEMP", NULL);
        SetEnvironmentVariableA(name, "c:\\windows\\temp");
        ScriptUser({});
        EXPECT_EQ(UpdateStartupFile(), 0);
        EXPECT_TRUE(StopScriptedUser().empty());
        EXPECT_EQ(ReadWholeFile(Startup), Original);
        EXPECT_FALSE(FileExists(Backup));
    }
}

TEST_F(StartupFileTest, MissingStartupFileFailsAfterTheDialog)
{
    for (int button : {IDOK, IDCANCEL}) {
        ScriptUser({{"Tabrin Install - Config", button}});
        EXPECT_EQ(UpdateStartupFile(), 1);
        StopScriptedUser();
        EXPECT_STREQ(ErrorText, "Can't open c:\\autoexec.bat for reading");
    }
}

TEST_F(StartupFileTest, UpdateReplacesTheFileAndKeepsTheOldOneAsBackup)
{
    std::string withCtrlZ = std::string(Original) + "\x1a" + "junk after the end";
    WriteWholeFile(Startup, withCtrlZ);
    ScriptUser({{"Tabrin Install - Config", IDOK}});
    EXPECT_EQ(UpdateStartupFile(), 0);
    EXPECT_EQ(StopScriptedUser().size(), 1u);  // no notice follows
    EXPECT_EQ(ReadWholeFile(Startup), std::string(Original) + Added);
    EXPECT_EQ(ReadWholeFile(Backup), withCtrlZ);
    EXPECT_TRUE(TemporaryFiles().empty());
}

TEST_F(StartupFileTest, DeclinedUpdateSavesTheCopyBesideTheFile)
{
    WriteWholeFile(Startup, Original);
    ScriptUser({{"Tabrin Install - Config", PRESS_ESCAPE}, {"Tabrin Install", IDOK}});
    EXPECT_EQ(UpdateStartupFile(), 0);
    auto seen = StopScriptedUser();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(MessageBoxText(seen[1]), "Changes were saved in c:\\autoexec.cv");
    EXPECT_EQ(ReadWholeFile(Startup), Original);
    EXPECT_EQ(ReadWholeFile(Backup), std::string(Original) + Added);
}

TEST_F(StartupFileTest, LongLinesAndAMissingLastLineEndAreCopiedWhole)
{
    std::string longLine = "REM " + std::string(3000, 'x');
    WriteWholeFile(Startup, longLine + "\r\nPATH C:\\DOS");
    UnattendedMode = 1;
    EXPECT_EQ(UpdateStartupFile(), 0);
    EXPECT_EQ(ReadWholeFile(Startup), longLine + "\r\nPATH C:\\DOS\r\n" + Added);
}

TEST_F(StartupFileTest, ExistingBackupIsReplacedOnlyWithConsent)
{
    WriteWholeFile(Startup, Original);
    WriteWholeFile(Backup, "older backup");
    ScriptUser({{"Tabrin Install - Config", IDOK}, {"Tabrin Install", IDNO}});
    EXPECT_EQ(UpdateStartupFile(), 0);
    auto seen = StopScriptedUser();
    EXPECT_EQ(MessageBoxText(seen[1]), "File c:\\autoexec.cv exists.  Overwrite?");
    EXPECT_EQ(ReadWholeFile(Startup), Original);
    EXPECT_EQ(ReadWholeFile(Backup), "older backup");
    auto left = TemporaryFiles();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(ReadWholeFile(left[0]), std::string(Original) + Added);
    EXPECT_EQ(left[0].size(), strlen("c:\\CV") + 6);
}

TEST_F(StartupFileTest, TwoUnattendedRunsAppendTwiceAndReplaceTheBackup)
{
    WriteWholeFile(Startup, Original);
    UnattendedMode = 1;
    ScriptUser({});
    EXPECT_EQ(UpdateStartupFile(), 0);
    EXPECT_EQ(UpdateStartupFile(), 0);
    EXPECT_TRUE(StopScriptedUser().empty());
    EXPECT_EQ(ReadWholeFile(Startup), std::string(Original) + Added + Added);
    EXPECT_EQ(ReadWholeFile(Backup), std::string(Original) + Added);
}

TEST_F(StartupFileTest, FullDiskLeavesEverythingAsItWas)
{
    // Drive F: is a 64 KiB file system: the copy of a 40 KiB start-up file cannot fit.
    strcpy(BootDrive, "f:");
    std::string big;
    while (big.size() < 40 * 1024)
        big += "REM a line of the start-up file that fills the disk\r\n";
    ASSERT_TRUE(WriteWholeFile("f:\\autoexec.bat", big));
    UnattendedMode = 1;
    EXPECT_EQ(UpdateStartupFile(), 1);
    EXPECT_EQ(std::string(ErrorText).substr(0, 15), "Can't write f:\\");
    EXPECT_EQ(ReadWholeFile("f:\\autoexec.bat"), big);
    EXPECT_FALSE(FileExists("f:\\autoexec.cv"));
    WIN32_FIND_DATAA entry;
    EXPECT_EQ(FindFirstFileA("f:\\CV*", &entry), INVALID_HANDLE_VALUE);
}

TEST_F(StartupFileTest, FailedMovePutsTheOldFileBack)
{
    WriteWholeFile(Startup, Original);
    WriteWholeFile(Backup, "older backup");
    // While the overwrite question is up, another program holds the new copy open, so
    // it cannot be moved into place.
    HANDLE held = INVALID_HANDLE_VALUE;
    auto holdCopy = [&held] {
        auto left = TemporaryFiles();
        ASSERT_EQ(left.size(), 1u);
        held = CreateFileA(left[0].c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    };
    ScriptUser({{"Tabrin Install - Config", IDOK}, {"Tabrin Install", IDYES, 0, "", BN_CLICKED, holdCopy}});
    EXPECT_EQ(UpdateStartupFile(), 1);
    StopScriptedUser();
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    CloseHandle(held);
    EXPECT_EQ(std::string(ErrorText).substr(0, 17), "Error renaming c:");
    EXPECT_EQ(ReadWholeFile(Startup), Original);
}

// A power cut between the two renames leaves no start-up file, the old one as the backup and
// the new one under its temporary name: the next run finishes that update, and only that.
TEST_F(StartupFileTest, InterruptedUpdateIsFinishedOnlyOnItsOwnEvidence)
{
    const std::string copy = std::string(Original) + Added;
    struct {
        const char *what;
        std::string backup, temporary;
        bool temp, finished;
    } cases[] = {
        {"the update's own copy", Original, copy, false, true},
        {"the same, TEMP set by now", Original, copy, true, true},
        {"a copy cut short", Original, copy.substr(0, copy.size() - 3), false, false},
        {"a copy of another file", "@ECHO ON\r\n", copy, false, false},
    };
    for (const auto &c : cases) {
        SetUp();
        WriteWholeFile(Backup, c.backup);
        WriteWholeFile("c:\\CVa01234", c.temporary);
        if (c.temp)
            SetEnvironmentVariableA("TEMP", "c:\\");
        UnattendedMode = 1;
        EXPECT_EQ(UpdateStartupFile(), c.finished ? 0 : 1) << c.what;
        EXPECT_EQ(FileExists(Startup), c.finished) << c.what;
        EXPECT_EQ(ReadWholeFile(c.finished ? Startup : "c:\\CVa01234"), c.temporary) << c.what;
        EXPECT_EQ(ReadWholeFile(Backup), c.backup) << c.what;
        if (!c.finished) {
            EXPECT_STREQ(ErrorText, "Can't open c:\\autoexec.bat for reading") << c.what;
        }
    }
}
