// Platform-free ZIP reader: checks an archive and streams its entries to a sink.
#ifndef ZIPREADER_H
#define ZIPREADER_H

#include <stddef.h>
#include <stdint.h>

// Results of ZipExtract (also the results of DllProcessZipFiles). 1 and -1 are avoided on
// purpose: the installer gives those its own meanings (disk prompt cancelled, unzip cancelled).
enum {
  ZIP_OK = 0,
  ZIP_ENTRY_FAILED = 2,  // some entries could not be extracted; the others were
  ZIP_REFUSED = 3,       // archive unreadable, damaged or unsafe: nothing was extracted
  ZIP_BAD_CALL = 4       // no archive named (platform layer)
};

// The longest entry name accepted, in bytes: a Windows path must stay below 260 characters.
enum { ZIP_MAX_NAME = 259 };

// Random access to the archive bytes.
struct ZipSource {
  void *context;
  uint64_t size;
  // Reads exactly count bytes at offset into buffer; returns 0 on success.
  int (*read)(void *context, uint64_t offset, void *buffer, uint32_t count);
};

// What the reader knows about one entry when it hands it to the sink.
struct ZipEntryInfo {
  const char *name;    // safe relative path, components separated by '/', no trailing '/'
  uint32_t size;       // uncompressed size
  uint16_t dosDate;    // modification date and time in MS-DOS form (local time)
  uint16_t dosTime;
};

// Where the output goes. Every function returning int returns 0 on success; after a failure,
// lastError gives a short reason.
struct ZipSink {
  void *context;
  // One line of output, ending with '\n', at most a few hundred bytes.
  void (*print)(void *context, const char *line, int length);
  // Creates one directory level; an existing directory is success.
  int (*makeDirectory)(void *context, const char *path);
  // Removes one directory level that makeDirectory created in this extraction, when it is
  // empty: an archive refused halfway leaves no folders behind.
  void (*removeDirectory)(void *context, const char *path);
  // 1 when something already exists under that name.
  int (*exists)(void *context, const char *path);
  // An entry's file is written under a temporary name in its own directory (openFile, which
  // gives the number that later calls know it by, and writeFile), completed with its time and
  // its data forced to the disk (closeFile), and gets its name only once the whole archive
  // has passed every check (nameFile, which replaces an existing file). Until then it
  // replaces nothing. abortFile removes the file being written, dropFile a closed one when
  // the archive is refused; after a failed closeFile or nameFile the file is gone too.
  int (*openFile)(void *context, const ZipEntryInfo *entry, uint32_t *file);
  int (*writeFile)(void *context, const void *data, uint32_t count);
  int (*closeFile)(void *context, const ZipEntryInfo *entry);
  void (*abortFile)(void *context);
  int (*nameFile)(void *context, uint32_t file, const ZipEntryInfo *entry);
  void (*dropFile)(void *context, uint32_t file, const ZipEntryInfo *entry);
  const char *(*lastError)(void *context);
  // Optional, NULL for the built-in ZipFoldCase: upper-cases a name in place, keeping its
  // length, the way the file system compares names.
  void (*foldCase)(void *context, char *text, size_t length);
  // Optional: converts a name given in UTF-16 to the system's 8-bit code page. Returns the
  // number of bytes written to out, or -1 when a character has no exact equivalent there or
  // out is too small. NULL: only names made of ASCII characters can be converted.
  int (*fromUnicode)(void *context, const uint16_t *text, size_t count, char *out,
                     size_t outSize);
};

struct ZipOptions {
  int overwrite;               // 1: replace existing files; 0: keep them and skip the entry
  int quiet;                   // 1: only failures and the closing line
  int junkPaths;               // 1: drop directory parts, every file into the current directory
  int listOnly;                // 1: list the entries, write nothing
  int selectCount;             // entries to extract by name; 0 means every entry
  const char *const *selectNames;
};

// Reads the end record and the central directory and checks them (names, methods, sizes);
// when that fails nothing is written. Then reads the archive once from its start, in the
// order of the entries' data, checking each local header against the directory as it comes
// and writing each file under a temporary name; the files get their names at the end, and
// only when nothing in the whole archive was refused. An entry whose data turn out damaged is
// reported and skipped, the others are still extracted. Returns one of the ZIP_ results.
int ZipExtract(const ZipSource *source, const ZipSink *sink, const ZipOptions *options);

// Turns a stored entry name into a safe relative path with '/' separators. Returns 0 and
// fills out (and isDirectory) when the name is acceptable, else non-zero with *reason set.
// A name that reduces to nothing (such as "./") gives an empty out.
int ZipCheckName(const char *raw, size_t length, char *out, size_t outSize, int *isDirectory,
                 const char **reason);

// Upper-cases ASCII letters and the letters of the Windows-1252 code page in place.
void ZipFoldCase(char *text, size_t length);

// A set of 64-bit keys (open addressing), zero-initialised before use, freed with free(slots).
struct ZipKeySet {
  uint64_t *slots;
  size_t capacity;  // a power of two, or 0
  size_t count;
};
// Adds key; returns 1 when it was new, 0 when it was there already, -1 when the set would
// grow beyond limit keys or memory runs out.
int ZipKeySetAdd(ZipKeySet *set, uint64_t key, size_t limit);
int ZipKeySetHas(const ZipKeySet *set, uint64_t key);
// 64-bit FNV-1a over bytes, continuing from hash (start with ZIP_HASH_START).
#define ZIP_HASH_START 14695981039346656037ull
uint64_t ZipHash(uint64_t hash, const void *bytes, size_t length);

// Decodes strict UTF-8 (no overlong forms, surrogates, code points beyond U+10FFFF or cut
// sequences) into UTF-16. Returns the number of units written, or -1 when the bytes are not
// UTF-8 or out is too small.
int ZipDecodeUtf8(const unsigned char *text, size_t length, uint16_t *out, size_t outSize);

#endif
