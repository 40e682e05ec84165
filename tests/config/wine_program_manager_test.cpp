// The group as Wine's own Program Manager server stores it: a folder of the Programs
// menu with a shortcut for each item the server accepted.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <string>

#include "config.h"
#include "installer.h"
#include "scripted_user.h"
#include "wine_files.h"

static std::string Lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), ::tolower);
    return text;
}

TEST(WineProgramManager, GroupAndViewerItemAreStored)
{
    ASSERT_TRUE(WaitForProgramManager());
    strcpy(BaseDirectory, "c:\\cvtools");
    strcpy(ViewerSubdirectory, "tabrin");
    NewShell = (GetVersion() & 0xFF) >= 4;
    SHCreateDirectoryExA(NULL, "c:\\cvtools\\tabrin", NULL);
    WriteWholeFile("c:\\cvtools\\tabrin\\tabrin32.exe", "MZ sample");

    EXPECT_EQ(CreateProgramGroup(), 0);

    char programs[MAX_PATH];
    ASSERT_EQ(SHGetFolderPathA(NULL, CSIDL_PROGRAMS, NULL, 0, programs), S_OK);
    std::string group = std::string(programs) + "\\CV Tools";
    std::string shortcut;
    for (int attempt = 0; attempt < 120 && shortcut.empty(); attempt++) {
        shortcut = ReadWholeFile(group + "\\Tabrin.lnk");
        if (shortcut.empty())
            Sleep(500);
    }
    EXPECT_TRUE(FileExists(group));
    EXPECT_NE(Lowered(shortcut).find("c:\\cvtools\\tabrin\\tabrin32.exe"), std::string::npos);
}
