// Windows side of the unzip library: exports, control block, callbacks, files and times.
#include <windows.h>

#include <stdio.h>
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

DWORD Field(const unsigned char *block, int offset) {
  DWORD value;
  memcpy(&value, block + offset, sizeof value);
  return value;
}

struct Platform {
  PrintCallback print;
  int keepTimes;
  HANDLE archive;
  HANDLE output;
  char temporary[MAX_PATH];
  char error[160];
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

void PrintLine(void *context, const char *line, int length) {
  Platform *p = (Platform *)context;
  if (p->print != nullptr) p->print(nullptr, length, line);
}

int ReadArchive(void *context, uint64_t offset, void *buffer, uint32_t count) {
  Platform *p = (Platform *)context;
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
  if (CreateDirectoryA(name, nullptr)) return 0;
  DWORD attributes = GetFileAttributesA(name);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
  SetError(p, "cannot create directory");
  return 1;
}

int Exists(void *, const char *path) {
  char name[MAX_PATH];
  ToWindowsPath(path, name, sizeof name);
  return GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES;
}

// The data go to a fresh temporary file in the destination directory, so that a failed or
// interrupted entry never leaves a half-written file under the entry's name.
int OpenFile(void *context, const ZipEntryInfo *entry) {
  Platform *p = (Platform *)context;
  char directory[MAX_PATH];
  ToWindowsPath(entry->name, directory, sizeof directory);
  char *slash = strrchr(directory, '\\');
  if (slash != nullptr)
    *slash = '\0';
  else
    strcpy(directory, ".");
  if (GetTempFileNameA(directory, "uz", 0, p->temporary) == 0) {
    SetError(p, "cannot create a temporary file");
    return 1;
  }
  p->output = CreateFileA(p->temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  if (p->output == INVALID_HANDLE_VALUE) {
    SetError(p, "cannot create a temporary file");
    DeleteFileA(p->temporary);
    return 1;
  }
  return 0;
}

int WriteOutput(void *context, const void *data, uint32_t count) {
  Platform *p = (Platform *)context;
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

int CommitFile(void *context, const ZipEntryInfo *entry) {
  Platform *p = (Platform *)context;
  FILETIME local, utc;
  if (!p->keepTimes && DosDateTimeToFileTime(entry->dosDate, entry->dosTime, &local) &&
      LocalFileTimeToFileTime(&local, &utc))
    SetFileTime(p->output, nullptr, nullptr, &utc);
  BOOL closed = CloseHandle(p->output);
  p->output = INVALID_HANDLE_VALUE;
  if (!closed) {
    SetError(p, "cannot write");
    DeleteFileA(p->temporary);
    return 1;
  }
  char name[MAX_PATH];
  ToWindowsPath(entry->name, name, sizeof name);
  // A read-only file from an earlier installation would refuse to be replaced.
  DWORD attributes = GetFileAttributesA(name);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
      !(attributes & FILE_ATTRIBUTE_DIRECTORY))
    SetFileAttributesA(name, attributes & ~FILE_ATTRIBUTE_READONLY);
  if (!MoveFileExA(p->temporary, name, MOVEFILE_REPLACE_EXISTING)) {
    SetError(p, "cannot put the file in place");
    DeleteFileA(p->temporary);
    return 1;
  }
  return 0;
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

  // The archive path is at offset 80; the name block's copy serves when that is empty.
  const char *archive = (const char *)(uintptr_t)Field(block, kArchive);
  if (archive == nullptr) archive = (const char *)(uintptr_t)Field(block, kNameBlock);
  if (archive == nullptr || archive[0] == '\0') {
    PrintLine(&p, "  error:  no archive named\n", 26);
    return ZIP_BAD_CALL;
  }
  char line[400];
  p.archive = CreateFileA(archive, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  if (p.archive == INVALID_HANDLE_VALUE) {
    int n = snprintf(line, sizeof line, "  error:  %.200s: %s\n", archive,
                     SetError(&p, "cannot open the archive"));
    PrintLine(&p, line, n < (int)sizeof line ? n : (int)sizeof line - 1);
    return ZIP_REFUSED;
  }
  DWORD high = 0;
  DWORD low = GetFileSize(p.archive, &high);
  ZipSource source = {&p, ((uint64_t)high << 32) | low, ReadArchive};
  ZipSink sink = {&p,          PrintLine,  MakeDirectory, Exists,   OpenFile,
                  WriteOutput, CommitFile, AbortFile,     LastError};
  ZipOptions options;
  options.overwrite = Field(block, kOverwrite) != 0;
  options.quiet = Field(block, kQuiet) != 0;
  options.junkPaths = Field(block, kJunkPaths) != 0;
  options.listOnly = Field(block, kExtract) == 0;
  options.selectCount = (int)Field(block, kSelectCount);
  options.selectNames = (const char *const *)(uintptr_t)Field(block, kSelectNames);
  if (options.selectNames == nullptr || options.selectCount > 65535) options.selectCount = 0;
  int result = ZipExtract(&source, &sink, &options);
  CloseHandle(p.archive);
  return result;
}
