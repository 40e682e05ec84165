// What the reader's parts share: its state, one checked entry, and the functions each part
// (names, archive structure, extraction) offers the others. Not the library's interface.
#ifndef ZIPREADER_INTERNAL_H
#define ZIPREADER_INTERNAL_H

#include "zipreader.h"

namespace zipreader {

const uint32_t kDescriptorSignature = 0x08074b50;
const uint16_t kDescriptorFlag = 0x0008;
// The streaming buffer for inflated data: memory use does not depend on entry or archive size.
const uint32_t kChunk = 65536;
// A UTF-8 name may take up to four bytes per character of the name finally written.
const uint32_t kMaxUtf8Name = 4 * ZIP_MAX_NAME;
// A window holds the largest local header accepted (30 bytes, the longest name, 65535 bytes
// of extra fields), and so also the tail searched for the end record (22 bytes and 65535 of
// comment).
const uint32_t kWindow = 30 + kMaxUtf8Name + 65535;

inline uint16_t Get16(const unsigned char *p) { return (uint16_t)(p[0] | (p[1] << 8)); }
inline uint32_t Get32(const unsigned char *p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

// One central-directory entry after all checks that need neither its local header nor its
// data.
struct Entry {
  char name[ZIP_MAX_NAME + 1];  // checked and normalised
  int isDirectory;
  uint16_t flags;
  uint16_t method;
  uint16_t dosTime;
  uint16_t dosDate;
  uint32_t crc;
  uint32_t compressedSize;
  uint32_t size;
  uint64_t localStart;  // where its local header lies in the archive
  uint64_t dataStart;
  // What its local header must repeat: the name as stored, and the UTF-8 name it takes (from
  // the flag or a Unicode path field), if any.
  unsigned char raw[kMaxUtf8Name];
  uint32_t rawLength;
  unsigned char utf8[kMaxUtf8Name];
  uint32_t utf8Length;
  bool hasUtf8;
  char display[256];  // the raw name made printable and cut, for messages
};

// What the reader keeps of each entry from the walk of the directory to the end of the
// archive, where the files get their names: little, since an archive may have 65535 entries.
// The rest is read again from the central directory, which small archives hold in a window.
enum PlanState { FOLDERS_MADE = 1, FILE_WRITTEN = 2 };
struct Planned {
  uint32_t central;     // offset of its central header
  uint32_t localStart;  // of its local header: the archive is read in this order
  uint32_t file;        // the sink's number of its temporary file
  uint32_t state;       // PlanState bits
};

// A bounded window over the archive: one read brings in what a run of headers and small
// entries needs, so that these cost no read of their own, while large entries stream through
// it with flat memory.
struct Window {
  unsigned char bytes[kWindow];
  uint64_t start;
  uint32_t length;
};

struct Reader {
  const ZipSource *source;
  const ZipSink *sink;
  const ZipOptions *options;
  uint64_t centralStart;
  uint64_t centralEnd;
  uint32_t entryCount;
  // The length of a stub before the archive that its offsets do not count.
  uint64_t shift;
  Window directory;  // the end of the archive, then the central directory
  Window data;       // local headers and entry data
  unsigned char out[kChunk];
  char lastParent[ZIP_MAX_NAME + 1];
  char reasonText[64];
  unsigned reported;
  unsigned failures;  // entries that failed alone
  unsigned refusals;  // faults that refuse the whole archive
  bool readFailed;    // since the last refusal: a read of the archive failed
  uint16_t unicodeName[kMaxUtf8Name];
};

enum ParseResult { PARSE_OK, PARSE_ENTRY_BAD, PARSE_BROKEN };

// One name an entry writes, for the check that no two entries write one file.
enum NameKind { NAME_FILE, NAME_DIRECTORY, NAME_PARENT };
struct WrittenName {
  uint64_t hash;     // of the name as the file system compares it
  uint32_t central;  // offset of the entry's central header
  uint32_t kind;     // NameKind; NAME_PARENT is a folder an entry goes into
};
struct NameTable {
  WrittenName *names;
  size_t count;
  size_t capacity;
  ZipKeySet folders;  // every folder that some entry goes into, once
};

// Extraction (zipreader.cpp).
void Print(Reader *r, const char *format, ...);
// A failed entry's line; beyond a cap only counted.
void Fail(Reader *r, const char *name, const char *reason);
// A fault that refuses the whole archive: its line, counted among the refusals.
void Refuse(Reader *r, const char *name, const char *reason);
bool Selected(Reader *r, const Entry *e);

// Archive structure (ziparchive.cpp).
// Bytes [offset, offset + count) through window w. When they are not all in it, it is
// refilled from offset with up to reach bytes (never fewer than count, never beyond limit),
// keeping what it holds from offset on and taking what the other window holds, so that a
// forward pass reads no byte twice. NULL when they lie beyond limit or cannot be read.
const unsigned char *Fetch(Reader *r, Window *w, uint64_t offset, uint32_t count, uint32_t reach,
                           uint64_t limit);
// The next bytes of an entry's data through the data window: at least one, at most count,
// as many as the window holds; *available tells how many. NULL when they cannot be read.
const unsigned char *Stream(Reader *r, uint64_t offset, uint32_t count, uint32_t *available);
// Reads and checks the central header at *position. PARSE_ENTRY_BAD leaves *position on
// the next header; PARSE_BROKEN means the directory cannot be walked on.
ParseResult ParseCentral(Reader *r, uint64_t *position, Entry *e, const char **reason);
// Reads the local header of a parsed entry, with up to reach bytes after it, and checks it
// against the central header; fills e->dataStart. Non-zero with *reason set when it does
// not match or cannot be read.
int CheckLocal(Reader *r, Entry *e, uint32_t reach, const char **reason);
// What the forward pass reads at the header of an entry it only checks: the whole window,
// unless the entry's data would fill it anyway.
uint32_t HeaderReach(const Entry *e);
int FindEnd(Reader *r, const char **reason);
// Walks the central directory, checks every entry and that no two write one file, and
// fills plan (entryCount places) in directory order. Non-zero when the archive is refused.
int CheckDirectory(Reader *r, Planned *plan);

// Names (zipnames.cpp).
void MakeDisplayName(const unsigned char *raw, size_t length, char *out, size_t outSize);
int ConvertName(Reader *r, Entry *e, const unsigned char *utf8, size_t length, char *out,
                size_t outSize, size_t *outLength, const char **reason);
int AddWrittenNames(Reader *r, Entry *e, uint32_t central, NameTable *table, const char **reason);
void ReportClashes(Reader *r, WrittenName *names, size_t count);

}  // namespace zipreader

#endif
