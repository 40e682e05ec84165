// Test helper: calls wizunz32.dll the way the installer does, and records what it prints.
#ifndef INSTALLER_BLOCK_H
#define INSTALLER_BLOCK_H

#include <windows.h>

#include <string>
#include <vector>

struct UnzipCall {
  int result = 0;
  std::vector<std::string> pieces;  // one entry per print callback call
  bool otherThread = false;         // a callback arrived on another thread
  std::string Text() const;
};

// Loads wizunz32.dll from beside the running program; 0 on success.
int LoadUnzip(std::string *error);
DWORD UnzipVersion();
// Extracts archive into the current directory with the installer's settings. The optional
// hook can change control-block fields (offset, value) before the call.
UnzipCall RunUnzip(const char *archive,
                   const std::vector<std::pair<int, DWORD>> &settings = {});

#endif
