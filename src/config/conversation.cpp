// The DDE conversation with Program Manager (service and topic "PROGMAN"), and the deletion
// of a group.
#include <stdio.h>
#include <string.h>

#include "config.h"

enum { COMMAND_TIMEOUT_MS = 2000, DELETE_COMMAND_CAPACITY = 512 };

HDDEDATA CALLBACK ProgramGroupDdeCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR,
                                          ULONG_PTR)
{
    return NULL;
}

HCONV OpenProgramManager(DWORD *instance)
{
    DWORD opened = 0;
    *instance = 0;
    if (DdeInitializeA(&opened, ProgramGroupDdeCallback, CBF_FAIL_POKES, 0) != DMLERR_NO_ERROR)
        return NULL;
    *instance = opened;
    HSZ service = DdeCreateStringHandleA(opened, "PROGMAN", CP_WINANSI);
    HSZ topic = DdeCreateStringHandleA(opened, "PROGMAN", CP_WINANSI);
    return DdeConnect(opened, service, topic, NULL);
}

// The outcome is not examined: what Program Manager makes of a command is its own matter.
void SendProgramManagerCommand(HCONV conversation, const char *command)
{
    DWORD result;
    DdeClientTransaction((LPBYTE)command, (DWORD)strlen(command) + 1, conversation, NULL,
                         CF_TEXT, XTYP_EXECUTE, COMMAND_TIMEOUT_MS, &result);
}

// The string handles go with the instance.
void CloseProgramManager(DWORD instance, HCONV conversation)
{
    if (conversation)
        DdeDisconnect(conversation);
    if (instance)
        DdeUninitialize(instance);
}

// Both shells take the command in this one form.
int DeleteProgramGroup(const char *group)
{
    DWORD instance;
    HCONV conversation = OpenProgramManager(&instance);
    if (conversation) {
        char command[DELETE_COMMAND_CAPACITY];
        snprintf(command, sizeof command, "[DeleteGroup(\"%s\")]", group);
        SendProgramManagerCommand(conversation, command);
    }
    CloseProgramManager(instance, conversation);
    return conversation == NULL;
}
