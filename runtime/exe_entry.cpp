// Entry point of setup.exe and uninst.exe: WinMain's arguments, the constructors, and the exit
// through the CRT.
#include <windows.h>
#include <stdlib.h>

extern "C" void __main(void);

namespace {

// The command tail: the program name (quoted, or up to the first blank) and the blanks after it
// skipped.
char *CommandTail(char *line) {
  if (*line == '"') {
    ++line;
    while (*line && *line != '"') ++line;
    if (*line == '"') ++line;
  } else {
    while (*line && *line != ' ' && *line != '\t') ++line;
  }
  while (*line == ' ' || *line == '\t') ++line;
  return line;
}

int ShowCommand() {
  STARTUPINFOA startup;
  startup.cb = sizeof startup;
  GetStartupInfoA(&startup);
  return (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
}

}  // namespace

// The C runtime initialised itself when it was loaded. __main runs the constructors and
// registers the destructors with atexit; exit runs them and flushes stdio.
extern "C" void WinMainCRTStartup(void) {
  int show = ShowCommand();
  __main();
  exit(WinMain(GetModuleHandleA(nullptr), nullptr, CommandTail(GetCommandLineA()), show));
}
