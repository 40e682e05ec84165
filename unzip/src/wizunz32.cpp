// Windows side of the unzip library: exports, control block, callbacks, files and times.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "zipreader.h"

namespace {

// Control-block offsets (32-bit little-endian fields); see unzip/README.md for each meaning.
enum {
  kPrint = 0,
  kNameBlock = 12,
  kOverwrite = 32,
  kQuiet = 44,
  kKeepTimes = 48,
  kJunkPaths = 52,
  kExtract = 64,
  kSelectCount = 76,
  kArchive = 80,
  kSelectNames = 84
};

typedef int(__cdecl *PrintCallback)(void *unused, int length, const char *bytes);

// Output goes to the callback in batches of whole lines: the installer redraws its whole log
// after every piece, which costs far more than extracting a small file. A batch goes out when
// the next line would not fit, once its first line has waited kBatchWaitMs (so progress stays
// visible through a large entry or a slow disk), and when the archive is done. kBatchLimit
// counts line feeds twice, as the installer's log stores them as CR LF; it keeps every batch
// under the 1024 bytes the log accepts in one piece.
enum { kBatchLimit = 1000, kBatchWaitMs = 100 };

// Files and folders an extraction remembers; an archive has at most 65535 entries, each
// making at most its folders and one file. Beyond that (or without memory) the check that
// needs the tables errs on the side of replacing, as an extraction always did.
const size_t kMaxRemembered = 1 << 20;

DWORD Field(const unsigned char *block, int offset) {
  DWORD value;
  memcpy(&value, block + offset, sizeof value);
  return value;
}

struct Platform {
  PrintCallback print;
  char batch[kBatchLimit];
  int batchLength;
  int batchExpanded;
  DWORD batchStarted;
  int keepTimes;
  int shortNamesOnly;        // the volume keeps 8.3 names only and cuts longer ones
  HANDLE archive;
  HANDLE output;
  char temporary[MAX_PATH];  // the file being written, under one of the library's temporary names
  DWORD firstNumber;         // the numbers of this extraction's temporary names, in turn
  DWORD temporaryNumber;
  char error[160];
  ZipKeySet writtenFiles;    // folded names of the files this extraction wrote
  ZipKeySet madeFolders;     // folded names of the folders it made
  ZipKeySet sweptFolders;    // folded names of the folders cleared of earlier temporaries
};

// Keeps the text of a failed Windows call, without its line break.
const char *SetError(Platform *p, const char *what) {
  DWORD code = GetLastError();
  char text[120] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                 text, sizeof text, nullptr);
  size_t n = strlen(text);
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ')) text[--n] = 0;
  snprintf(p->error, sizeof p->error, "%s (error %lu%s%s)", what, (unsigned long)code,
           n ? ": " : "", text);
  return p->error;
}

void ToWindowsPath(const char *path, char *out, size_t size) {
  snprintf(out, size, "%s", path);
  for (char *c = out; *c; ++c)
    if (*c == '/') *c = '\\';
}

// ---- Names this extraction wrote. Two entries must never end in one file. The reader refuses
// names that are alike in the archive; what only the file system knows (an 8.3 alias of a long
// name, a name a volume without long names cuts to 8.3) is caught here, when a name turns out
// to be taken, by the long name the volume gives the file or folder under it. Files and folders
// that existed before the extraction are not in these tables, so an earlier installation is
// still replaced.

// Upper-cases a name in place as Windows compares names, for the reader and for the checks here.
void FoldName(void *, char *text, size_t length) {
  if (length == 0) return;
  if (LCMapStringA(LOCALE_SYSTEM_DEFAULT, LCMAP_UPPERCASE, text, (int)length, text,
                   (int)length) != (int)length)
    ZipFoldCase(text, length);
}

// UTF-16 to the ANSI code page, refusing any character that does not come back unchanged
// (Windows 95 has no flag that forbids best-fit substitutes such as 'a' for U+0101).
int FromUnicode(void *, const uint16_t *text, size_t count, char *out, size_t outSize) {
  if (count == 0) return 0;
  if (count > ZIP_MAX_NAME || outSize < 2) return -1;
  BOOL defaulted = FALSE;
  int n = WideCharToMultiByte(CP_ACP, 0, (LPCWSTR)text, (int)count, out, (int)outSize - 1,
                              nullptr, &defaulted);
  WCHAR back[ZIP_MAX_NAME];
  if (n <= 0 || defaulted ||
      MultiByteToWideChar(CP_ACP, 0, out, n, back, ZIP_MAX_NAME) != (int)count ||
      memcmp(back, text, count * sizeof(WCHAR)) != 0)
    return -1;
  out[n] = '\0';
  return n;
}

uint64_t HashFolded(const char *name) {
  char folded[MAX_PATH];
  size_t length = strlen(name);
  if (length >= sizeof folded) length = sizeof folded - 1;
  memcpy(folded, name, length);
  FoldName(nullptr, folded, length);
  return ZipHash(ZIP_HASH_START, folded, length);
}

// The name of another file beside path: path's directory part followed by leaf. 1 when it
// would be too long.
int SiblingName(const char *path, const char *leaf, char *out, size_t size) {
  const char *slash = strrchr(path, '\\');
  int keep = slash ? (int)(slash - path + 1) : 0;
  int n = snprintf(out, size, "%.*s%s", keep, path, leaf);
  if (n >= 0 && n < (int)size) return 0;
  SetLastError(ERROR_FILENAME_EXCED_RANGE);
  return 1;
}

// Notes a file this extraction put in place. A volume without long names stores a longer
// name cut short, so there the name it really keeps is looked up.
void RememberWritten(Platform *p, const char *name) {
  char kept[MAX_PATH];
  WIN32_FIND_DATAA found;
  HANDLE find = p->shortNamesOnly ? FindFirstFileA(name, &found) : INVALID_HANDLE_VALUE;
  if (find != INVALID_HANDLE_VALUE) {
    FindClose(find);
    if (SiblingName(name, found.cFileName, kept, sizeof kept) == 0) name = kept;
  }
  ZipKeySetAdd(&p->writtenFiles, HashFolded(name), kMaxRemembered);
}

// Called where a folder turns out to exist: fails when the name is another name (an alias)
// of a folder that this extraction made.
int RefuseAliasOfMadeFolder(Platform *p, const char *name) {
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA(name, &found);
  if (find == INVALID_HANDLE_VALUE) return 0;
  FindClose(find);
  char longName[MAX_PATH];
  if (SiblingName(name, found.cFileName, longName, sizeof longName) != 0 ||
      HashFolded(longName) == HashFolded(name) ||
      !ZipKeySetHas(&p->madeFolders, HashFolded(longName)))
    return 0;
  snprintf(p->error, sizeof p->error,
           "the name is another name of the folder %.100s that this extraction made",
           found.cFileName);
  return 1;
}

void FlushOutput(Platform *p) {
  if (p->batchLength > 0) p->print(nullptr, p->batchLength, p->batch);
  p->batchLength = 0;
  p->batchExpanded = 0;
}

void FlushOutputIfDue(Platform *p) {
  if (p->batchLength > 0 && GetTickCount() - p->batchStarted >= kBatchWaitMs) FlushOutput(p);
}

void PrintLine(void *context, const char *line, int length) {
  Platform *p = (Platform *)context;
  if (p->print == nullptr || length <= 0) return;
  int expanded = length;
  for (int i = 0; i < length; ++i) expanded += line[i] == '\n';
  if (p->batchExpanded + expanded > kBatchLimit) FlushOutput(p);
  if (expanded > kBatchLimit) {  // longer than any line the reader makes; passed on alone
    p->print(nullptr, length, line);
    return;
  }
  DWORD now = GetTickCount();  // read once: a line comes with every entry
  if (p->batchLength == 0) p->batchStarted = now;
  memcpy(p->batch + p->batchLength, line, length);
  p->batchLength += length;
  p->batchExpanded += expanded;
  if (now - p->batchStarted >= kBatchWaitMs) FlushOutput(p);
}

int ReadArchive(void *context, uint64_t offset, void *buffer, uint32_t count) {
  Platform *p = (Platform *)context;
  FlushOutputIfDue(p);
  LONG high = (LONG)(offset >> 32);
  if (SetFilePointer(p->archive, (LONG)(uint32_t)offset, &high, FILE_BEGIN) ==
          INVALID_SET_FILE_POINTER &&
      GetLastError() != NO_ERROR)
    return 1;
  while (count > 0) {
    DWORD got = 0;
    if (!ReadFile(p->archive, buffer, count, &got, nullptr) || got == 0) return 1;
    buffer = (char *)buffer + got;
    count -= got;
  }
  return 0;
}

int MakeDirectory(void *context, const char *path) {
  Platform *p = (Platform *)context;
  char name[MAX_PATH];
  ToWindowsPath(path, name, sizeof name);
  if (CreateDirectoryA(name, nullptr)) {
    ZipKeySetAdd(&p->madeFolders, HashFolded(name), kMaxRemembered);
    return 0;
  }
  DWORD attributes = GetFileAttributesA(name);
  // The folder exists: refused when the name is another name of one this extraction made.
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return RefuseAliasOfMadeFolder(p, name);
  SetError(p, "cannot create directory");
  return 1;
}

// Only a folder this extraction made goes, and only when empty (RemoveDirectoryA refuses
// others).
void RemoveFolder(void *context, const char *path) {
  Platform *p = (Platform *)context;
  char name[MAX_PATH];
  ToWindowsPath(path, name, sizeof name);
  if (ZipKeySetHas(&p->madeFolders, HashFolded(name))) RemoveDirectoryA(name);
}

int Exists(void *, const char *path) {
  char name[MAX_PATH];
  ToWindowsPath(path, name, sizeof name);
  return GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES;
}

// The directory part of a path, "." for a name without one.
void DirectoryOf(const char *path, char *directory, size_t size) {
  snprintf(directory, size, "%s", path);
  char *slash = strrchr(directory, '\\');
  if (slash != nullptr)
    *slash = '\0';
  else
    snprintf(directory, size, ".");
}

// The library's temporary name (uzXXXX.tmp) of a number in a directory; 1 when the path
// would be too long.
int TemporaryName(const char *directory, DWORD number, char *name, size_t size) {
  int n = snprintf(name, size, "%s\\uz%04lx.tmp", directory, (unsigned long)(number & 0xFFFF));
  if (n >= 0 && n < (int)size) return 0;
  SetLastError(ERROR_FILENAME_EXCED_RANGE);
  return 1;
}

int NextTemporaryName(Platform *p, const char *directory, char *name, size_t size) {
  return TemporaryName(directory, p->temporaryNumber++, name, size);
}

// The temporary name that an entry's file was written under, given its number.
int TemporaryNameOf(const ZipEntryInfo *entry, uint32_t number, char *name, size_t size) {
  char path[MAX_PATH], directory[MAX_PATH];
  ToWindowsPath(entry->name, path, sizeof path);
  DirectoryOf(path, directory, sizeof directory);
  return TemporaryName(directory, number, name, size);
}

int NameTaken(DWORD code) { return code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS; }

// Whether a file name is one of the library's temporary names ("uz", four hex digits, ".tmp")
// that an earlier extraction left: this one's own files wait under theirs for the end of the
// archive, and a folder may be reached by two names (one its 8.3 alias).
int IsLeftTemporaryName(const Platform *p, const char *name) {
  if (strlen(name) != 10 || (name[0] | 0x20) != 'u' || (name[1] | 0x20) != 'z' ||
      lstrcmpiA(name + 6, ".tmp") != 0)
    return 0;
  for (int i = 2; i < 6; ++i)
    if (!strchr("0123456789abcdefABCDEF", name[i])) return 0;
  DWORD issued = p->temporaryNumber - p->firstNumber;
  DWORD number = (DWORD)strtoul(name + 2, nullptr, 16);
  return issued <= 0xFFFF && ((number - p->firstNumber) & 0xFFFF) >= issued;
}

// Removes from a directory, once per extraction, the temporary files that an interrupted
// extraction left there (a power cut, a disk that refused to delete them). Only names of
// the library's own pattern are touched.
void SweepTemporaries(Platform *p, const char *directory) {
  if (ZipKeySetAdd(&p->sweptFolders, HashFolded(directory), kMaxRemembered) == 0) return;
  char pattern[MAX_PATH], name[MAX_PATH];
  if (snprintf(pattern, sizeof pattern, "%s\\uz????.tmp", directory) >= (int)sizeof pattern) return;
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA(pattern, &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        !IsLeftTemporaryName(p, found.cFileName) ||
        SiblingName(pattern, found.cFileName, name, sizeof name) != 0)
      continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
      SetFileAttributesA(name, found.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
    DeleteFileA(name);
  } while (FindNextFileA(find, &found));
  FindClose(find);
}

// Every file is written under a fresh temporary name in its own directory and gets its name
// only once its data are complete and checked, and the whole archive with them (NameFile),
// so that no name ever holds part of a file or a file of an archive refused: not after a
// damaged entry, a full disk or a power cut. The file is created in the same call that makes
// its name: every call that takes a path costs a lookup in the directory, which is most of
// the time a small file takes under Wine.
int OpenFile(void *context, const ZipEntryInfo *entry, uint32_t *file) {
  Platform *p = (Platform *)context;
  char name[MAX_PATH], directory[MAX_PATH];
  ToWindowsPath(entry->name, name, sizeof name);
  DirectoryOf(name, directory, sizeof directory);
  SweepTemporaries(p, directory);
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (NextTemporaryName(p, directory, p->temporary, sizeof p->temporary)) break;
    p->output = CreateFileA(p->temporary, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    *file = p->temporaryNumber - 1;
    if (p->output != INVALID_HANDLE_VALUE) return 0;
    if (!NameTaken(GetLastError())) break;
  }
  SetError(p, "cannot create a temporary file");
  return 1;
}

int WriteOutput(void *context, const void *data, uint32_t count) {
  Platform *p = (Platform *)context;
  FlushOutputIfDue(p);
  DWORD written = 0;
  if (!WriteFile(p->output, data, count, &written, nullptr) || written != count) {
    SetError(p, "cannot write");
    return 1;
  }
  return 0;
}

void AbortFile(void *context) {
  Platform *p = (Platform *)context;
  if (p->output != INVALID_HANDLE_VALUE) CloseHandle(p->output);
  p->output = INVALID_HANDLE_VALUE;
  DeleteFileA(p->temporary);
}

// Puts the complete temporary file in place of an existing file, and gives the name it took
// in placed. Windows 95 has no call that replaces a file in one step, so the old file is
// first moved aside under a free temporary name, the new one moved to the name, and only
// then the old one deleted; if the new one cannot take the name, the old one is moved back.
// So the name never loses both copies. A read-only old file is made writable only once it is
// aside, to be deleted; an old copy that cannot be deleted goes with the next extraction
// into its directory.
int PutInPlace(Platform *p, const char *temporary, const char *entryName, char *placed,
               size_t placedSize) {
  WIN32_FIND_DATAA existing;
  HANDLE find = FindFirstFileA(entryName, &existing);
  if (find == INVALID_HANDLE_VALUE) {  // gone since the rename was refused
    snprintf(placed, placedSize, "%s", entryName);
    if (MoveFileA(temporary, placed)) return 0;
    SetError(p, "cannot put the file in place");
    return 1;
  }
  FindClose(find);
  DWORD attributes = existing.dwFileAttributes;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    SetLastError(ERROR_ACCESS_DENIED);
    SetError(p, "cannot put the file in place of a directory");
    return 1;
  }
  // The new file takes the old one's own name, also where the entry names it by another
  // (its 8.3 alias): a replaced file keeps the name its user knows. That name must not be a
  // file this extraction wrote for another entry.
  char aside[MAX_PATH];
  if (SiblingName(entryName, existing.cFileName, placed, placedSize) != 0) {
    SetError(p, "cannot put the file in place");
    return 1;
  }
  if (ZipKeySetHas(&p->writtenFiles, HashFolded(placed))) {
    snprintf(p->error, sizeof p->error,
             "the name leads to a file that another entry of this archive wrote");
    return 1;
  }
  char directory[MAX_PATH];
  DirectoryOf(placed, directory, sizeof directory);
  int movedAside = 0;
  for (int attempt = 0; attempt < 100 && !movedAside; ++attempt) {
    if (NextTemporaryName(p, directory, aside, sizeof aside)) break;
    movedAside = MoveFileA(placed, aside);
    if (!movedAside && !NameTaken(GetLastError())) break;
  }
  if (!movedAside) {
    SetError(p, "cannot move the old file aside");
    return 1;
  }
  if (!MoveFileA(temporary, placed)) {
    SetError(p, "cannot put the file in place");
    if (!MoveFileA(aside, placed)) {
      char error[sizeof p->error];
      snprintf(error, sizeof error, "%s; the old file is kept as %s", p->error, aside);
      snprintf(p->error, sizeof p->error, "%s", error);
    }
    return 1;
  }
  if (attributes & FILE_ATTRIBUTE_READONLY)
    SetFileAttributesA(aside, attributes & ~FILE_ATTRIBUTE_READONLY);
  DeleteFileA(aside);
  return 0;
}

// Completes the entry's temporary file: its time, and its data forced to the disk before it
// is closed. A disk cache writes data out later and may write the rename that names the file
// before them: a power cut in between would leave the name on clusters never written. A
// flush that fails is a write that failed, and the file goes.
int CloseFile(void *context, const ZipEntryInfo *entry) {
  Platform *p = (Platform *)context;
  FILETIME local, utc;
  if (!p->keepTimes && DosDateTimeToFileTime(entry->dosDate, entry->dosTime, &local) &&
      LocalFileTimeToFileTime(&local, &utc))
    SetFileTime(p->output, nullptr, nullptr, &utc);
  BOOL flushed = FlushFileBuffers(p->output);
  DWORD flushError = GetLastError();
  BOOL closed = CloseHandle(p->output);
  p->output = INVALID_HANDLE_VALUE;
  if (flushed && closed) return 0;
  if (!flushed) SetLastError(flushError);
  SetError(p, "cannot write");
  DeleteFileA(p->temporary);
  return 1;
}

// Gives a completed file its name: at once where the name is free, in place of the file
// there otherwise (some systems refuse a rename onto a taken name with another error than
// "exists", so the name is looked at). When it cannot, the file goes.
int NameFile(void *context, uint32_t file, const ZipEntryInfo *entry) {
  Platform *p = (Platform *)context;
  char temporary[MAX_PATH], name[MAX_PATH], placed[MAX_PATH];
  if (TemporaryNameOf(entry, file, temporary, sizeof temporary)) {
    SetError(p, "cannot put the file in place");
    return 1;
  }
  ToWindowsPath(entry->name, name, sizeof name);
  if (MoveFileA(temporary, name)) {
    RememberWritten(p, name);
    return 0;
  }
  DWORD refusal = GetLastError();
  if (GetFileAttributesA(name) == INVALID_FILE_ATTRIBUTES) {
    SetLastError(refusal);
    SetError(p, "cannot put the file in place");
    DeleteFileA(temporary);
    return 1;
  }
  if (PutInPlace(p, temporary, name, placed, sizeof placed)) {
    DeleteFileA(temporary);
    return 1;
  }
  RememberWritten(p, placed);
  return 0;
}

// A completed file of an archive that was refused.
void DropFile(void *, uint32_t file, const ZipEntryInfo *entry) {
  char temporary[MAX_PATH];
  if (TemporaryNameOf(entry, file, temporary, sizeof temporary) == 0) DeleteFileA(temporary);
}

const char *LastError(void *context) { return ((Platform *)context)->error; }

}  // namespace

extern "C" void WINAPI GetDllVersion(DWORD *version) {
  if (version != nullptr) *version = 0x00010000;
}

extern "C" int WINAPI DllProcessZipFiles(const unsigned char *block) {
  if (block == nullptr) return ZIP_BAD_CALL;
  Platform p;
  memset(&p, 0, sizeof p);
  p.print = (PrintCallback)(uintptr_t)Field(block, kPrint);
  p.keepTimes = Field(block, kKeepTimes) != 0;
  p.output = INVALID_HANDLE_VALUE;
  p.firstNumber = p.temporaryNumber = GetTickCount();
  DWORD longestName = 0;
  p.shortNamesOnly = GetVolumeInformationA(nullptr, nullptr, 0, nullptr, &longestName, nullptr,
                                           nullptr, 0) && longestName <= 12;

  // The archive path is at offset 80; the name block's copy serves when that is empty.
  const char *archive = (const char *)(uintptr_t)Field(block, kArchive);
  if (archive == nullptr) archive = (const char *)(uintptr_t)Field(block, kNameBlock);
  if (archive == nullptr || archive[0] == '\0') {
    PrintLine(&p, "  error:  no archive named\n", 26);
    FlushOutput(&p);
    return ZIP_BAD_CALL;
  }
  char line[400];
  p.archive = CreateFileA(archive, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  if (p.archive == INVALID_HANDLE_VALUE) {
    int n = snprintf(line, sizeof line, "  error:  %.200s: %s\n", archive,
                     SetError(&p, "cannot open the archive"));
    PrintLine(&p, line, n < (int)sizeof line ? n : (int)sizeof line - 1);
    FlushOutput(&p);
    return ZIP_REFUSED;
  }
  DWORD high = 0;
  DWORD low = GetFileSize(p.archive, &high);
  ZipSource source = {&p, ((uint64_t)high << 32) | low, ReadArchive};
  ZipSink sink = {&p,        PrintLine,  MakeDirectory, RemoveFolder, Exists,
                  OpenFile,  WriteOutput, CloseFile,   AbortFile,    NameFile,
                  DropFile,  LastError,  FoldName,      FromUnicode};
  ZipOptions options;
  options.overwrite = Field(block, kOverwrite) != 0;
  options.quiet = Field(block, kQuiet) != 0;
  options.junkPaths = Field(block, kJunkPaths) != 0;
  options.listOnly = Field(block, kExtract) == 0;
  options.selectCount = (int)Field(block, kSelectCount);
  options.selectNames = (const char *const *)(uintptr_t)Field(block, kSelectNames);
  if (options.selectNames == nullptr || options.selectCount > 65535) options.selectCount = 0;
  int result = ZipExtract(&source, &sink, &options);
  FlushOutput(&p);
  CloseHandle(p.archive);
  free(p.writtenFiles.slots);
  free(p.madeFolders.slots);
  free(p.sweptFolders.slots);
  return result;
}
