// A program linked like setup.exe: prints what its entry point handed to WinMain.
#include <windows.h>

#include <stdio.h>

namespace {

int Constructed;

struct Probe {
  Probe() { Constructed = 1; }
  ~Probe() { printf("destructor ran\n"); }
} TheProbe;

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR tail, int show) {
  printf("constructed %d\nown instance %d\nno previous %d\ntail [%s]\nshow %d\n", Constructed,
         instance == GetModuleHandleA(nullptr), previous == nullptr, tail, show);
  return 7;
}
