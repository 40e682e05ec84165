// Entry point of uninst.exe: with no argument it asks, with /S it runs unattended. The exit
// code is 0 when the removal is done, 1 when it failed, was cancelled or found no record.
#include <stdio.h>
#include <string.h>

#include "installer.h"
#include "uninst.h"

// The argument without the blanks a command interpreter may leave after it.
static int IsUnattendedSwitch(const char *arguments)
{
    size_t length = arguments ? strlen(arguments) : 0;
    while (length > 0 && (arguments[length - 1] == ' ' || arguments[length - 1] == '\t'))
        length--;
    return length == 2 && _strnicmp(arguments, "/S", 2) == 0;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR arguments, int)
{
    InstanceHandle = instance;
    UnattendedMode = IsUnattendedSwitch(arguments);
    return RunRemoval();
}
