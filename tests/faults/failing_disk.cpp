// failing_disk.dll: a disk that fails under the real setup.exe and wizunz32.dll. Loaded into
// setup.exe before its entry point runs, it rewrites the KERNEL32 and C-runtime imports of
// setup.exe and of every library setup.exe loads, so that it sees each file operation those
// modules make themselves. It counts them on two sides, writes (creating a file for writing,
// writing, closing a written file, renaming, deleting, attributes, file times, directories,
// the settings write) and reads (opening for reading, reading), and can fail the N-th
// operation of one side:
//   once    that operation fails, with the error a failing disk gives;
//   sticky  it and every later operation of its side fail (a full or write-protected disk,
//           a source disk gone bad);
//   cut     the process ends there at once, as at a power cut: nothing more reaches the
//           disk, not even what the C runtime still holds in its buffers.
#include <windows.h>

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "failing_disk.h"
#include "import_table.h"

namespace {

enum Side { WRITES, READS };
enum Mode { NO_FAULT, ONCE, STICKY, CUT };
const char *const SideNames[] = {"write", "read"};

struct Fault {
    Side side;
    Mode mode;
    long at;
} fault;
long counted[2];
bool stuck[2];
HANDLE logFile = INVALID_HANDLE_VALUE;

// The modules whose imports go through the disk, for naming the caller of an operation.
struct Module {
    BYTE *start, *end;
    char name[64];
} modules[8];
int moduleCount;

// What each open file is, for the log and for telling a written file's close from another.
struct KnownFile {
    const void *key;  // a HANDLE or a FILE*; NULL for a free slot
    bool writing;
    char path[MAX_PATH];
} openFiles[64];

KnownFile *Find(const void *key)
{
    for (KnownFile &file : openFiles)
        if (file.key == key)
            return &file;
    return nullptr;
}

void Remember(const void *key, bool writing, const char *path)
{
    KnownFile *file = Find(nullptr);
    if (file == nullptr)
        return;
    file->key = key;
    file->writing = writing;
    snprintf(file->path, sizeof file->path, "%s", path);
}

const char *PathOf(const void *key)
{
    KnownFile *file = key ? Find(key) : nullptr;
    return file ? file->path : "?";
}

// Forgets an open file; whether it was open for writing.
bool Forget(const void *key)
{
    KnownFile *file = key ? Find(key) : nullptr;
    if (file == nullptr)
        return false;
    file->key = nullptr;
    return file->writing;
}

const char *ModuleAt(void *address)
{
    for (int i = 0; i < moduleCount; i++)
        if ((BYTE *)address >= modules[i].start && (BYTE *)address < modules[i].end)
            return modules[i].name;
    return "?";
}

void Log(const char *line)
{
    DWORD written;
    if (logFile != INVALID_HANDLE_VALUE)
        WriteFile(logFile, line, (DWORD)strlen(line), &written, NULL);
}

// Counts one operation of a side and tells whether it fails; at a cut the process ends here.
bool Fails(Side side, void *caller, const char *function, const char *detail,
           const char *detail2 = nullptr)
{
    long number = ++counted[side];
    bool hit = fault.mode != NO_FAULT && side == fault.side && number == fault.at;
    if (hit && fault.mode == STICKY)
        stuck[side] = true;
    bool fails = hit || stuck[side];
    char line[3 * MAX_PATH];
    snprintf(line, sizeof line, "%s %ld %s %s %s%s%s%s\n", SideNames[side], number,
             ModuleAt(caller), function, detail, detail2 ? " > " : "", detail2 ? detail2 : "",
             hit && fault.mode == CUT ? " CUT" : fails ? " FAILED" : "");
    Log(line);
    if (hit && fault.mode == CUT)
        TerminateProcess(GetCurrentProcess(), FAILING_DISK_CUT_EXIT);
    return fails;
}

// ---- The real functions, taken from the first import slot that names each one.
enum Function {
    K_CreateFileA, K_ReadFile, K_WriteFile, K_CloseHandle, K_MoveFileA, K_DeleteFileA,
    K_SetFileAttributesA, K_SetFileTime, K_CreateDirectoryA, K_WritePrivateProfileStringA,
    K_LoadLibraryA, C_fopen, C_fclose, C_fread, C_fwrite, C_fgets, C_fputs, C_fputc,
    C_remove, C_rename, C_mkdir, C_unlink, FUNCTION_COUNT
};
void *real[FUNCTION_COUNT];
int *(__cdecl *runtimeErrno)();

#define REAL(name, function) ((decltype(&function))real[name])

void SetErrno(int value)
{
    if (runtimeErrno)
        *runtimeErrno() = value;
}

// A failed stream operation leaves the stream's error flag set, as the C runtime does.
void MarkStreamFailed(FILE *stream, int error)
{
    stream->_flag |= _IOERR;
    SetErrno(error);
}

void PatchModule(HMODULE module);

// ---- KERNEL32
HANDLE WINAPI HookCreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD flags, HANDLE model)
{
    bool writing = (access & GENERIC_WRITE) || disposition != OPEN_EXISTING;
    if (Fails(writing ? WRITES : READS, __builtin_return_address(0), "CreateFileA", name)) {
        SetLastError(writing ? ERROR_DISK_FULL : ERROR_CRC);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE file = REAL(K_CreateFileA, CreateFileA)(name, access, share, security, disposition,
                                                   flags, model);
    if (file != INVALID_HANDLE_VALUE)
        Remember(file, writing, name);
    return file;
}

BOOL WINAPI HookReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD got, LPOVERLAPPED overlapped)
{
    if (Fails(READS, __builtin_return_address(0), "ReadFile", PathOf(file))) {
        if (got)
            *got = 0;
        SetLastError(ERROR_CRC);
        return FALSE;
    }
    return REAL(K_ReadFile, ReadFile)(file, buffer, count, got, overlapped);
}

BOOL WINAPI HookWriteFile(HANDLE file, LPCVOID data, DWORD count, LPDWORD written, LPOVERLAPPED overlapped)
{
    if (Fails(WRITES, __builtin_return_address(0), "WriteFile", PathOf(file))) {
        if (written)
            *written = 0;
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return REAL(K_WriteFile, WriteFile)(file, data, count, written, overlapped);
}

// Closing a written file can fail (its last data do not fit); the handle is gone either way.
BOOL WINAPI HookCloseHandle(HANDLE handle)
{
    char path[MAX_PATH];
    snprintf(path, sizeof path, "%s", PathOf(handle));
    if (!Forget(handle) || !Fails(WRITES, __builtin_return_address(0), "CloseHandle", path))
        return REAL(K_CloseHandle, CloseHandle)(handle);
    REAL(K_CloseHandle, CloseHandle)(handle);
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

BOOL WINAPI HookMoveFileA(LPCSTR from, LPCSTR to)
{
    if (Fails(WRITES, __builtin_return_address(0), "MoveFileA", from, to)) {
        SetLastError(ERROR_WRITE_PROTECT);
        return FALSE;
    }
    return REAL(K_MoveFileA, MoveFileA)(from, to);
}

BOOL WINAPI HookDeleteFileA(LPCSTR name)
{
    if (Fails(WRITES, __builtin_return_address(0), "DeleteFileA", name)) {
        SetLastError(ERROR_WRITE_PROTECT);
        return FALSE;
    }
    return REAL(K_DeleteFileA, DeleteFileA)(name);
}

BOOL WINAPI HookSetFileAttributesA(LPCSTR name, DWORD attributes)
{
    if (Fails(WRITES, __builtin_return_address(0), "SetFileAttributesA", name)) {
        SetLastError(ERROR_WRITE_PROTECT);
        return FALSE;
    }
    return REAL(K_SetFileAttributesA, SetFileAttributesA)(name, attributes);
}

BOOL WINAPI HookSetFileTime(HANDLE file, const FILETIME *created, const FILETIME *accessed,
                            const FILETIME *written)
{
    if (Fails(WRITES, __builtin_return_address(0), "SetFileTime", PathOf(file))) {
        SetLastError(ERROR_WRITE_PROTECT);
        return FALSE;
    }
    return REAL(K_SetFileTime, SetFileTime)(file, created, accessed, written);
}

BOOL WINAPI HookCreateDirectoryA(LPCSTR name, LPSECURITY_ATTRIBUTES security)
{
    if (Fails(WRITES, __builtin_return_address(0), "CreateDirectoryA", name)) {
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return REAL(K_CreateDirectoryA, CreateDirectoryA)(name, security);
}

BOOL WINAPI HookWritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file)
{
    if (Fails(WRITES, __builtin_return_address(0), "WritePrivateProfileStringA", file)) {
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return REAL(K_WritePrivateProfileStringA, WritePrivateProfileStringA)(section, key, value, file);
}

// A library the program loads goes on the same disk.
HMODULE WINAPI HookLoadLibraryA(LPCSTR name)
{
    HMODULE module = REAL(K_LoadLibraryA, LoadLibraryA)(name);
    if (module != NULL)
        PatchModule(module);
    return module;
}

// ---- The C runtime
bool WritingMode(const char *mode) { return strpbrk(mode, "wa+") != nullptr; }

FILE *__cdecl HookFopen(const char *name, const char *mode)
{
    bool writing = WritingMode(mode);
    if (Fails(writing ? WRITES : READS, __builtin_return_address(0), "fopen", name, mode)) {
        SetErrno(writing ? ENOSPC : EIO);
        return nullptr;
    }
    FILE *stream = REAL(C_fopen, fopen)(name, mode);
    if (stream)
        Remember(stream, writing, name);
    return stream;
}

// A failed close of a written stream loses what was still in its buffer.
int __cdecl HookFclose(FILE *stream)
{
    char path[MAX_PATH];
    snprintf(path, sizeof path, "%s", PathOf(stream));
    if (!Forget(stream) || !Fails(WRITES, __builtin_return_address(0), "fclose", path))
        return REAL(C_fclose, fclose)(stream);
    stream->_ptr = stream->_base;
    stream->_cnt = 0;
    REAL(C_fclose, fclose)(stream);
    SetErrno(ENOSPC);
    return EOF;
}

size_t __cdecl HookFread(void *buffer, size_t size, size_t count, FILE *stream)
{
    if (Fails(READS, __builtin_return_address(0), "fread", PathOf(stream))) {
        MarkStreamFailed(stream, EIO);
        return 0;
    }
    return REAL(C_fread, fread)(buffer, size, count, stream);
}

size_t __cdecl HookFwrite(const void *data, size_t size, size_t count, FILE *stream)
{
    if (Fails(WRITES, __builtin_return_address(0), "fwrite", PathOf(stream))) {
        MarkStreamFailed(stream, ENOSPC);
        return 0;
    }
    return REAL(C_fwrite, fwrite)(data, size, count, stream);
}

char *__cdecl HookFgets(char *buffer, int size, FILE *stream)
{
    if (Fails(READS, __builtin_return_address(0), "fgets", PathOf(stream))) {
        MarkStreamFailed(stream, EIO);
        return nullptr;
    }
    return REAL(C_fgets, fgets)(buffer, size, stream);
}

int __cdecl HookFputs(const char *text, FILE *stream)
{
    if (Fails(WRITES, __builtin_return_address(0), "fputs", PathOf(stream))) {
        MarkStreamFailed(stream, ENOSPC);
        return EOF;
    }
    return REAL(C_fputs, fputs)(text, stream);
}

int __cdecl HookFputc(int c, FILE *stream)
{
    if (Fails(WRITES, __builtin_return_address(0), "fputc", PathOf(stream))) {
        MarkStreamFailed(stream, ENOSPC);
        return EOF;
    }
    return REAL(C_fputc, fputc)(c, stream);
}

int __cdecl HookRemove(const char *name)
{
    if (Fails(WRITES, __builtin_return_address(0), "remove", name)) {
        SetErrno(EACCES);
        return -1;
    }
    return REAL(C_remove, remove)(name);
}

int __cdecl HookRename(const char *from, const char *to)
{
    if (Fails(WRITES, __builtin_return_address(0), "rename", from, to)) {
        SetErrno(EACCES);
        return -1;
    }
    return REAL(C_rename, rename)(from, to);
}

int __cdecl HookMkdir(const char *name)
{
    if (Fails(WRITES, __builtin_return_address(0), "_mkdir", name)) {
        SetErrno(ENOSPC);
        return -1;
    }
    return ((int(__cdecl *)(const char *))real[C_mkdir])(name);
}

int __cdecl HookUnlink(const char *name)
{
    if (Fails(WRITES, __builtin_return_address(0), "_unlink", name)) {
        SetErrno(EACCES);
        return -1;
    }
    return ((int(__cdecl *)(const char *))real[C_unlink])(name);
}

struct Hook {
    const char *name;
    void *function;
    bool cRuntime;
};
// In the order of enum Function.
const Hook Hooks[FUNCTION_COUNT] = {
    {"CreateFileA", (void *)HookCreateFileA, false},
    {"ReadFile", (void *)HookReadFile, false},
    {"WriteFile", (void *)HookWriteFile, false},
    {"CloseHandle", (void *)HookCloseHandle, false},
    {"MoveFileA", (void *)HookMoveFileA, false},
    {"DeleteFileA", (void *)HookDeleteFileA, false},
    {"SetFileAttributesA", (void *)HookSetFileAttributesA, false},
    {"SetFileTime", (void *)HookSetFileTime, false},
    {"CreateDirectoryA", (void *)HookCreateDirectoryA, false},
    {"WritePrivateProfileStringA", (void *)HookWritePrivateProfileStringA, false},
    {"LoadLibraryA", (void *)HookLoadLibraryA, false},
    {"fopen", (void *)HookFopen, true},
    {"fclose", (void *)HookFclose, true},
    {"fread", (void *)HookFread, true},
    {"fwrite", (void *)HookFwrite, true},
    {"fgets", (void *)HookFgets, true},
    {"fputs", (void *)HookFputs, true},
    {"fputc", (void *)HookFputc, true},
    {"remove", (void *)HookRemove, true},
    {"rename", (void *)HookRename, true},
    {"_mkdir", (void *)HookMkdir, true},
    {"_unlink", (void *)HookUnlink, true},
};

bool CRuntime(const char *library)
{
    return lstrcmpiA(library, "crtdll.dll") == 0 || lstrcmpiA(library, "msvcrt.dll") == 0;
}

void RouteImport(void *, const char *library, const char *function, void **slot)
{
    bool kernel = lstrcmpiA(library, "kernel32.dll") == 0;
    bool cRuntime = CRuntime(library);
    if (cRuntime && runtimeErrno == nullptr)
        runtimeErrno = (int *(__cdecl *)())(void *)GetProcAddress(GetModuleHandleA(library), "_errno");
    for (int i = 0; i < FUNCTION_COUNT; i++)
        if ((Hooks[i].cRuntime ? cRuntime : kernel) && strcmp(Hooks[i].name, function) == 0) {
            if (real[i] == nullptr)
                real[i] = *slot;
            if (*slot != Hooks[i].function)
                PatchImport(slot, Hooks[i].function);
        }
}

void PatchModule(HMODULE module)
{
    BYTE *base = (BYTE *)module;
    IMAGE_NT_HEADERS *headers = (IMAGE_NT_HEADERS *)(base + ((IMAGE_DOS_HEADER *)base)->e_lfanew);
    bool known = false;
    for (int i = 0; i < moduleCount; i++)
        known |= modules[i].start == base;
    if (!known && moduleCount < (int)(sizeof modules / sizeof modules[0])) {
        Module &m = modules[moduleCount++];
        m.start = base;
        m.end = base + headers->OptionalHeader.SizeOfImage;
        char path[MAX_PATH] = "";
        GetModuleFileNameA(module, path, sizeof path);
        const char *slash = strrchr(path, '\\');
        snprintf(m.name, sizeof m.name, "%s", slash ? slash + 1 : path);
    }
    VisitImports(module, RouteImport, nullptr);
}

// Reads "SIDE MODE N" from the environment; leaves no fault when it is absent or unclear.
void ReadFault()
{
    char text[64] = "", side[16], mode[16];
    long at;
    GetEnvironmentVariableA(FAILING_DISK_VARIABLE, text, sizeof text);
    if (sscanf(text, "%15s %15s %ld", side, mode, &at) != 3 || at < 1)
        return;
    fault.side = strcmp(side, "read") == 0 ? READS : WRITES;
    fault.mode = strcmp(mode, "once") == 0 ? ONCE : strcmp(mode, "sticky") == 0 ? STICKY
               : strcmp(mode, "cut") == 0 ? CUT : NO_FAULT;
    fault.at = at;
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    ReadFault();
    char path[MAX_PATH] = "";
    if (GetEnvironmentVariableA(FAILING_DISK_LOG_VARIABLE, path, sizeof path) > 0)
        logFile = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    PatchModule(GetModuleHandleA(NULL));
    return TRUE;
}
