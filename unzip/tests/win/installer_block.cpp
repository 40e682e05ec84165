// Test helper: calls wizunz32.dll the way the installer does, and records what it prints.
#include "installer_block.h"

#include <stdio.h>
#include <string.h>

namespace {

typedef int(WINAPI *ProcessFn)(void *);
typedef void(WINAPI *VersionFn)(DWORD *);

HMODULE Library;
ProcessFn Process;
VersionFn Version;
UnzipCall *Current;
DWORD CallingThread;

int __cdecl PrintCallback(void *, int length, const char *bytes) {
  if (GetCurrentThreadId() != CallingThread) Current->otherThread = true;
  Current->pieces.push_back(std::string(bytes, length));
  return length;
}

void __cdecl EmptyCallback() {}

void Store(unsigned char *block, int offset, DWORD value) { memcpy(block + offset, &value, 4); }

}  // namespace

std::string UnzipCall::Text() const {
  std::string all;
  for (const std::string &p : pieces) all += p;
  return all;
}

int LoadUnzip(std::string *error) {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  char *slash = strrchr(path, '\\');
  if (n == 0 || slash == nullptr) return 1;
  snprintf(slash + 1, sizeof path - (slash + 1 - path), "wizunz32.dll");
  Library = LoadLibraryA(path);
  if (Library == nullptr) {
    *error = std::string("cannot load ") + path;
    return 1;
  }
  // FARPROC is a generic pointer to be cast to the real signature.
  Process = (ProcessFn)(void (*)())GetProcAddress(Library, "DllProcessZipFiles");
  Version = (VersionFn)(void (*)())GetProcAddress(Library, "GetDllVersion");
  if (Process == nullptr || Version == nullptr) {
    *error = "entry points missing";
    return 1;
  }
  return 0;
}

DWORD UnzipVersion() {
  DWORD v = 0;
  Version(&v);
  return v;
}

UnzipCall RunUnzip(const char *archive, const std::vector<std::pair<int, DWORD>> &settings) {
  UnzipCall call;
  // Global memory blocks, zero-filled, as the installer allocates them.
  HGLOBAL nameHandle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 1641);
  HGLOBAL blockHandle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 88);
  char *names = (char *)GlobalLock(nameHandle);
  unsigned char *block = (unsigned char *)GlobalLock(blockHandle);
  Store(block, 0, (DWORD)(uintptr_t)PrintCallback);
  Store(block, 4, (DWORD)(uintptr_t)EmptyCallback);
  Store(block, 8, (DWORD)(uintptr_t)stdout);
  Store(block, 12, (DWORD)(uintptr_t)names);
  Store(block, 24, (DWORD)(uintptr_t)GetModuleHandleA(nullptr));
  Store(block, 32, 1);
  for (int offset = 44; offset <= 60; offset += 4) Store(block, offset, 0);
  Store(block, 64, 1);
  Store(block, 68, 0);
  Store(block, 72, 0);
  snprintf(names, 128, "%s", archive);
  snprintf(names + 128, 1513, "%s", archive);
  char *cut = strrchr(names + 128, '\\');
  if (cut != nullptr) *cut = '\0';
  Store(block, 80, (DWORD)(uintptr_t)archive);
  Store(block, 76, 0);
  Store(block, 84, 0);
  for (const auto &s : settings) Store(block, s.first, s.second);
  Current = &call;
  CallingThread = GetCurrentThreadId();
  call.result = Process(block);
  Current = nullptr;
  GlobalUnlock(blockHandle);
  GlobalFree(blockHandle);
  GlobalUnlock(nameHandle);
  GlobalFree(nameHandle);
  return call;
}
