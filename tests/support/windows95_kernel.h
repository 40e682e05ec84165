// Makes a module's KERNEL32 calls behave as on Windows 95 (the first release), where Wine
// is more forgiving: CreateFileA refuses FILE_SHARE_DELETE, MoveFileExA is a stub (also when
// looked up at run time), and the wide-character functions fail. It rewrites the module's
// import table, so only calls made through that module's imports change.
#ifndef TEST_WINDOWS95_KERNEL_H
#define TEST_WINDOWS95_KERNEL_H

#include <windows.h>

#include <string>
#include <vector>

// Redirects the module's KERNEL32 imports. Libraries that the module later loads with
// LoadLibraryA get the same treatment. Returns the wide-character functions of KERNEL32,
// USER32 and GDI32 the module imports that Windows 95 does not implement and that this
// emulation cannot stand in for: a module that imports one of them cannot run there.
std::vector<std::string> EmulateWindows95Kernel(HMODULE module);

// A disk that refuses a rename: the next `renames` calls of MoveFileA through emulated
// imports succeed, the one after fails with `error`; a negative count refuses none.
void RefuseRenameAfter(int renames, DWORD error);

#endif
