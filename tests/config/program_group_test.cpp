// The Program Manager group: the commands as a recording DDE server receives them, and
// what Wine's own Program Manager server makes of them.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>
#include <vector>

#include "config.h"
#include "installer.h"
#include "scripted_user.h"
#include "wine_files.h"

// A DDE server for "PROGMAN" on a thread of its own that keeps every execute command.
static std::vector<std::string> Received;
static DWORD ServerThread;
static HANDLE ServerReady;

static HDDEDATA CALLBACK RecordCommand(UINT type, UINT, HCONV, HSZ, HSZ, HDDEDATA data, ULONG_PTR,
                                       ULONG_PTR)
{
    switch (type) {
    case XTYP_CONNECT:
        return (HDDEDATA)TRUE;
    case XTYP_EXECUTE: {
        DWORD size = DdeGetData(data, NULL, 0, 0);
        std::string bytes(size, '\0');
        DdeGetData(data, (LPBYTE)&bytes[0], size, 0);
        Received.push_back(bytes);
        return (HDDEDATA)DDE_FACK;
    }
    }
    return NULL;
}

static DWORD WINAPI ServeProgramManager(void *)
{
    DWORD instance = 0;
    DdeInitializeA(&instance, RecordCommand, APPCLASS_STANDARD | CBF_SKIP_ALLNOTIFICATIONS, 0);
    HSZ service = DdeCreateStringHandleA(instance, "PROGMAN", CP_WINANSI);
    DdeNameService(instance, service, NULL, DNS_REGISTER);
    MSG message;
    PeekMessageA(&message, NULL, 0, 0, PM_NOREMOVE);  // the thread's queue exists now
    SetEvent(ServerReady);
    while (GetMessageA(&message, NULL, 0, 0) > 0)
        DispatchMessageA(&message);
    DdeNameService(instance, service, NULL, DNS_UNREGISTER);
    DdeUninitialize(instance);
    return 0;
}

static std::vector<std::string> CommandsFor(const char *base, int newShell)
{
    strcpy(BaseDirectory, base);
    strcpy(ViewerSubdirectory, "tabrin");
    NewShell = newShell;
    Received.clear();
    EXPECT_EQ(CreateProgramGroup(), 0);
    return Received;
}

// Each command arrives with its terminating NUL.
static std::vector<std::string> WithNul(std::vector<std::string> commands)
{
    for (auto &command : commands)
        command += '\0';
    return commands;
}

class ProgramGroupTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ServerReady = CreateEventA(NULL, TRUE, FALSE, NULL);
        CreateThread(NULL, 0, ServeProgramManager, NULL, 0, &ServerThread);
        WaitForSingleObject(ServerReady, 60000);
    }
    static void TearDownTestSuite() { PostThreadMessageA(ServerThread, WM_QUIT, 0, 0); }
};

TEST_F(ProgramGroupTest, NewShellCommands)
{
    EXPECT_EQ(CommandsFor("c:\\cvtools", 1), WithNul({
        "[CreateGroup(\"CV Tools\",cvtools.grp)][ShowGroup(\"CV Tools\",1)]",
        "[ReplaceItem(\"Tabrin\")]",
        "[AddItem(\"c:\\cvtools\\tabrin\\tabrin32.exe\",\"Tabrin\")]",
        "[ReplaceItem(\"Tabrin README\")]",
        "[AddItem(\"notepad.exe\" \"c:\\cvtools\\tabrin\\README.TXT\",\"Tabrin README\",\"notepad.exe\",1)]",
        "[ReplaceItem(\"Corvane\")]",
        "[AddItem(\"c:\\cvtools\\cv4.03\\cvwin32.exe\" \"-Ic:\\cvtools\\cv4.03;c:\\cvtools\\cv4.03\\fonts\",\"Corvane\")]",
        "[ReplaceItem(\"Corvane README\")]",
        "[AddItem(\"notepad.exe\" \"c:\\cvtools\\cv4.03\\README.\",\"Corvane README\", \"notepad.exe\",1)]",
    }));
}

TEST_F(ProgramGroupTest, OldShellCommandsWithSpacesInTheBaseDirectory)
{
    EXPECT_EQ(CommandsFor("c:\\my tools", 0), WithNul({
        "[CreateGroup(\"CV Tools\",cvtools.grp)][ShowGroup(\"CV Tools\",1)]",
        "[ReplaceItem(\"Tabrin\")]",
        "[AddItem(\"c:\\my tools\\tabrin\\tabrin32.exe\",\"Tabrin\", \"c:\\my tools\\tabrin\\tabrin32.ico\")]",
        "[ReplaceItem(\"Tabrin README\")]",
        "[AddItem(\"notepad.exe c:\\my tools\\tabrin\\README.TXT\",\"Tabrin README\")]",
        "[ReplaceItem(\"Corvane\")]",
        "[AddItem(\"c:\\my tools\\cv4.03\\cvwin32.exe -Ic:\\my tools\\cv4.03;c:\\my tools\\cv4.03\\fonts\",\"Corvane\", \"c:\\my tools\\cv4.03\\cvtext.ico\")]",
        "[ReplaceItem(\"Corvane README\")]",
        "[AddItem(\"notepad.exe c:\\my tools\\cv4.03\\README.\",\"Corvane README\")]",
    }));
}

TEST_F(ProgramGroupTest, LongestBaseDirectoryIsSentWhole)
{
    std::string base = "c:\\" + std::string(252, 'l');
    auto commands = CommandsFor(base.c_str(), 0);
    ASSERT_EQ(commands.size(), 9u);
    std::string interpreter = base + "\\cv4.03";
    EXPECT_EQ(commands[6], "[AddItem(\"" + interpreter + "\\cvwin32.exe -I" + interpreter + ";" +
                               interpreter + "\\fonts\",\"Corvane\", \"" + interpreter +
                               "\\cvtext.ico\")]" + '\0');
}
