// windows95_layer.dll: the Windows 95 kernel of windows95_kernel.cpp for a whole program,
// loaded into it before its entry point runs (StartWithLayer).
#include <windows.h>

#include "windows95_kernel.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        EmulateWindows95Kernel(GetModuleHandleA(NULL));
    return TRUE;
}
