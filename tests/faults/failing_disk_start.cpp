// Starts a program with failing_disk.dll loaded before its entry point runs. The program is
// started under this process as its debugger; a breakpoint on its entry point stops its only
// thread there, once the system has loaded every library it imports. The thread is held,
// a thread of the program's own loads the library (whose start-up rewrites the program's
// imports), and the debugger detaches, letting the program start as it would have.
#include "failing_disk.h"

#include <windows.h>

namespace {

bool WriteByte(HANDLE process, void *at, BYTE value)
{
    DWORD protection;
    if (!VirtualProtectEx(process, at, 1, PAGE_EXECUTE_READWRITE, &protection))
        return false;
    bool written = WriteProcessMemory(process, at, &value, 1, NULL);
    VirtualProtectEx(process, at, 1, protection, &protection);
    FlushInstructionCache(process, at, 1);
    return written;
}

// Puts the thread back at the entry point, holds it, and starts a thread that loads the
// library; the loading thread's id, or 0.
DWORD LoadLayer(const PROCESS_INFORMATION *process, void *entry, BYTE savedByte,
                const std::string &layer)
{
    CONTEXT context;
    context.ContextFlags = CONTEXT_CONTROL;
    if (!WriteByte(process->hProcess, entry, savedByte) ||
        !GetThreadContext(process->hThread, &context))
        return 0;
#ifdef _WIN64
    context.Rip = (DWORD64)entry;
#else
    context.Eip = (DWORD)entry;
#endif
    if (!SetThreadContext(process->hThread, &context) || SuspendThread(process->hThread) == (DWORD)-1)
        return 0;
    void *path = VirtualAllocEx(process->hProcess, NULL, layer.size() + 1, MEM_COMMIT, PAGE_READWRITE);
    if (path == NULL || !WriteProcessMemory(process->hProcess, path, layer.c_str(), layer.size() + 1, NULL))
        return 0;
    // KERNEL32 lies at the same address in every process.
    void *loadLibrary = (void *)GetProcAddress(GetModuleHandleA("kernel32.dll"), "LoadLibraryA");
    DWORD id = 0;
    HANDLE thread = CreateRemoteThread(process->hProcess, NULL, 0, (LPTHREAD_START_ROUTINE)loadLibrary,
                                       path, 0, &id);
    if (thread == NULL)
        return 0;
    CloseHandle(thread);
    return id;
}

}  // namespace

bool StartOnFailingDisk(std::string command, char *environment, PROCESS_INFORMATION *process,
                        std::string *error)
{
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, sizeof self);
    std::string layer = self;
    layer = layer.substr(0, layer.rfind('\\') + 1) + "failing_disk.dll";

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, DEBUG_ONLY_THIS_PROCESS,
                        environment, NULL, &startup, process)) {
        *error = "cannot start " + command + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    DebugSetProcessKillOnExit(FALSE);
    void *entry = nullptr;
    BYTE savedByte = 0;
    DWORD loader = 0;
    bool loaded = false, over = false;
    DEBUG_EVENT event;
    while (!over && WaitForDebugEvent(&event, 60000)) {
        DWORD status = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
            CloseHandle(event.u.CreateProcessInfo.hFile);
            entry = (void *)event.u.CreateProcessInfo.lpStartAddress;
            if (!ReadProcessMemory(process->hProcess, entry, &savedByte, 1, NULL) ||
                !WriteByte(process->hProcess, entry, 0xCC)) {
                *error = "cannot set a breakpoint at the entry point";
                over = true;
            }
            break;
        case LOAD_DLL_DEBUG_EVENT:
            CloseHandle(event.u.LoadDll.hFile);
            break;
        case EXCEPTION_DEBUG_EVENT: {
            const EXCEPTION_RECORD &record = event.u.Exception.ExceptionRecord;
            if (record.ExceptionCode != EXCEPTION_BREAKPOINT)
                status = DBG_EXCEPTION_NOT_HANDLED;
            else if (record.ExceptionAddress == entry && loader == 0 &&
                     (loader = LoadLayer(process, entry, savedByte, layer)) == 0) {
                *error = "cannot load " + layer;
                over = true;
            }
            break;
        }
        case EXIT_THREAD_DEBUG_EVENT:
            if (event.dwThreadId == loader) {
                loaded = event.u.ExitThread.dwExitCode != 0;  // LoadLibraryA's module handle
                if (!loaded)
                    *error = layer + " did not load";
                over = true;
            }
            break;
        case EXIT_PROCESS_DEBUG_EVENT:
            *error = "the program ended before its entry point";
            over = true;
            break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    }
    DebugActiveProcessStop(process->dwProcessId);
    if (loaded)
        ResumeThread(process->hThread);
    else {
        TerminateProcess(process->hProcess, 1);
        CloseHandle(process->hProcess);
        CloseHandle(process->hThread);
    }
    return loaded;
}
