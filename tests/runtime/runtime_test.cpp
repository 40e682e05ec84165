// The shipped images' own entry points under Wine: WinMain's arguments, constructors,
// destructors and the exit code of an EXE, constructors and destructors of a DLL.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>

namespace {

std::string BesideThisProgram(const char *name) {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string result(path, n);
  return result.substr(0, result.rfind('\\') + 1) + name;
}

// Runs COMMAND with its standard output in a pipe; returns what it printed.
std::string RunProbe(std::string command, bool setShow, WORD show, DWORD *exitCode) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE readEnd, writeEnd;
  EXPECT_TRUE(CreatePipe(&readEnd, &writeEnd, &inherit, 0));
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES | (setShow ? STARTF_USESHOWWINDOW : 0);
  startup.wShowWindow = show;
  startup.hStdOutput = startup.hStdError = writeEnd;
  PROCESS_INFORMATION process;
  EXPECT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                             &startup, &process));
  CloseHandle(writeEnd);
  std::string output;
  char buffer[512];
  DWORD got;
  while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0)
    output.append(buffer, got);
  WaitForSingleObject(process.hProcess, INFINITE);
  GetExitCodeProcess(process.hProcess, exitCode);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  CloseHandle(readEnd);
  output.erase(std::remove(output.begin(), output.end(), '\r'), output.end());
  return output;
}

}  // namespace

TEST(ExeEntry, PassesTheCommandTailAndShowCommandAndExitsThroughTheRuntime) {
  std::string probe = BesideThisProgram("runtime_probe.exe");
  struct Case {
    std::string command;
    bool setShow;
    WORD show;
    const char *tail;
    int expectedShow;
  } cases[] = {
      {"\"" + probe + "\"  \"x y\" z", true, SW_SHOWMINNOACTIVE, "\"x y\" z", SW_SHOWMINNOACTIVE},
      {probe, false, 0, "", SW_SHOWDEFAULT},
      {probe + " \t c:\\base dir ", true, SW_HIDE, "c:\\base dir ", SW_HIDE},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.command);
    DWORD exitCode = 0;
    std::string output = RunProbe(c.command, c.setShow, c.show, &exitCode);
    EXPECT_EQ(exitCode, 7u);
    EXPECT_EQ(output, std::string("constructed 1\nown instance 1\nno previous 1\ntail [") +
                          c.tail + "]\nshow " + std::to_string(c.expectedShow) +
                          "\ndestructor ran\n");
  }
}

TEST(DllEntry, RunsConstructorsOnLoadAndItsOwnExitListOnUnload) {
  SetEnvironmentVariableA("PROBE_GLOBAL_DESTROYED", nullptr);
  SetEnvironmentVariableA("PROBE_LOCAL_DESTROYED", nullptr);
  HMODULE library = LoadLibraryA(BesideThisProgram("runtime_probe_dll.dll").c_str());
  ASSERT_NE(library, nullptr);
  typedef int(__cdecl * Constructed)();
  Constructed constructed = (Constructed)(void *)GetProcAddress(library, "ProbeConstructed");
  ASSERT_NE(constructed, nullptr);
  EXPECT_EQ(constructed(), 1);
  EXPECT_EQ(constructed(), 1);
  char value[8];
  EXPECT_EQ(GetEnvironmentVariableA("PROBE_GLOBAL_DESTROYED", value, sizeof value), 0u);
  ASSERT_TRUE(FreeLibrary(library));
  // Both destructors ran at FreeLibrary; left in the C runtime's list, they would be called
  // at process exit, after the DLL is gone, and the process would fault.
  EXPECT_EQ(GetEnvironmentVariableA("PROBE_GLOBAL_DESTROYED", value, sizeof value), 1u);
  EXPECT_EQ(GetEnvironmentVariableA("PROBE_LOCAL_DESTROYED", value, sizeof value), 1u);
}
