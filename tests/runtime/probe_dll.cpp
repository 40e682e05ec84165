// A DLL linked like wizunz32.dll: counts its constructors, marks its destructors.
#include <windows.h>

namespace {

int Constructed;

struct Global {
  Global() { ++Constructed; }
  ~Global() { SetEnvironmentVariableA("PROBE_GLOBAL_DESTROYED", "1"); }
} TheGlobal;

struct Local {
  ~Local() { SetEnvironmentVariableA("PROBE_LOCAL_DESTROYED", "1"); }
};

}  // namespace

// The function-local object's destructor is registered with atexit on the first call.
extern "C" __declspec(dllexport) int __cdecl ProbeConstructed() {
  static Local local;
  (void)local;
  return Constructed;
}
