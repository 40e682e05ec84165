// Extraction of one archive: found beside the setup program or through the disk prompt,
// unpacked into its destination, a closed progress window taken as the user's cancel.
#include <direct.h>
#include <stdio.h>
#include <string.h>

#include "dialogs.h"
#include "extract.h"
#include "installer.h"
#include "progress.h"
#include "resource.h"

static int CanOpen(const char *path)
{
    FILE *file = fopen(path, "r");
    if (!file)
        return 0;
    fclose(file);
    return 1;
}

int ExtractArchive(const char *archiveName, const char *destination)
{
    char archivePath[TEXT_CAPACITY];
    if (snprintf(archivePath, sizeof archivePath, "%s%s", SourceDirectory, archiveName) >=
        (int)sizeof archivePath)
        CopyText(archivePath, sizeof archivePath, archiveName);  // the prompt still names it

    while (!CanOpen(archivePath)) {
        CopyText(DialogText, sizeof DialogText, archivePath);
        if (RunModalDialog(IDD_MISSING_ZIP, InputDlgProc) != IDOK) {
            ErrorText[0] = '\0';
            return 1;
        }
        CopyText(archivePath, sizeof archivePath, DialogText);
    }
    if (strlen(archivePath) > EXTRACTOR_MAX_ARCHIVE_PATH) {
        SetErrorText("Path of %s is too long for the unzip library", archiveName);
        return 1;
    }

    char savedDirectory[TEXT_CAPACITY];
    if (!_getcwd(savedDirectory, sizeof savedDirectory))
        savedDirectory[0] = '\0';
    DirectoryMissing(destination);
    LogAppendText("Unzipping ");
    LogAppendText(archivePath);
    LogAppendText("\n");
    int result = RunExtractor(archivePath);
    DirectoryMissing(savedDirectory);

    if (result != 0)
        return result;
    if (IsWindow(ProgressWindow))
        return 0;
    SetErrorText("Unzip cancelled");
    return -1;
}
