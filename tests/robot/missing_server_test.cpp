// The real setup.exe where no DDE server answers "PROGMAN": this program and setup.exe run
// in a window station and desktop of their own, as a service's programs would, where Wine
// starts no shell and so no Program Manager server.
#include <gtest/gtest.h>

#include "robot.h"
#include "wine_files.h"

static const char Disk[] = "c:\\disk1";
static const char Startup[] = "@ECHO OFF\r\nPATH C:\\DOS\r\n";

// Moves this process and thread, which have no window yet, to a new window station and
// desktop; setup.exe, started from here, inherits both.
static bool EnterWindowStationWithoutShell()
{
    HWINSTA station = CreateWindowStationA("WithoutShell", 0, WINSTA_ALL_ACCESS, NULL);
    if (!station || !SetProcessWindowStation(station))
        return false;
    HDESK desktop = CreateDesktopA("Default", NULL, NULL, 0, GENERIC_ALL, NULL);
    return desktop && SetThreadDesktop(desktop);
}

static std::string SettingsEntry()
{
    char value[16] = "";
    GetPrivateProfileStringA("Options", "Configured", "", value, sizeof value, "tabrin32.ini");
    return value;
}

TEST(MissingProgramManager, ConnectionFailureIsShownOnceAndTheInstallationStays)
{
    ASSERT_TRUE(EnterWindowStationWithoutShell());
    ASSERT_FALSE(ProgramManagerAnswers(6));  // three seconds with the desktop up
    LayOutDisk(Disk);
    WriteWholeFile("c:\\autoexec.bat", Startup);

    auto run = RunSetup(Disk, "c:\\cvtools",
                        {WatchProgress, {"Tabrin Install", IDOK}, {"Tabrin Install", IDOK}});
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_EQ(run.seen.size(), 3u);
    EXPECT_EQ(MessageBoxText(run.seen[1]), "Couldn't open DDE connection to Program Manager\n");
    EXPECT_EQ(MessageBoxText(run.seen[2]), "Installation aborted\n");
    EXPECT_TRUE(FileExists("c:\\cvtools\\tabrin\\tabrin32.exe"));
    EXPECT_TRUE(FileExists("c:\\cvtools\\cv4.03\\fonts\\Fontmap"));
    EXPECT_EQ(ReadWholeFile("c:\\autoexec.bat"), std::string(Startup) + "SET TEMP=c:\\\r\n");
    EXPECT_EQ(ReadWholeFile("c:\\autoexec.cv"), Startup);
    EXPECT_EQ(SettingsEntry(), "0");
}
