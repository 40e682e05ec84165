// The group as Wine's own Program Manager server stores it: a folder of the Programs
// menu with a shortcut for each item the server accepted.
#include <gtest/gtest.h>

#include <direct.h>
#include <shlobj.h>

#include <algorithm>
#include <string>

#include "config.h"
#include "installer.h"
#include "wine_files.h"

// The server lives in the desktop process, which may answer only some time after start.
static bool ProgramManagerAnswers()
{
    DWORD instance = 0;
    DdeInitializeA(&instance, ProgramGroupDdeCallback, APPCMD_CLIENTONLY, 0);
    HSZ service = DdeCreateStringHandleA(instance, "PROGMAN", CP_WINANSI);
    bool answered = false;
    for (int attempt = 0; attempt < 600 && !answered; attempt++) {
        HCONV conversation = DdeConnect(instance, service, service, NULL);
        answered = conversation != NULL;
        if (conversation)
            DdeDisconnect(conversation);
        else
            Sleep(500);
    }
    DdeUninitialize(instance);
    return answered;
}

static std::string Lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), ::tolower);
    return text;
}

TEST(WineProgramManager, GroupAndViewerItemAreStored)
{
    CreateWindowA("STATIC", "", 0, 0, 0, 0, 0, NULL, NULL, NULL, NULL);  // starts the desktop
    ASSERT_TRUE(ProgramManagerAnswers());
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
