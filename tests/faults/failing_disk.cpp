// failing_disk.dll: a disk that fails under the real setup.exe and wizunz32.dll. Loaded into
// setup.exe before its entry point runs, it rewrites the KERNEL32 and C-runtime imports of
// setup.exe and of every library setup.exe loads, so that it sees each file operation those
// modules make themselves. It counts them on two sides, writes (creating a file for writing,
// writing, closing a written file, renaming, deleting, attributes, file times, directories,
// the settings write, flushes) and reads (opening for reading, reading), and can fail the
// N-th operation of one side:
//   once    that operation fails, with the error a failing disk gives;
//   sticky  it and every later operation of its side fail (a full or write-protected disk,
//           a source disk gone bad);
//   cut     the process ends there at once: nothing more reaches the disk, not even what the
//           C runtime still holds in its buffers;
//   power   a power cut under a write-back disk cache, at the N-th write operation or, when
//           there are fewer, right after the program ends: the process ends, every byte
//           written to a file since its last flush (FlushFileBuffers, _commit) reads back as
//           zeros, the file keeping its name and size, and each settings file changed since
//           the last flush of the profile cache gets back what it held before (or goes, when
//           it is new). Creations, renames, deletions and folders stay as they were done.
#include <windows.h>

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "failing_disk.h"
#include "import_table.h"

namespace {

enum Side { WRITES, READS };
enum Mode { NO_FAULT, ONCE, STICKY, CUT, POWER };
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
    bool stream;
    char path[MAX_PATH];      // as the program named it
    char fullPath[MAX_PATH];
} openFiles[64];

KnownFile *Find(const void *key)
{
    for (KnownFile &file : openFiles)
        if (file.key == key)
            return &file;
    return nullptr;
}

void FullPath(const char *name, char *full)
{
    DWORD length = GetFullPathNameA(name, MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH)
        snprintf(full, MAX_PATH, "%s", name);
}

void Remember(const void *key, bool writing, bool stream, const char *path)
{
    KnownFile *file = Find(nullptr);
    if (file == nullptr)
        return;
    file->key = key;
    file->writing = writing;
    file->stream = stream;
    snprintf(file->path, sizeof file->path, "%s", path);
    FullPath(path, file->fullPath);
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

void LoseDiskCache();

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
             hit && fault.mode >= CUT ? " CUT" : fails ? " FAILED" : "");
    Log(line);
    if (hit && fault.mode == POWER)
        LoseDiskCache();
    if (hit && fault.mode >= CUT)
        TerminateProcess(GetCurrentProcess(), FAILING_DISK_CUT_EXIT);
    return fails;
}

// ---- The real functions, taken from the first import slot that names each one.
enum Function {
    K_CreateFileA, K_ReadFile, K_WriteFile, K_CloseHandle, K_MoveFileA, K_DeleteFileA,
    K_SetFileAttributesA, K_SetFileTime, K_CreateDirectoryA, K_RemoveDirectoryA,
    K_WritePrivateProfileStringA, K_FlushFileBuffers, K_LoadLibraryA, C_fopen, C_fclose, C_fread,
    C_fwrite, C_fgets, C_fputs, C_fputc, C_fflush, C_commit, C_remove, C_rename, C_mkdir, C_unlink,
    FUNCTION_COUNT
};
void *real[FUNCTION_COUNT];
// Of the program's C runtime, whose descriptors and streams are its own.
int *(__cdecl *runtimeErrno)();
long(__cdecl *runtimeFtell)(FILE *);
intptr_t(__cdecl *runtimeOsHandle)(int);

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

HANDLE OsHandle(FILE *stream)
{
    return runtimeOsHandle ? (HANDLE)runtimeOsHandle(stream->_file) : INVALID_HANDLE_VALUE;
}

// ---- The disk cache. A file written since its last flush, by its identity (which stays with
// it through renames), with the path it has now and the bytes written since that flush.
struct Identity {
    DWORD volume, high, low;
};
struct CachedData {
    bool used;
    Identity identity;
    char path[MAX_PATH];
    LONGLONG from, to;  // from == to: nothing unflushed
} cachedData[256];

// A settings file changed since the profile cache was last flushed, with what it held before.
struct CachedSettings {
    char path[MAX_PATH];  // empty for a free slot
    bool existed;
    DWORD length;
    char before[16384];
} cachedSettings[4];

bool IdentityOf(HANDLE file, Identity *identity)
{
    BY_HANDLE_FILE_INFORMATION information;
    if (file == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(file, &information))
        return false;
    *identity = {information.dwVolumeSerialNumber, information.nFileIndexHigh,
                 information.nFileIndexLow};
    return true;
}

CachedData *CachedByIdentity(const Identity &identity)
{
    for (CachedData &data : cachedData)
        if (data.used && memcmp(&data.identity, &identity, sizeof identity) == 0)
            return &data;
    return nullptr;
}

CachedData *CachedByPath(const char *name)
{
    char full[MAX_PATH];
    FullPath(name, full);
    for (CachedData &data : cachedData)
        if (data.used && lstrcmpiA(data.path, full) == 0)
            return &data;
    return nullptr;
}

LONGLONG Position(HANDLE file)
{
    LONG high = 0;
    DWORD low = SetFilePointer(file, 0, &high, FILE_CURRENT);
    return low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR ? -1
                                                                       : ((LONGLONG)high << 32) | low;
}

// Bytes [from, to) of an open file (key, of the open files) were written.
void NoteWritten(HANDLE file, const void *key, LONGLONG from, LONGLONG to)
{
    Identity identity;
    KnownFile *known = key ? Find(key) : nullptr;
    if (known == nullptr || from < 0 || to <= from || !IdentityOf(file, &identity))
        return;
    CachedData *data = CachedByIdentity(identity);
    for (CachedData &free : cachedData)
        if (data == nullptr && !free.used) {
            data = &free;
            *data = {true, identity, "", 0, 0};
            snprintf(data->path, sizeof data->path, "%s", known->fullPath);
        }
    if (data == nullptr)
        return;
    bool clean = data->from == data->to;
    data->from = clean || from < data->from ? from : data->from;
    data->to = clean || to > data->to ? to : data->to;
}

void NoteFlushed(HANDLE file)
{
    Identity identity;
    CachedData *data = IdentityOf(file, &identity) ? CachedByIdentity(identity) : nullptr;
    if (data != nullptr)
        data->from = data->to = 0;
}

void NoteRenamed(const char *from, const char *to)
{
    CachedData *data = CachedByPath(from);
    if (data != nullptr)
        FullPath(to, data->path);
}

void NoteDeleted(const char *name)
{
    CachedData *data = CachedByPath(name);
    if (data != nullptr)
        data->used = false;
}

// A settings file named without a folder lies in the Windows directory.
void SettingsPath(const char *name, char *path)
{
    char directory[MAX_PATH];
    if (strpbrk(name, "\\/:") == nullptr && GetWindowsDirectoryA(directory, sizeof directory) > 0)
        snprintf(path, MAX_PATH, "%s\\%s", directory, name);
    else
        FullPath(name, path);
}

// Keeps what a settings file holds before its first change since the last cache flush.
void NoteSettingsChange(const char *name)
{
    char path[MAX_PATH];
    SettingsPath(name, path);
    CachedSettings *free = nullptr;
    for (CachedSettings &settings : cachedSettings) {
        if (lstrcmpiA(settings.path, path) == 0)
            return;
        if (settings.path[0] == '\0' && free == nullptr)
            free = &settings;
    }
    if (free == nullptr)
        return;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, 0, NULL);
    free->existed = file != INVALID_HANDLE_VALUE;
    free->length = 0;
    if (free->existed) {
        ReadFile(file, free->before, sizeof free->before, &free->length, NULL);
        CloseHandle(file);
    }
    snprintf(free->path, sizeof free->path, "%s", path);
}

void NoteSettingsFlushed(const char *name)
{
    char path[MAX_PATH] = "";
    if (name != nullptr)
        SettingsPath(name, path);
    for (CachedSettings &settings : cachedSettings)
        if (name == nullptr || lstrcmpiA(settings.path, path) == 0)
            settings.path[0] = '\0';
}

// The power goes: what the cache held never reaches the disk. The program's open files are
// closed first (so that they can be opened here, and so that what the C runtime holds in
// their buffers never reaches the disk).
void LoseDiskCache()
{
    for (KnownFile &known : openFiles)
        if (known.key != nullptr)
            CloseHandle(known.stream ? OsHandle((FILE *)known.key) : (HANDLE)known.key);
    char line[2 * MAX_PATH];
    static const char zeros[4096] = {};
    for (CachedData &data : cachedData) {
        if (!data.used || data.from == data.to)
            continue;
        HANDLE file = CreateFileA(data.path, GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                  OPEN_EXISTING, 0, NULL);
        Identity identity;
        if (!IdentityOf(file, &identity) || memcmp(&identity, &data.identity, sizeof identity) != 0) {
            if (file != INVALID_HANDLE_VALUE)
                CloseHandle(file);
            continue;
        }
        LARGE_INTEGER size, at;
        at.QuadPart = data.from;
        if (GetFileSizeEx(file, &size) && data.to > size.QuadPart)
            data.to = size.QuadPart;
        if (data.from < data.to && SetFilePointerEx(file, at, NULL, FILE_BEGIN)) {
            for (LONGLONG left = data.to - data.from; left > 0;) {
                DWORD count = left < (LONGLONG)sizeof zeros ? (DWORD)left : sizeof zeros, written;
                if (!WriteFile(file, zeros, count, &written, NULL) || written == 0)
                    break;
                left -= written;
            }
            snprintf(line, sizeof line, "power cut: bytes %lld to %lld of %s lost\n",
                     data.from, data.to, data.path);
            Log(line);
        }
        CloseHandle(file);
    }
    for (CachedSettings &settings : cachedSettings) {
        if (settings.path[0] == '\0')
            continue;
        if (settings.existed) {
            HANDLE file = CreateFileA(settings.path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
            DWORD written;
            WriteFile(file, settings.before, settings.length, &written, NULL);
            CloseHandle(file);
        } else {
            DeleteFileA(settings.path);
        }
        snprintf(line, sizeof line, "power cut: the changes to %s lost\n", settings.path);
        Log(line);
    }
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
        Remember(file, writing, false, name);
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
    LONGLONG at = Position(file);
    DWORD done = 0;
    BOOL ok = REAL(K_WriteFile, WriteFile)(file, data, count, &done, overlapped);
    NoteWritten(file, file, at, at + done);
    if (written)
        *written = done;
    return ok;
}

BOOL WINAPI HookFlushFileBuffers(HANDLE file)
{
    if (Fails(WRITES, __builtin_return_address(0), "FlushFileBuffers", PathOf(file))) {
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    BOOL flushed = REAL(K_FlushFileBuffers, FlushFileBuffers)(file);
    if (flushed)
        NoteFlushed(file);
    return flushed;
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
    BOOL moved = REAL(K_MoveFileA, MoveFileA)(from, to);
    if (moved)
        NoteRenamed(from, to);
    return moved;
}

BOOL WINAPI HookDeleteFileA(LPCSTR name)
{
    if (Fails(WRITES, __builtin_return_address(0), "DeleteFileA", name)) {
        SetLastError(ERROR_WRITE_PROTECT);
        return FALSE;
    }
    BOOL deleted = REAL(K_DeleteFileA, DeleteFileA)(name);
    if (deleted)
        NoteDeleted(name);
    return deleted;
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

BOOL WINAPI HookRemoveDirectoryA(LPCSTR name)
{
    if (Fails(WRITES, __builtin_return_address(0), "RemoveDirectoryA", name)) {
        SetLastError(ERROR_WRITE_PROTECT);
        return FALSE;
    }
    return REAL(K_RemoveDirectoryA, RemoveDirectoryA)(name);
}

BOOL WINAPI HookWritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file)
{
    if (Fails(WRITES, __builtin_return_address(0), "WritePrivateProfileStringA", file)) {
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    bool flush = section == nullptr && key == nullptr && value == nullptr;
    if (!flush && file != nullptr)
        NoteSettingsChange(file);
    BOOL result = REAL(K_WritePrivateProfileStringA, WritePrivateProfileStringA)(section, key,
                                                                                 value, file);
    if (flush)
        NoteSettingsFlushed(file);
    return result;
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
        Remember(stream, writing, true, name);
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
    long at = runtimeFtell(stream);
    size_t done = REAL(C_fwrite, fwrite)(data, size, count, stream);
    NoteWritten(OsHandle(stream), stream, at, runtimeFtell(stream));
    return done;
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
    long at = runtimeFtell(stream);
    int result = REAL(C_fputs, fputs)(text, stream);
    NoteWritten(OsHandle(stream), stream, at, runtimeFtell(stream));
    return result;
}

int __cdecl HookFputc(int c, FILE *stream)
{
    if (Fails(WRITES, __builtin_return_address(0), "fputc", PathOf(stream))) {
        MarkStreamFailed(stream, ENOSPC);
        return EOF;
    }
    long at = runtimeFtell(stream);
    int result = REAL(C_fputc, fputc)(c, stream);
    NoteWritten(OsHandle(stream), stream, at, runtimeFtell(stream));
    return result;
}

// Writing out a stream's buffer can fail like any write; the buffer is then lost, as the
// C runtime drops it.
int __cdecl HookFflush(FILE *stream)
{
    KnownFile *file = stream ? Find(stream) : nullptr;
    if (file == nullptr || !file->writing)
        return REAL(C_fflush, fflush)(stream);
    if (Fails(WRITES, __builtin_return_address(0), "fflush", file->path)) {
        stream->_ptr = stream->_base;
        stream->_cnt = 0;
        MarkStreamFailed(stream, ENOSPC);
        return EOF;
    }
    return REAL(C_fflush, fflush)(stream);
}

int __cdecl HookCommit(int descriptor)
{
    HANDLE file = runtimeOsHandle ? (HANDLE)runtimeOsHandle(descriptor) : INVALID_HANDLE_VALUE;
    const char *path = "?";
    for (const KnownFile &known : openFiles)
        if (known.key != nullptr && known.stream && ((FILE *)known.key)->_file == descriptor)
            path = known.path;
    if (Fails(WRITES, __builtin_return_address(0), "_commit", path)) {
        SetErrno(ENOSPC);
        return -1;
    }
    int result = ((int(__cdecl *)(int))real[C_commit])(descriptor);
    if (result == 0)
        NoteFlushed(file);
    return result;
}

int __cdecl HookRemove(const char *name)
{
    if (Fails(WRITES, __builtin_return_address(0), "remove", name)) {
        SetErrno(EACCES);
        return -1;
    }
    int result = REAL(C_remove, remove)(name);
    if (result == 0)
        NoteDeleted(name);
    return result;
}

int __cdecl HookRename(const char *from, const char *to)
{
    if (Fails(WRITES, __builtin_return_address(0), "rename", from, to)) {
        SetErrno(EACCES);
        return -1;
    }
    int result = REAL(C_rename, rename)(from, to);
    if (result == 0)
        NoteRenamed(from, to);
    return result;
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
    int result = ((int(__cdecl *)(const char *))real[C_unlink])(name);
    if (result == 0)
        NoteDeleted(name);
    return result;
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
    {"RemoveDirectoryA", (void *)HookRemoveDirectoryA, false},
    {"WritePrivateProfileStringA", (void *)HookWritePrivateProfileStringA, false},
    {"FlushFileBuffers", (void *)HookFlushFileBuffers, false},
    {"LoadLibraryA", (void *)HookLoadLibraryA, false},
    {"fopen", (void *)HookFopen, true},
    {"fclose", (void *)HookFclose, true},
    {"fread", (void *)HookFread, true},
    {"fwrite", (void *)HookFwrite, true},
    {"fgets", (void *)HookFgets, true},
    {"fputs", (void *)HookFputs, true},
    {"fputc", (void *)HookFputc, true},
    {"fflush", (void *)HookFflush, true},
    {"_commit", (void *)HookCommit, true},
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
    if (cRuntime && runtimeErrno == nullptr) {
        HMODULE runtime = GetModuleHandleA(library);
        runtimeErrno = (int *(__cdecl *)())(void *)GetProcAddress(runtime, "_errno");
        runtimeFtell = (long(__cdecl *)(FILE *))(void *)GetProcAddress(runtime, "ftell");
        runtimeOsHandle = (intptr_t(__cdecl *)(int))(void *)GetProcAddress(runtime, "_get_osfhandle");
    }
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
               : strcmp(mode, "cut") == 0 ? CUT : strcmp(mode, "power") == 0 ? POWER : NO_FAULT;
    fault.at = at;
    if (fault.mode == POWER)
        fault.side = WRITES;
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID ending)
{
    // A power cut after more write operations than the program made: right after it ends.
    if (reason == DLL_PROCESS_DETACH && ending != NULL && fault.mode == POWER) {
        Log("power cut: after the program ended\n");
        LoseDiskCache();
    }
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
