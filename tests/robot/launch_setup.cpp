// Starts setup.exe from this program's own directory once Wine's Program Manager server
// answers, waits for it and returns its exit code. Used by the demo to run an install.
//
//   launch_setup.exe [--without-temp] [ARGUMENT]
//
// --without-temp starts setup.exe without TEMP in its environment, as on a machine whose
// start-up file does not set it.
#include <windows.h>

#include <stdio.h>
#include <string.h>
#include <string>

#include "scripted_user.h"
#include "wine_files.h"

int main(int argc, char **argv)
{
    if (!WaitForProgramManager()) {
        fprintf(stderr, "launch_setup: Program Manager does not answer\n");
        return 1;
    }
    int next = 1;
    if (next < argc && strcmp(argv[next], "--without-temp") == 0) {
        SetEnvironmentVariableA("TEMP", NULL);
        SetEnvironmentVariableA("TMP", NULL);
        next++;
    }
    std::string command = "\"" + ProgramDirectory() + "setup.exe\"";
    if (next < argc)
        command += std::string(" ") + argv[next];
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        fprintf(stderr, "launch_setup: cannot start %s\n", command.c_str());
        return 1;
    }
    // setup.exe's DDE start-up sends a message to every top-level window, this program's
    // too, and waits for the answers: keep answering until it ends.
    while (MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, INFINITE, QS_ALLINPUT) !=
           WAIT_OBJECT_0) {
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
    }
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    return (int)code;
}
