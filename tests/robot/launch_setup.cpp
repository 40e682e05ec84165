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
    DWORD code = 1;
    if (!RunAnsweringMessages(command, &code)) {
        fprintf(stderr, "launch_setup: cannot start %s\n", command.c_str());
        return 1;
    }
    return (int)code;
}
