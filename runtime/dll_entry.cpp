// Entry point of wizunz32.dll: its constructors on load, its own exit list on unload.
#include <windows.h>
#include <stdlib.h>

typedef void(__cdecl *Routine)(void);

// Laid out by the linker: a count slot (-1), the routines, and a terminating 0.
extern "C" Routine __CTOR_LIST__[];
extern "C" Routine __DTOR_LIST__[];

namespace {

// The exit list belongs to the DLL: registered in the C runtime's process-wide list, a
// destructor would be called at process exit, after the DLL is gone.
enum { kExitCapacity = 32 };
Routine ExitList[kExitCapacity];
int ExitCount;

void RunConstructors() {
  int count = 0;
  while (__CTOR_LIST__[count + 1]) ++count;
  for (int i = count; i >= 1; --i) __CTOR_LIST__[i]();
}

void RunExitList() {
  while (ExitCount > 0) ExitList[--ExitCount]();
  for (int i = 1; __DTOR_LIST__[i]; ++i) __DTOR_LIST__[i]();
}

}  // namespace

extern "C" int __cdecl atexit(Routine routine) {
  if (ExitCount == kExitCapacity) return -1;
  ExitList[ExitCount++] = routine;
  return 0;
}

// Thread notifications are ignored rather than switched off: DisableThreadLibraryCalls is
// not known to exist on Win32s, and a missing import would stop the DLL from loading.
extern "C" BOOL WINAPI DllEntry(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH)
    RunConstructors();
  else if (reason == DLL_PROCESS_DETACH)
    RunExitList();
  return TRUE;
}
