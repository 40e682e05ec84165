// System configuration: the SET TEMP line in the start-up file, the Program Manager group,
// settings files on the disk and the entry in Add/Remove Programs, for both programs.
#ifndef SETUP_CONFIG_H
#define SETUP_CONFIG_H

#include <windows.h>
#include <ddeml.h>

// ---- The SET TEMP update of setup.exe (startup.cpp)
// Adds SET TEMP to a copy of autoexec.bat when the process has no TEMP: 0 or 1.
int UpdateStartupFile();
// The line the update adds, without its line end: "SET TEMP=c:\" for the boot drive c:.
void FormatTempLine(char *line, size_t capacity);
// Whether autoexec.bat is exactly autoexec.cv with the SET TEMP line added: the update's work,
// of this run or an earlier one. 1 or 0; -1 with ErrorText when a file cannot be read.
int StartupFileHasTempLine();

// ---- Rewriting the start-up file (startfile.cpp), one discipline for both programs: the whole
// new text is written to a copy and committed to the disk, and only then renamed into place,
// the old file becoming the backup. The next run finishes an update cut between the renames.
enum { STARTUP_TEXT_LIMIT = 32768 };

// What an update makes of the start-up file's text (as text mode reads it) with its line
// (without line end): the new text; 0, or 1 when it does not fit the capacity.
typedef int (*StartupRewrite)(const char *line, const char *text, size_t length, char *rewritten,
                              size_t capacity, size_t *rewrittenLength);
// The rewrites of the two programs: the line added on a line of its own, and the one whole
// line equal to it taken out.
int AddStartupLine(const char *line, const char *text, size_t length, char *rewritten,
                   size_t capacity, size_t *rewrittenLength);
int TakeOutStartupLine(const char *line, const char *text, size_t length, char *rewritten,
                       size_t capacity, size_t *rewrittenLength);
// How often the line stands in the text as a whole line.
int CountStartupLine(const char *line, const char *text, size_t length);

// A file's whole text as text mode reads it; 0 with its length, 1 when it cannot be read, 2
// when it does not fit.
int ReadText(const char *path, char *text, size_t capacity, size_t *length);
// Whether candidate holds exactly the rewrite of the text of original: 1 or 0 (0 too when
// either is missing); -1 with ErrorText when one cannot be read.
int IsRewriteOf(const char *candidate, const char *original, const char *line,
                StartupRewrite rewrite);
// Finishes an update cut between its two renames: no start-up file, the old one as the
// backup and the new one under a temporary name matching pattern (a folder and a name of two
// letters and six ?), holding the rewrite of the backup. 1 when it finished one, 0 when there
// was none, -1 with ErrorText when a file could not be read or the rename failed.
int CompleteInterruptedUpdate(const char *startupPath, const char *backupPath, const char *pattern,
                              const char *line, StartupRewrite rewrite);
// Commits a copy written through a stream and closes it: 0, or 1 when a write, the flush or
// the close failed (the copy then goes, and ErrorText names it).
int CommitCopy(FILE *copy, const char *copyPath, int failed);
// The start-up file becomes the backup (which must not exist) and the committed copy takes its
// name. When the second rename fails the old file goes back and the copy goes. 0, or 1.
int PutCopyInPlace(const char *startupPath, const char *copyPath, const char *backupPath);

// ---- Settings files and the disk (settings.cpp)
// Forces a file's data out of the disk cache: 0, or 1 when it cannot be opened or flushed.
int CommitToDisk(const char *path);
// Where the profile functions keep a settings file named without a folder: in the Windows
// directory. 0, or 1 when the path does not fit.
int SettingsFilePath(const char *fileName, char *path, size_t capacity);
// Writes what the profile cache holds of a settings file (named as the profile functions take
// it) and forces the file, at path, to the disk: 0, or 1.
int CommitSettings(const char *fileName, const char *path);

// ---- The Program Manager group (progman.cpp, conversation.cpp)
#define PROGRAM_GROUP "CV Tools"
// Creates the "CV Tools" group by DDE: 0, or 1 when no conversation opens.
int CreateProgramGroup();
// Deletes the group by DDE: 0, or 1 when no Program Manager answers (nothing is shown).
int DeleteProgramGroup(const char *group);
// A conversation with Program Manager (NULL when none answers), its commands and its end.
HCONV OpenProgramManager(DWORD *instance);
void SendProgramManagerCommand(HCONV conversation, const char *command);
void CloseProgramManager(DWORD instance, HCONV conversation);

HDDEDATA CALLBACK ProgramGroupDdeCallback(UINT type, UINT format, HCONV conversation,
                                          HSZ string1, HSZ string2, HDDEDATA data,
                                          ULONG_PTR data1, ULONG_PTR data2);

// ---- The entry in Add/Remove Programs (registry.cpp), on the systems whose shell has the list.
// Registers the uninstaller at its path: 0, or 1 when the registry refused or is not there.
int RegisterUninstaller(const char *uninstallerPath);
// Removes the entry when it names this uninstaller; 0 when it is gone (or names another
// copy), 1 when the registry refused.
int UnregisterUninstaller(const char *uninstallerPath);

#endif
