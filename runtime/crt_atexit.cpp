// atexit for setup.exe: the CRT's own, which the import libraries offer only as a pointer.
#include <stdlib.h>

extern "C" {

extern int(__cdecl *__MINGW_IMP_SYMBOL(atexit))(void(__cdecl *)(void));

int __cdecl atexit(void(__cdecl *function)(void)) {
  return __MINGW_IMP_SYMBOL(atexit)(function);
}

}
