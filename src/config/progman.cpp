// Program group creation: the "CV Tools" group and its four items, sent to Program
// Manager as DDE execute commands.
#include <stdio.h>
#include <string.h>

#include "config.h"
#include "dialogs.h"
#include "installer.h"

static const char ViewerProgram[] = "tabrin32.exe";
static const char InterpreterSubdirectory[] = "cv4.03";
static const char InterpreterProgram[] = "cvwin32.exe";
enum { COMMAND_TIMEOUT_MS = 2000 };

// Every argument of a command is at most 255 characters, so the longest command (the
// interpreter item with four copies of the base directory) always fits whole: Program
// Manager, not this program, decides what it accepts.
enum { COMMAND_CAPACITY = 2048 };

HDDEDATA CALLBACK ProgramGroupDdeCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR,
                                          ULONG_PTR)
{
    return NULL;
}

static void SendCommand(HCONV conversation, const char *command)
{
    DWORD result;
    DdeClientTransaction((LPBYTE)command, (DWORD)strlen(command) + 1, conversation, NULL,
                         CF_TEXT, XTYP_EXECUTE, COMMAND_TIMEOUT_MS, &result);
}

int CreateProgramGroup()
{
    DWORD instance = 0;
    if (DdeInitializeA(&instance, ProgramGroupDdeCallback, CBF_FAIL_POKES, 0) != DMLERR_NO_ERROR)
        return 1;
    HSZ service = DdeCreateStringHandleA(instance, "PROGMAN", CP_WINANSI);
    HSZ topic = DdeCreateStringHandleA(instance, "PROGMAN", CP_WINANSI);
    HCONV conversation = DdeConnect(instance, service, topic, NULL);
    if (!conversation) {
        InstallMessageBox("Couldn't open DDE connection to Program Manager\n", MB_OK);
        DdeUninitialize(instance);
        return 1;
    }

    const char *base = BaseDirectory;
    const char *viewer = ViewerSubdirectory;
    const char *interpreter = InterpreterSubdirectory;
    char command[COMMAND_CAPACITY];
    SendCommand(conversation,
                "[CreateGroup(\"CV Tools\",cvtools.grp)][ShowGroup(\"CV Tools\",1)]");

    SendCommand(conversation, "[ReplaceItem(\"Tabrin\")]");
    if (NewShell)
        snprintf(command, sizeof command, "[AddItem(\"%s\\%s\\%s\",\"Tabrin\")]", base, viewer,
                 ViewerProgram);
    else
        snprintf(command, sizeof command,
                 "[AddItem(\"%s\\%s\\%s\",\"Tabrin\", \"%s\\%s\\tabrin32.ico\")]", base, viewer,
                 ViewerProgram, base, viewer);
    SendCommand(conversation, command);

    SendCommand(conversation, "[ReplaceItem(\"Tabrin README\")]");
    if (NewShell)
        snprintf(command, sizeof command,
                 "[AddItem(\"notepad.exe\" \"%s\\%s\\README.TXT\",\"Tabrin README\","
                 "\"notepad.exe\",1)]",
                 base, viewer);
    else
        snprintf(command, sizeof command,
                 "[AddItem(\"notepad.exe %s\\%s\\README.TXT\",\"Tabrin README\")]", base, viewer);
    SendCommand(conversation, command);

    SendCommand(conversation, "[ReplaceItem(\"Corvane\")]");
    if (NewShell)
        snprintf(command, sizeof command,
                 "[AddItem(\"%s\\%s\\%s\" \"-I%s\\%s;%s\\%s\\fonts\",\"Corvane\")]", base,
                 interpreter, InterpreterProgram, base, interpreter, base, interpreter);
    else
        snprintf(command, sizeof command,
                 "[AddItem(\"%s\\%s\\%s -I%s\\%s;%s\\%s\\fonts\",\"Corvane\", "
                 "\"%s\\%s\\cvtext.ico\")]",
                 base, interpreter, InterpreterProgram, base, interpreter, base, interpreter,
                 base, interpreter);
    SendCommand(conversation, command);

    SendCommand(conversation, "[ReplaceItem(\"Corvane README\")]");
    if (NewShell)
        snprintf(command, sizeof command,
                 "[AddItem(\"notepad.exe\" \"%s\\%s\\README.\",\"Corvane README\", "
                 "\"notepad.exe\",1)]",
                 base, interpreter);
    else
        snprintf(command, sizeof command,
                 "[AddItem(\"notepad.exe %s\\%s\\README.\",\"Corvane README\")]", base,
                 interpreter);
    SendCommand(conversation, command);

    DdeDisconnect(conversation);
    DdeUninitialize(instance);
    return 0;
}
