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
// Every argument of a command is at most 255 characters, so the longest command (the
// interpreter item with four copies of the base directory) always fits whole: Program
// Manager, not this program, decides what it accepts.
enum { COMMAND_CAPACITY = 2048 };

int CreateProgramGroup()
{
    DWORD instance = 0;
    HCONV conversation = OpenProgramManager(&instance);
    if (!conversation) {
        if (instance)
            InstallMessageBox("Couldn't open DDE connection to Program Manager\n", MB_OK);
        CloseProgramManager(instance, NULL);
        return 1;
    }

    const char *base = BaseDirectory;
    const char *viewer = ViewerSubdirectory;
    const char *interpreter = InterpreterSubdirectory;
    char command[COMMAND_CAPACITY];
    SendProgramManagerCommand(conversation,
                              "[CreateGroup(\"" PROGRAM_GROUP "\",cvtools.grp)]"
                              "[ShowGroup(\"" PROGRAM_GROUP "\",1)]");

    SendProgramManagerCommand(conversation, "[ReplaceItem(\"Tabrin\")]");
    if (NewShell)
        snprintf(command, sizeof command, "[AddItem(\"%s\\%s\\%s\",\"Tabrin\")]", base, viewer,
                 ViewerProgram);
    else
        snprintf(command, sizeof command,
                 "[AddItem(\"%s\\%s\\%s\",\"Tabrin\", \"%s\\%s\\tabrin32.ico\")]", base, viewer,
                 ViewerProgram, base, viewer);
    SendProgramManagerCommand(conversation, command);

    SendProgramManagerCommand(conversation, "[ReplaceItem(\"Tabrin README\")]");
    if (NewShell)
        snprintf(command, sizeof command,
                 "[AddItem(\"notepad.exe\" \"%s\\%s\\README.TXT\",\"Tabrin README\","
                 "\"notepad.exe\",1)]",
                 base, viewer);
    else
        snprintf(command, sizeof command,
                 "[AddItem(\"notepad.exe %s\\%s\\README.TXT\",\"Tabrin README\")]", base, viewer);
    SendProgramManagerCommand(conversation, command);

    SendProgramManagerCommand(conversation, "[ReplaceItem(\"Corvane\")]");
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
    SendProgramManagerCommand(conversation, command);

    SendProgramManagerCommand(conversation, "[ReplaceItem(\"Corvane README\")]");
    if (NewShell)
        snprintf(command, sizeof command,
                 "[AddItem(\"notepad.exe\" \"%s\\%s\\README.\",\"Corvane README\", "
                 "\"notepad.exe\",1)]",
                 base, interpreter);
    else
        snprintf(command, sizeof command,
                 "[AddItem(\"notepad.exe %s\\%s\\README.\",\"Corvane README\")]", base,
                 interpreter);
    SendProgramManagerCommand(conversation, command);

    CloseProgramManager(instance, conversation);
    return 0;
}
