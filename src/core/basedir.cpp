// Base directory: the choice in dialog 320 or from the command line, and its creation.
#include <direct.h>
#include <stdio.h>
#include <string.h>

#include "dialogs.h"
#include "installer.h"
#include "resource.h"

int DirectoryMissing(const char *path)
{
    return SetCurrentDirectoryA(path) ? 0 : 1;
}

static int CreateOneDirectory(const char *path)
{
    return _mkdir(path);
}

int MakeDirectoryPath(const char *path)
{
    return WalkDirectoryPath(path, DirectoryMissing, CreateOneDirectory);
}

static void RemoveTrailingBackslash(char *path, size_t minimumLength)
{
    size_t length = strlen(path);
    if (length >= minimumLength && length > 0 && path[length - 1] == '\\')
        path[length - 1] = '\0';
}

int ChooseBaseDirectory()
{
    int done = 0;
    int firstPass = 1;
    while (!done) {
        if (!(UnattendedMode && firstPass)) {
            snprintf(DialogText, sizeof DialogText, "%s\\cvtools", BootDrive);
            if (RunModalDialog(IDD_DIRECTORY, InputDlgProc) != IDOK) {
                ErrorText[0] = '\0';
                return 1;
            }
            CopyText(BaseDirectory, sizeof BaseDirectory, DialogText);
        }
        firstPass = 0;
        RemoveTrailingBackslash(BaseDirectory, 3);

        if (DirectoryMissing(BaseDirectory)) {
            char format[TEXT_CAPACITY], question[2 * TEXT_CAPACITY];
            LoadInstallString(IDS_CREATE_DIRECTORY_s, format, TEXT_CAPACITY - 1);
            snprintf(question, sizeof question, format, BaseDirectory);
            int yes = UnattendedMode ||
                      InstallMessageBox(question, MB_YESNO | MB_ICONEXCLAMATION) == IDYES;
            if (yes) {
                if (MakeDirectoryPath(BaseDirectory) != 0) {
                    char message[TEXT_CAPACITY];
                    LoadInstallString(IDS_MAKE_DIRECTORY_FAILED, message, TEXT_CAPACITY - 1);
                    InstallMessageBox(message, MB_OK);
                } else {
                    done = 1;
                }
            }
        } else {
            done = 1;
        }
        DirectoryMissing(StartDirectory);
    }
    RemoveTrailingBackslash(BaseDirectory, 1);
    return 0;
}
