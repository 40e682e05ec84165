// Entry point: takes the optional base directory, runs the installation, reports an abort.
#include <stdio.h>

#include "dialogs.h"
#include "installer.h"
#include "resource.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR arguments, int)
{
    InstanceHandle = instance;
    TakeCommandLine(arguments ? arguments : "");
    LoadInstallString(IDS_VIEWER_SUBDIRECTORY, ViewerSubdirectory, sizeof ViewerSubdirectory);

    if (RunInstall() != 0) {
        char format[TEXT_CAPACITY];
        char message[2 * TEXT_CAPACITY];
        LoadInstallString(IDS_ABORTED_s, format, sizeof format);
        snprintf(message, sizeof message, format, ErrorText);
        InstallMessageBox(message, MB_OK);
    }
    return 0;
}
