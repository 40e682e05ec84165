// Platform-free ZIP reader: central directory, stored and deflated entries, name checks.
#include "zipreader.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

namespace {

const uint32_t kEndSignature = 0x06054b50;
const uint32_t kZip64LocatorSignature = 0x07064b50;
const uint32_t kCentralSignature = 0x02014b50;
const uint32_t kLocalSignature = 0x04034b50;
const uint32_t kDescriptorSignature = 0x08074b50;
const uint32_t kEndSize = 22;
const uint32_t kCentralSize = 46;
const uint32_t kLocalSize = 30;
const uint32_t kMaxComment = 65535;
// Failures listed one by one before the rest are only counted.
const unsigned kMaxReported = 50;
// Fixed streaming buffers: memory use does not depend on entry or archive size.
const uint32_t kChunk = 65536;
// The central-directory window also holds the tail searched for the end record.
const uint32_t kWindow = 22 + 65535;
// Extra fields: strong encryption and AES (both mean the data are ciphertext), Unicode path.
const uint16_t kStrongEncryptionField = 0x0017;
const uint16_t kAesField = 0x9901;
const uint16_t kUnicodePathField = 0x7075;
// General-purpose flags: encryption (plain, strong, masked header), data descriptor, UTF-8.
const uint16_t kEncryptedFlags = 0x0001 | 0x0040 | 0x2000;
const uint16_t kDescriptorFlag = 0x0008;
const uint16_t kUtf8Flag = 0x0800;
// A UTF-8 name may take up to four bytes per character of the name finally written.
const uint32_t kMaxUtf8Name = 4 * ZIP_MAX_NAME;

uint16_t Get16(const unsigned char *p) { return (uint16_t)(p[0] | (p[1] << 8)); }
uint32_t Get32(const unsigned char *p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

// One central-directory entry after all checks that need no data decompression.
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
  uint32_t localOffset;
  uint64_t dataStart;
  char display[256];  // the raw name made printable and cut, for messages
};

struct Range {
  uint64_t start;
  uint64_t end;
};

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
// More distinct folders than an honest archive of 65535 entries has: the bound keeps the
// tables of a hostile archive within a few megabytes.
const size_t kMaxFolders = 131072;

struct Reader {
  const ZipSource *source;
  const ZipSink *sink;
  const ZipOptions *options;
  uint64_t centralStart;
  uint64_t centralEnd;
  uint32_t entryCount;
  // Small window over the central directory, so that each header is not a separate read.
  unsigned char window[kWindow];
  uint64_t windowStart;
  uint32_t windowLength;
  unsigned char in[kChunk];
  unsigned char out[kChunk];
  char lastParent[ZIP_MAX_NAME + 1];
  char reasonText[64];
  unsigned reported;
  uint16_t unicodeName[kMaxUtf8Name];
};

enum ParseResult { PARSE_OK, PARSE_ENTRY_BAD, PARSE_BROKEN };

void Print(Reader *r, const char *format, ...) {
  char line[600];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (n < 0) return;
  if ((size_t)n >= sizeof line) n = (int)sizeof line - 1;
  r->sink->print(r->sink->context, line, n);
}

// Failure lines are capped so that a hostile archive with thousands of bad entries cannot
// flood the installer's window; the count still goes into the closing line.
void Fail(Reader *r, const char *name, const char *reason) {
  if (r->reported++ < kMaxReported)
    Print(r, "  error:  %s: %s\n", name, reason);
  else if (r->reported == kMaxReported + 1)
    Print(r, "  error:  further failures not listed\n");
}

// Raw name bytes made safe to show: control characters become '?', long names are cut.
void MakeDisplayName(const unsigned char *raw, size_t length, char *out, size_t outSize) {
  size_t limit = outSize - 1, n = 0;
  bool cut = length > limit;
  if (cut) limit -= 3;
  for (size_t i = 0; i < length && n < limit; ++i)
    out[n++] = (raw[i] < 0x20 || raw[i] == 0x7f) ? '?' : (char)raw[i];
  if (cut) {
    memcpy(out + n, "...", 3);
    n += 3;
  }
  out[n] = '\0';
}

int ReadSource(Reader *r, uint64_t offset, void *buffer, uint32_t count) {
  if (offset > r->source->size || count > r->source->size - offset) return 1;
  return r->source->read(r->source->context, offset, buffer, count);
}

// Bytes of the central directory through the window; fails outside [centralStart, centralEnd).
const unsigned char *Central(Reader *r, uint64_t offset, uint32_t count) {
  if (offset < r->centralStart || offset > r->centralEnd || count > r->centralEnd - offset)
    return nullptr;
  if (offset < r->windowStart || offset + count > r->windowStart + r->windowLength) {
    uint64_t left = r->centralEnd - offset;
    uint32_t n = left < kChunk ? (uint32_t)left : kChunk;
    if (ReadSource(r, offset, r->window, n) != 0) return nullptr;
    r->windowStart = offset;
    r->windowLength = n;
  }
  return r->window + (offset - r->windowStart);
}

// Names Windows opens as devices in any folder, with any extension: also COM0 to COM9 and
// LPT0 to LPT9, and those with a superscript digit (bytes 0xB9, 0xB2, 0xB3 in the ANSI
// code page), which Windows reserves as well.
bool IsDeviceName(const char *component, size_t length) {
  static const char *const kDevices[] = {"CON",    "PRN",     "AUX",   "NUL",
                                         "CONIN$", "CONOUT$", "CLOCK$"};
  size_t base = 0;
  while (base < length && component[base] != '.') ++base;
  while (base > 0 && component[base - 1] == ' ') --base;
  char upper[8];
  if (base == 0 || base >= sizeof upper) return false;
  for (size_t i = 0; i < base; ++i) {
    char c = component[i];
    upper[i] = (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
  }
  upper[base] = '\0';
  for (const char *device : kDevices)
    if (strcmp(upper, device) == 0) return true;
  unsigned char digit = (unsigned char)upper[3];
  return base == 4 && (memcmp(upper, "COM", 3) == 0 || memcmp(upper, "LPT", 3) == 0) &&
         ((digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3);
}

}  // namespace

int ZipCheckName(const char *raw, size_t length, char *out, size_t outSize, int *isDirectory,
                 const char **reason) {
  *isDirectory = 0;
  if (outSize == 0) {
    *reason = "no room for the name";
    return 1;
  }
  out[0] = '\0';
  if (length == 0) {
    *reason = "empty name";
    return 1;
  }
  if (length > ZIP_MAX_NAME || length >= outSize) {
    *reason = "name too long";
    return 1;
  }
  if (raw[0] == '/' || raw[0] == '\\') {
    *reason = "absolute or network path";
    return 1;
  }
  if (raw[length - 1] == '/' || raw[length - 1] == '\\') {
    *isDirectory = 1;
    --length;
  }
  size_t n = 0, start = 0;
  while (start <= length) {
    size_t end = start;
    while (end < length && raw[end] != '/' && raw[end] != '\\') ++end;
    const char *c = raw + start;
    size_t len = end - start;
    if (len == 0) {
      *reason = "empty path component";
      return 1;
    } else if (len == 1 && c[0] == '.') {
      // "./a" is "a": the component adds nothing.
    } else if (len == 2 && c[0] == '.' && c[1] == '.') {
      *reason = "parent directory reference (..)";
      return 1;
    } else {
      for (size_t i = 0; i < len; ++i) {
        unsigned char ch = (unsigned char)c[i];
        if (ch < 0x20 || ch == 0x7f) {
          *reason = "control character in name";
          return 1;
        }
        if (ch == ':') {
          *reason = "drive letter or stream name (':')";
          return 1;
        }
        if (strchr("*?\"<>|", ch) != nullptr) {
          *reason = "character not allowed in Windows file names";
          return 1;
        }
      }
      if (c[len - 1] == '.' || c[len - 1] == ' ') {
        *reason = "trailing dot or space (Windows would change the name)";
        return 1;
      }
      if (IsDeviceName(c, len)) {
        *reason = "reserved device name";
        return 1;
      }
      if (n > 0) out[n++] = '/';
      memcpy(out + n, c, len);
      n += len;
    }
    start = end + 1;
  }
  out[n] = '\0';
  if (n == 0 && !*isDirectory) {
    *reason = "empty name";
    return 1;
  }
  return 0;
}

void ZipFoldCase(char *text, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = (unsigned char)text[i];
    if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
      c = (unsigned char)(c - 0x20);
    else if (c == 0x9A || c == 0x9C || c == 0x9E)  // s, oe, z with caron / ligature
      c = (unsigned char)(c - 0x10);
    else if (c == 0xFF)  // y with diaeresis
      c = 0x9F;
    text[i] = (char)c;
  }
}

int ZipKeySetAdd(ZipKeySet *set, uint64_t key, size_t limit) {
  if (key == 0) key = 1;  // 0 marks an empty slot
  if (ZipKeySetHas(set, key)) return 0;
  if (set->count >= limit) return -1;
  if (2 * (set->count + 1) > set->capacity) {
    size_t capacity = set->capacity ? 2 * set->capacity : 256;
    uint64_t *slots = (uint64_t *)calloc(capacity, sizeof(uint64_t));
    if (slots == nullptr) return -1;
    for (size_t i = 0; i < set->capacity; ++i) {
      if (set->slots[i] == 0) continue;
      size_t at = (size_t)set->slots[i] & (capacity - 1);
      while (slots[at] != 0) at = (at + 1) & (capacity - 1);
      slots[at] = set->slots[i];
    }
    free(set->slots);
    set->slots = slots;
    set->capacity = capacity;
  }
  size_t at = (size_t)key & (set->capacity - 1);
  while (set->slots[at] != 0) at = (at + 1) & (set->capacity - 1);
  set->slots[at] = key;
  ++set->count;
  return 1;
}

int ZipKeySetHas(const ZipKeySet *set, uint64_t key) {
  if (key == 0) key = 1;
  if (set->capacity == 0) return 0;
  for (size_t at = (size_t)key & (set->capacity - 1); set->slots[at] != 0;
       at = (at + 1) & (set->capacity - 1))
    if (set->slots[at] == key) return 1;
  return 0;
}

uint64_t ZipHash(uint64_t hash, const void *bytes, size_t length) {
  const unsigned char *p = (const unsigned char *)bytes;
  for (size_t i = 0; i < length; ++i) hash = (hash ^ p[i]) * 1099511628211ull;
  return hash;
}

int ZipDecodeUtf8(const unsigned char *text, size_t length, uint16_t *out, size_t outSize) {
  size_t n = 0;
  for (size_t i = 0; i < length;) {
    unsigned char b = text[i];
    uint32_t c;
    size_t more;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (b < 0x80) {
      c = b;
      more = 0;
    } else if (b >= 0xC2 && b <= 0xDF) {
      c = b & 0x1F;
      more = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
      c = b & 0x0F;
      more = 2;
      if (b == 0xE0) low = 0xA0;   // overlong
      if (b == 0xED) high = 0x9F;  // surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
      c = b & 0x07;
      more = 3;
      if (b == 0xF0) low = 0x90;   // overlong
      if (b == 0xF4) high = 0x8F;  // beyond U+10FFFF
    } else {
      return -1;
    }
    if (more > length - i - 1) return -1;
    for (size_t k = 1; k <= more; ++k) {
      unsigned char t = text[i + k];
      if (t < (k == 1 ? low : 0x80) || t > (k == 1 ? high : 0xBF)) return -1;
      c = (c << 6) | (t & 0x3F);
    }
    i += more + 1;
    if (c >= 0x10000) {
      if (n + 2 > outSize) return -1;
      out[n++] = (uint16_t)(0xD800 + ((c - 0x10000) >> 10));
      out[n++] = (uint16_t)(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      if (n + 1 > outSize) return -1;
      out[n++] = (uint16_t)c;
    }
  }
  return (int)n;
}

namespace {

// The data of extra field id within an extra block, or NULL. A cut tail is ignored: some
// writers pad the block.
const unsigned char *FindField(const unsigned char *extra, uint32_t length, uint16_t id,
                               uint16_t *size) {
  for (uint32_t at = 0; at + 4 <= length;) {
    uint16_t fieldId = Get16(extra + at), fieldSize = Get16(extra + at + 2);
    if (at + 4 + fieldSize > length) return nullptr;
    if (fieldId == id) {
      *size = fieldSize;
      return extra + at + 4;
    }
    at += 4 + fieldSize;
  }
  return nullptr;
}

bool SignalsEncryption(const unsigned char *extra, uint32_t length) {
  uint16_t size;
  return FindField(extra, length, kStrongEncryptionField, &size) != nullptr ||
         FindField(extra, length, kAesField, &size) != nullptr;
}

// The UTF-8 name of a Unicode path field; NULL with *reason set when the field is damaged or
// was written for another name (its CRC-32 is that of the header's name).
const unsigned char *UnicodePath(const unsigned char *field, uint16_t size,
                                 const unsigned char *raw, size_t rawLength, size_t *length,
                                 const char **reason) {
  if (size < 5 || field[0] != 1 ||
      Get32(field + 1) != (uint32_t)crc32(0L, raw, (uInt)rawLength)) {
    *reason = "Unicode path field does not match the name";
    return nullptr;
  }
  *length = size - 5u;
  return field + 5;
}

// A decoded name made safe to show: printable ASCII as it is, anything else as <U+XXXX>.
void MakeUnicodeDisplay(const uint16_t *units, size_t count, char *out, size_t outSize) {
  size_t n = 0;
  for (size_t i = 0; i < count; ++i) {
    uint32_t c = units[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count)
      c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
    char piece[16];
    if (c >= 0x20 && c < 0x7f)
      snprintf(piece, sizeof piece, "%c", (char)c);
    else
      snprintf(piece, sizeof piece, "<U+%04X>", (unsigned)c);
    size_t length = strlen(piece);
    if (n + length + 4 > outSize) {
      snprintf(out + n, outSize - n, "...");
      return;
    }
    memcpy(out + n, piece, length);
    n += length;
  }
  out[n] = '\0';
}

// Windows reserves COM and LPT with a superscript digit as Unicode characters: the check is
// made on the decoded name too, whatever code page it then goes to.
bool HasUnicodeDeviceName(const uint16_t *units, size_t count) {
  char probe[kMaxUtf8Name];
  for (size_t start = 0; start < count;) {
    size_t end = start;
    for (; end < count && units[end] != '/' && units[end] != '\\'; ++end)
      probe[end - start] = units[end] < 0x100 ? (char)units[end] : '\x7f';
    if (IsDeviceName(probe, end - start)) return true;
    start = end + 1;
  }
  return false;
}

// Turns a UTF-8 name into the system's code page through the sink; on failure *reason names
// the cause and e->display shows the name as decoded (its ASCII alone when it is not UTF-8).
int ConvertName(Reader *r, Entry *e, const unsigned char *utf8, size_t length, char *out,
                size_t outSize, size_t *outLength, const char **reason) {
  int count = ZipDecodeUtf8(utf8, length, r->unicodeName, kMaxUtf8Name);
  if (count < 0) {
    MakeDisplayName(utf8, length, e->display, sizeof e->display);
    for (char *c = e->display; *c != '\0'; ++c)
      if ((unsigned char)*c >= 0x80) *c = '?';  // not characters of any code page
    *reason = length > kMaxUtf8Name ? "name too long" : "name is not valid UTF-8";
    return 1;
  }
  MakeUnicodeDisplay(r->unicodeName, count, e->display, sizeof e->display);
  if (HasUnicodeDeviceName(r->unicodeName, count)) {
    *reason = "reserved device name";
    return 1;
  }
  int n = -1;
  if (r->sink->fromUnicode != nullptr) {
    n = r->sink->fromUnicode(r->sink->context, r->unicodeName, count, out, outSize);
  } else if ((size_t)count < outSize) {
    for (n = 0; n < count && r->unicodeName[n] < 0x80; ++n) out[n] = (char)r->unicodeName[n];
    if (n < count) n = -1;
  }
  if (n < 0) {
    *reason = "name has characters that this system's code page cannot hold";
    return 1;
  }
  *outLength = (size_t)n;
  MakeDisplayName((const unsigned char *)out, *outLength, e->display, sizeof e->display);
  return 0;
}

// Reads and checks the central header at *position and its local header. PARSE_ENTRY_BAD
// leaves *position on the next header; PARSE_BROKEN means the directory cannot be walked on.
ParseResult ParseEntry(Reader *r, uint64_t *position, Entry *e, const char **reason) {
  const unsigned char *h = Central(r, *position, kCentralSize);
  if (h == nullptr || Get32(h) != kCentralSignature) {
    *reason = "central directory damaged";
    strcpy(e->display, "(central directory)");
    return PARSE_BROKEN;
  }
  e->flags = Get16(h + 8);
  e->method = Get16(h + 10);
  e->dosTime = Get16(h + 12);
  e->dosDate = Get16(h + 14);
  e->crc = Get32(h + 16);
  e->compressedSize = Get32(h + 20);
  e->size = Get32(h + 24);
  uint16_t nameLength = Get16(h + 28);
  uint32_t extraLength = Get16(h + 30), commentLength = Get16(h + 32);
  uint16_t disk = Get16(h + 34);
  e->localOffset = Get32(h + 42);
  const unsigned char *name = Central(r, *position + kCentralSize, nameLength);
  if (name == nullptr) {
    *reason = "central directory truncated";
    strcpy(e->display, "(central directory)");
    return PARSE_BROKEN;
  }
  MakeDisplayName(name, nameLength, e->display, sizeof e->display);
  uint64_t next = *position + kCentralSize + nameLength + extraLength + commentLength;
  if (next > r->centralEnd) {
    *reason = "central directory truncated";
    return PARSE_BROKEN;
  }
  if (nameLength > kMaxUtf8Name) {
    *position = next;
    *reason = "name too long";
    return PARSE_ENTRY_BAD;
  }
  // The window may move when the extra field is read: the name is kept.
  unsigned char raw[kMaxUtf8Name];
  memcpy(raw, name, nameLength);
  const unsigned char *extra = Central(r, *position + kCentralSize + nameLength, extraLength);
  *position = next;
  if (extra == nullptr) {
    *reason = "central directory truncated";
    return PARSE_BROKEN;
  }
  if ((e->flags & kEncryptedFlags) || SignalsEncryption(extra, extraLength)) {
    *reason = "encrypted entries are not supported";
    return PARSE_ENTRY_BAD;
  }

  // The name: bytes of the ANSI code page, or UTF-8 when the flag says so or a Unicode path
  // field (which must agree with a UTF-8 name) gives it.
  const unsigned char *utf8 = (e->flags & kUtf8Flag) ? raw : nullptr;
  size_t utf8Length = nameLength;
  uint16_t fieldSize;
  const unsigned char *field = FindField(extra, extraLength, kUnicodePathField, &fieldSize);
  if (field != nullptr) {
    size_t pathLength;
    const unsigned char *path = UnicodePath(field, fieldSize, raw, nameLength, &pathLength, reason);
    if (path == nullptr) return PARSE_ENTRY_BAD;
    if (utf8 != nullptr && (pathLength != nameLength || memcmp(path, raw, nameLength) != 0)) {
      *reason = "Unicode path field contradicts the UTF-8 name";
      return PARSE_ENTRY_BAD;
    }
    utf8 = path;
    utf8Length = pathLength;
  }
  const char *checked = (const char *)raw;
  size_t checkedLength = nameLength;
  char converted[ZIP_MAX_NAME + 1];
  if (utf8 != nullptr) {
    if (ConvertName(r, e, utf8, utf8Length, converted, sizeof converted, &checkedLength,
                    reason) != 0)
      return PARSE_ENTRY_BAD;
    checked = converted;
  }
  if (ZipCheckName(checked, checkedLength, e->name, sizeof e->name, &e->isDirectory, reason) != 0)
    return PARSE_ENTRY_BAD;
  if (e->compressedSize == 0xffffffff || e->size == 0xffffffff || e->localOffset == 0xffffffff) {
    *reason = "ZIP64 entries (sizes beyond 32 bits) are not supported";
    return PARSE_ENTRY_BAD;
  }
  if (disk != 0) {
    *reason = "multi-disk archives are not supported";
    return PARSE_ENTRY_BAD;
  }
  if (e->method != 0 && e->method != 8) {
    snprintf(r->reasonText, sizeof r->reasonText, "compression method %u is not supported",
             e->method);
    *reason = r->reasonText;
    return PARSE_ENTRY_BAD;
  }
  if (e->method == 0 && e->compressedSize != e->size) {
    *reason = "stored entry with different compressed and uncompressed sizes";
    return PARSE_ENTRY_BAD;
  }

  unsigned char local[kLocalSize];
  if ((uint64_t)e->localOffset + kLocalSize > r->centralStart ||
      ReadSource(r, e->localOffset, local, kLocalSize) != 0 || Get32(local) != kLocalSignature) {
    *reason = "local header missing or outside the archive data";
    return PARSE_ENTRY_BAD;
  }
  uint16_t localNameLength = Get16(local + 26), localExtraLength = Get16(local + 28);
  e->dataStart = (uint64_t)e->localOffset + kLocalSize + localNameLength + localExtraLength;
  if (e->dataStart + e->compressedSize > r->centralStart) {
    *reason = "entry data run past the end of the archive data";
    return PARSE_ENTRY_BAD;
  }
  // Both headers must describe the same entry. With a data descriptor the local header may
  // leave CRC and sizes zero; anything else that differs makes the archive ambiguous.
  bool described = (e->flags & kDescriptorFlag) != 0;
  uint32_t localValues[3] = {Get32(local + 14), Get32(local + 18), Get32(local + 22)};
  uint32_t centralValues[3] = {e->crc, e->compressedSize, e->size};
  for (int i = 0; i < 3; ++i) {
    if (localValues[i] != centralValues[i] && !(described && localValues[i] == 0)) {
      *reason = "local header gives another CRC or size than the central directory";
      return PARSE_ENTRY_BAD;
    }
  }
  // The local name and extra field are read together; the streaming buffer is free here.
  const unsigned char *localExtra = r->in + nameLength;
  if (localNameLength != nameLength || Get16(local + 8) != e->method ||
      ((Get16(local + 6) ^ e->flags) & (kEncryptedFlags | kDescriptorFlag | kUtf8Flag)) != 0 ||
      (uint32_t)nameLength + localExtraLength > kChunk ||
      ReadSource(r, e->localOffset + kLocalSize, r->in, nameLength + localExtraLength) != 0 ||
      memcmp(r->in, raw, nameLength) != 0) {
    *reason = "local header does not match the central directory";
    return PARSE_ENTRY_BAD;
  }
  if (SignalsEncryption(localExtra, localExtraLength)) {
    *reason = "encrypted entries are not supported";
    return PARSE_ENTRY_BAD;
  }
  field = FindField(localExtra, localExtraLength, kUnicodePathField, &fieldSize);
  if (field != nullptr) {
    size_t pathLength;
    const unsigned char *path = UnicodePath(field, fieldSize, raw, nameLength, &pathLength, reason);
    if (path == nullptr) return PARSE_ENTRY_BAD;
    if (utf8 == nullptr || pathLength != utf8Length || memcmp(path, utf8, pathLength) != 0) {
      *reason = "local header does not match the central directory";
      return PARSE_ENTRY_BAD;
    }
  }
  return PARSE_OK;
}

// Finds the end record, scanning back over an archive comment. A record counts when its
// comment reaches exactly to the end of the archive; a second such record (one hidden in the
// comment) makes the archive ambiguous, since readers differ on which one they take.
int FindEnd(Reader *r, const char **reason) {
  uint64_t size = r->source->size;
  if (size < kEndSize) {
    *reason = "not a ZIP archive (too short)";
    return 1;
  }
  if (size > 0xffffffffu) {
    *reason = "archives larger than 4 GB are not supported";
    return 1;
  }
  uint32_t tail = (uint32_t)(size < kEndSize + kMaxComment ? size : kEndSize + kMaxComment);
  static_assert(kWindow >= kEndSize + kMaxComment, "window holds an end record and comment");
  if (ReadSource(r, size - tail, r->window, tail) != 0) {
    *reason = "cannot read the archive";
    return 1;
  }
  uint32_t found = 0, records = 0;
  for (uint32_t i = tail - kEndSize + 1; i-- > 0;) {
    const unsigned char *p = r->window + i;
    if (Get32(p) == kEndSignature && Get16(p + 20) == tail - i - kEndSize && records++ == 0)
      found = i;
  }
  if (records > 1) {
    *reason = "more than one end of central directory record";
    return 1;
  }
  if (records == 1) {
    uint32_t i = found;
    const unsigned char *p = r->window + i;
    uint64_t endOffset = size - tail + i;
    if (endOffset >= 20 && i >= 20 && Get32(p - 20) == kZip64LocatorSignature) {
      *reason = "ZIP64 archives are not supported";
      return 1;
    }
    uint16_t disk = Get16(p + 4), centralDisk = Get16(p + 6);
    uint16_t onDisk = Get16(p + 8), total = Get16(p + 10);
    uint32_t centralSize = Get32(p + 12), centralOffset = Get32(p + 16);
    if (total == 0xffff || centralSize == 0xffffffff || centralOffset == 0xffffffff) {
      *reason = "ZIP64 archives are not supported";
      return 1;
    }
    if (disk != 0 || centralDisk != 0 || onDisk != total) {
      *reason = "multi-disk archives are not supported";
      return 1;
    }
    if ((uint64_t)centralOffset + centralSize > endOffset) {
      *reason = "central directory points past the end of the archive";
      return 1;
    }
    r->centralStart = centralOffset;
    r->centralEnd = (uint64_t)centralOffset + centralSize;
    r->entryCount = total;
    r->windowLength = 0;
    return 0;
  }
  *reason = "not a ZIP archive (no end of central directory record)";
  return 1;
}

int CompareRanges(const void *a, const void *b) {
  const Range *x = (const Range *)a, *y = (const Range *)b;
  return x->start < y->start ? -1 : x->start > y->start ? 1 : 0;
}

bool Selected(Reader *r, const Entry *e);

int CompareNames(const void *a, const void *b) {
  const WrittenName *x = (const WrittenName *)a, *y = (const WrittenName *)b;
  if (x->hash != y->hash) return x->hash < y->hash ? -1 : 1;
  return x->central < y->central ? -1 : x->central > y->central ? 1 : 0;
}

// The names that extracting e writes, as the second pass will write them: the entry's own and
// every folder it goes into, each folder once (the first entry that needs it). Hashes are of
// the names as the file system compares them: equal names always hash alike, so no clash is
// missed; two different names sharing a 64-bit hash could only refuse an archive.
int AddWrittenNames(Reader *r, Entry *e, uint32_t central, NameTable *table, const char **reason) {
  if (r->options->listOnly || !Selected(r, e)) return 0;
  const char *name = e->name;
  if (r->options->junkPaths) {
    if (e->isDirectory) return 0;
    const char *base = strrchr(name, '/');
    if (base != nullptr) name = base + 1;
  }
  size_t length = strlen(name);
  if (length == 0) return 0;
  char folded[ZIP_MAX_NAME + 1];
  memcpy(folded, name, length);
  if (r->sink->foldCase != nullptr)
    r->sink->foldCase(r->sink->context, folded, length);
  else
    ZipFoldCase(folded, length);
  uint64_t hash = ZIP_HASH_START;
  for (size_t i = 0; i <= length; ++i) {
    bool whole = i == length;
    if (whole || folded[i] == '/') {
      int added = 1;
      if (!whole) added = ZipKeySetAdd(&table->folders, hash, kMaxFolders);
      if (added < 0) {
        *reason = "too many folders";
        return 1;
      }
      if (added > 0 && table->count == table->capacity) {
        size_t capacity = table->capacity ? 2 * table->capacity : 1024;
        WrittenName *grown = (WrittenName *)realloc(table->names, capacity * sizeof(WrittenName));
        if (grown == nullptr) {
          *reason = "out of memory";
          return 1;
        }
        table->names = grown;
        table->capacity = capacity;
      }
      if (added > 0) {
        WrittenName *n = &table->names[table->count++];
        n->hash = hash;
        n->central = central;
        n->kind = !whole ? NAME_PARENT : e->isDirectory ? NAME_DIRECTORY : NAME_FILE;
      }
    }
    if (!whole) hash = ZipHash(hash, &folded[i], 1);
  }
  return 0;
}

// Two entries that Windows would write to one file (names that differ in letter case, in
// '/' or '\', in "." components), or a file where another entry needs a folder: every later
// one is listed with the first. Folders may repeat.
unsigned ReportClashes(Reader *r, WrittenName *names, size_t count) {
  if (count < 2) return 0;
  qsort(names, count, sizeof(WrittenName), CompareNames);
  unsigned clashes = 0;
  for (size_t first = 0, end; first < count; first = end) {
    bool file = false;
    for (end = first; end < count && names[end].hash == names[first].hash; ++end)
      file = file || names[end].kind == NAME_FILE;
    if (!file || end - first < 2) continue;
    Entry earlier, later;
    const char *reason;
    uint64_t at = names[first].central;
    ParseEntry(r, &at, &earlier, &reason);
    for (size_t i = first + 1; i < end; ++i) {
      at = names[i].central;
      ParseEntry(r, &at, &later, &reason);
      char text[300];
      snprintf(text, sizeof text, "%s on Windows as %s%s",
               names[i].kind == NAME_PARENT ? "its folder has the same name" : "same name",
               names[first].kind == NAME_PARENT ? "the folder of " : "", earlier.display);
      Fail(r, later.display, text);
      ++clashes;
    }
  }
  return clashes;
}

// First pass: every entry is checked, no byte of archive data may belong to two entries
// (overlapping entries are how small archives pretend to hold huge amounts of data), and no
// two entries may write one file.
int CheckArchive(Reader *r) {
  // At most 65535 entries without ZIP64, so the table has a fixed upper bound (1 MB).
  Range *ranges = (Range *)malloc(sizeof(Range) * (r->entryCount ? r->entryCount : 1));
  if (ranges == nullptr) {
    Print(r, "  error:  out of memory\n");
    return 1;
  }
  NameTable names;
  memset(&names, 0, sizeof names);
  unsigned failures = 0, count = 0;
  uint64_t position = r->centralStart;
  Entry e;
  for (uint32_t i = 0; i < r->entryCount; ++i) {
    const char *reason = nullptr;
    uint64_t central = position;
    ParseResult result = ParseEntry(r, &position, &e, &reason);
    if (result != PARSE_OK) {
      Fail(r, e.display, reason);
      ++failures;
      if (result == PARSE_BROKEN) break;
      continue;
    }
    ranges[count].start = e.localOffset;
    ranges[count].end = e.dataStart + e.compressedSize;
    ++count;
    if (AddWrittenNames(r, &e, (uint32_t)central, &names, &reason) != 0) {
      Fail(r, "(archive)", reason);
      ++failures;
      break;
    }
  }
  if (failures == 0 && position != r->centralEnd) {
    Fail(r, "(central directory)", "entry count does not match the directory size");
    ++failures;
  }
  qsort(ranges, count, sizeof(Range), CompareRanges);
  for (unsigned i = 1; i < count && failures == 0; ++i) {
    if (ranges[i].start < ranges[i - 1].end) {
      Fail(r, "(archive)", "entries overlap");
      ++failures;
    }
  }
  free(ranges);
  if (failures == 0) failures += ReportClashes(r, names.names, names.count);
  free(names.names);
  free(names.folders.slots);
  return failures == 0 ? 0 : 1;
}

bool Selected(Reader *r, const Entry *e) {
  if (r->options->selectCount <= 0 || r->options->selectNames == nullptr) return true;
  for (int i = 0; i < r->options->selectCount; ++i) {
    const char *want = r->options->selectNames[i];
    if (want == nullptr) continue;
    size_t k = 0;
    for (; e->name[k] != '\0' && want[k] != '\0'; ++k) {
      char a = e->name[k], b = want[k] == '\\' ? '/' : want[k];
      if (a >= 'A' && a <= 'Z') a = (char)(a - 'A' + 'a');
      if (b >= 'A' && b <= 'Z') b = (char)(b - 'A' + 'a');
      if (a != b) break;
    }
    if (e->name[k] == '\0' && want[k] == '\0') return true;
  }
  return false;
}

// Creates every directory level of path up to its last component (all of it when whole).
int MakeParents(Reader *r, const char *path, bool whole, const char **reason) {
  char prefix[ZIP_MAX_NAME + 1];
  size_t length = strlen(path);
  if (!whole) {
    while (length > 0 && path[length - 1] != '/') --length;
    if (length == 0) return 0;
    --length;
  }
  memcpy(prefix, path, length);
  prefix[length] = '\0';
  if (strcmp(prefix, r->lastParent) == 0) return 0;
  for (size_t i = 1; i <= length; ++i) {
    if (i < length && prefix[i] != '/') continue;
    char saved = prefix[i];
    prefix[i] = '\0';
    int failed = r->sink->makeDirectory(r->sink->context, prefix);
    prefix[i] = saved;
    if (failed) {
      *reason = r->sink->lastError(r->sink->context);
      r->lastParent[0] = '\0';
      return 1;
    }
  }
  memcpy(r->lastParent, prefix, length + 1);
  return 0;
}

// Streams one entry's data through the sink, checking size and CRC-32; the sink's file is
// open on entry and is committed or removed by the caller.
int CopyData(Reader *r, const Entry *e, const char **reason) {
  uint64_t offset = e->dataStart;
  uint32_t left = e->compressedSize, produced = 0;
  uLong crc = crc32(0L, Z_NULL, 0);
  if (e->method == 0) {
    while (left > 0) {
      uint32_t n = left < kChunk ? left : kChunk;
      if (ReadSource(r, offset, r->in, n) != 0) {
        *reason = "cannot read the archive";
        return 1;
      }
      crc = crc32(crc, r->in, n);
      if (r->sink->writeFile(r->sink->context, r->in, n) != 0) {
        *reason = r->sink->lastError(r->sink->context);
        return 1;
      }
      offset += n;
      left -= n;
    }
    produced = e->compressedSize;
  } else {
    z_stream z;
    memset(&z, 0, sizeof z);
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) {
      *reason = "cannot start decompression";
      return 1;
    }
    int status = Z_OK;
    *reason = nullptr;
    while (*reason == nullptr && status != Z_STREAM_END) {
      if (z.avail_in == 0 && left > 0) {
        uint32_t n = left < kChunk ? left : kChunk;
        if (ReadSource(r, offset, r->in, n) != 0) {
          *reason = "cannot read the archive";
          break;
        }
        offset += n;
        left -= n;
        z.next_in = r->in;
        z.avail_in = n;
      }
      z.next_out = r->out;
      z.avail_out = kChunk;
      status = inflate(&z, Z_NO_FLUSH);
      uint32_t got = kChunk - z.avail_out;
      if (status == Z_DATA_ERROR || status == Z_NEED_DICT || status == Z_MEM_ERROR) {
        *reason = "compressed data damaged";
      } else if (status == Z_BUF_ERROR && z.avail_in == 0 && left == 0) {
        *reason = "compressed data truncated";
      } else if (got > e->size - produced) {
        // Stop at once: a lying size must not turn into an unbounded write.
        *reason = "more data than the entry's recorded size";
      } else if (got > 0) {
        crc = crc32(crc, r->out, got);
        produced += got;
        if (r->sink->writeFile(r->sink->context, r->out, got) != 0)
          *reason = r->sink->lastError(r->sink->context);
      } else if (status == Z_BUF_ERROR) {
        *reason = "compressed data damaged";
      }
    }
    inflateEnd(&z);
    if (*reason != nullptr) return 1;
    if (z.avail_in != 0 || left != 0) {
      *reason = "compressed size does not match the data";
      return 1;
    }
  }
  if (produced != e->size) {
    *reason = "data shorter than the entry's recorded size";
    return 1;
  }
  if ((uint32_t)crc != e->crc) {
    *reason = "CRC-32 mismatch: the data are damaged";
    return 1;
  }
  if (e->flags & 0x0008) {
    // The data descriptor repeats CRC and sizes; it may start with its own signature.
    unsigned char d[16];
    uint64_t at = e->dataStart + e->compressedSize;
    uint64_t room = r->centralStart - at;
    uint32_t n = room < sizeof d ? (uint32_t)room : (uint32_t)sizeof d;
    if (n < 12 || ReadSource(r, at, d, n) != 0) {
      *reason = "data descriptor missing";
      return 1;
    }
    bool plain = Get32(d) == e->crc && Get32(d + 4) == e->compressedSize && Get32(d + 8) == e->size;
    bool signed_ = n >= 16 && Get32(d) == kDescriptorSignature && Get32(d + 4) == e->crc &&
                   Get32(d + 8) == e->compressedSize && Get32(d + 12) == e->size;
    if (!plain && !signed_) {
      *reason = "data descriptor does not match the central directory";
      return 1;
    }
  }
  return 0;
}

// Second pass: extraction. Returns the number of failed entries and counts what was made.
unsigned ExtractEntries(Reader *r, unsigned *files, unsigned *directories) {
  unsigned failures = 0;
  uint64_t position = r->centralStart;
  Entry e;
  for (uint32_t i = 0; i < r->entryCount; ++i) {
    const char *reason = nullptr;
    if (ParseEntry(r, &position, &e, &reason) != PARSE_OK) {
      // The archive changed since it was checked.
      Fail(r, e.display, reason);
      return failures + 1;
    }
    if (!Selected(r, &e)) continue;
    if (r->options->junkPaths) {
      if (e.isDirectory) continue;
      const char *base = strrchr(e.name, '/');
      if (base != nullptr) memmove(e.name, base + 1, strlen(base + 1) + 1);
    }
    if (r->options->listOnly) {
      Print(r, "  %10u  %04u-%02u-%02u %02u:%02u  %s\n", e.size, 1980 + (e.dosDate >> 9),
            (e.dosDate >> 5) & 15, e.dosDate & 31, e.dosTime >> 11, (e.dosTime >> 5) & 63,
            e.display);
      continue;
    }
    if (e.isDirectory) {
      if (e.name[0] == '\0') continue;
      if (!r->options->quiet) Print(r, "   creating: %s\n", e.display);
      if (MakeParents(r, e.name, true, &reason) != 0) {
        Fail(r, e.display, reason);
        ++failures;
      } else {
        ++*directories;
      }
      continue;
    }
    if (!r->options->overwrite && r->sink->exists(r->sink->context, e.name)) {
      if (!r->options->quiet) Print(r, "   skipping: %s (already exists)\n", e.display);
      continue;
    }
    if (!r->options->quiet)
      Print(r, "%s: %s\n", e.method == 8 ? "  inflating" : " extracting", e.display);
    ZipEntryInfo info = {e.name, e.size, e.dosDate, e.dosTime};
    if (MakeParents(r, e.name, false, &reason) != 0 ||
        r->sink->openFile(r->sink->context, &info) != 0) {
      if (reason == nullptr) reason = r->sink->lastError(r->sink->context);
      Fail(r, e.display, reason);
      ++failures;
      continue;
    }
    if (CopyData(r, &e, &reason) != 0) {
      r->sink->abortFile(r->sink->context);
      Fail(r, e.display, reason);
      ++failures;
      continue;
    }
    if (r->sink->commitFile(r->sink->context, &info) != 0) {
      Fail(r, e.display, r->sink->lastError(r->sink->context));
      ++failures;
      continue;
    }
    ++*files;
  }
  return failures;
}

}  // namespace

int ZipExtract(const ZipSource *source, const ZipSink *sink, const ZipOptions *options) {
  Reader *r = (Reader *)malloc(sizeof(Reader));
  if (r == nullptr) {
    sink->print(sink->context, "  error:  out of memory\n", 24);
    return ZIP_REFUSED;
  }
  memset(r, 0, sizeof *r);
  r->source = source;
  r->sink = sink;
  r->options = options;
  const char *reason = nullptr;
  int result = ZIP_OK;
  if (FindEnd(r, &reason) != 0) {
    Print(r, "  error:  %s\n", reason);
    result = ZIP_REFUSED;
  } else if (CheckArchive(r) != 0) {
    Print(r, "  archive refused: nothing extracted\n");
    result = ZIP_REFUSED;
  } else {
    unsigned files = 0, directories = 0;
    unsigned failures = ExtractEntries(r, &files, &directories);
    if (options->listOnly)
      Print(r, "  %u entries\n", r->entryCount);
    else if (failures == 0)
      Print(r, "  %u files and %u directories extracted\n", files, directories);
    else
      Print(r, "  %u entries failed; %u files and %u directories extracted\n", failures, files,
            directories);
    if (failures != 0) result = ZIP_ENTRY_FAILED;
  }
  free(r);
  return result;
}
