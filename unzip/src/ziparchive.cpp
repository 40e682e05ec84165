// The reader's view of the archive: the end record, the central directory, local headers
// and extra fields, read through bounded windows, and the walk of the central directory.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include "zipreader_internal.h"

namespace zipreader {

const uint32_t kEndSignature = 0x06054b50;
const uint32_t kZip64LocatorSignature = 0x07064b50;
const uint32_t kCentralSignature = 0x02014b50;
const uint32_t kLocalSignature = 0x04034b50;
const uint32_t kEndSize = 22;
const uint32_t kCentralSize = 46;
const uint32_t kLocalSize = 30;
const uint32_t kMaxComment = 65535;
// The most end records whose directories one search walks (see Describing).
const uint32_t kMaxEndRecords = 16;
// Extra fields: strong encryption and AES (both mean the data are ciphertext), Unicode path.
const uint16_t kStrongEncryptionField = 0x0017;
const uint16_t kAesField = 0x9901;
const uint16_t kUnicodePathField = 0x7075;
// General-purpose flags: encryption (plain, strong, masked header), UTF-8.
const uint16_t kEncryptedFlags = 0x0001 | 0x0040 | 0x2000;
const uint16_t kUtf8Flag = 0x0800;
// Hosts of the "version made by" field whose attributes carry a Unix mode in their high 16
// bits; the low byte of any host's holds the MS-DOS attributes.
const uint32_t kUnixHost = 3;
const uint32_t kDarwinHost = 19;
const uint32_t kUnixTypeMask = 0170000;
const uint32_t kUnixDirectory = 0040000;
const uint32_t kDosDirectory = 0x10;
// What the forward pass reads at the local header of a large entry that it only checks: the
// header with the name and extra fields of almost any entry, in one read of a few sectors.
const uint32_t kHeaderReach = 4096;

int ReadSource(Reader *r, uint64_t offset, void *buffer, uint32_t count) {
  if (count == 0) return 0;
  if (offset > r->source->size || count > r->source->size - offset ||
      r->source->read(r->source->context, offset, buffer, count) != 0) {
    r->readFailed = true;
    return 1;
  }
  return 0;
}

// Archive bytes [offset, offset + count) into buffer. What the other window holds is copied
// from it rather than read again: the forward pass ends in the bytes that the search for the
// end record brought in with the directory.
int Load(Reader *r, const Window *other, uint64_t offset, unsigned char *buffer, uint32_t count) {
  uint64_t end = offset + count, otherEnd = other->start + other->length;
  if (other->length == 0 || end <= other->start || offset >= otherEnd)
    return ReadSource(r, offset, buffer, count);
  uint64_t from = offset > other->start ? offset : other->start;
  uint64_t to = end < otherEnd ? end : otherEnd;
  memcpy(buffer + (from - offset), other->bytes + (from - other->start), (size_t)(to - from));
  return ReadSource(r, offset, buffer, (uint32_t)(from - offset)) != 0 ||
         ReadSource(r, to, buffer + (to - offset), (uint32_t)(end - to)) != 0;
}

const unsigned char *Fetch(Reader *r, Window *w, uint64_t offset, uint32_t count, uint32_t reach,
                           uint64_t limit) {
  if (offset > limit || count > limit - offset || count > kWindow) return nullptr;
  uint64_t end = w->start + w->length;
  if (offset >= w->start && offset <= end && count <= end - offset)
    return w->bytes + (offset - w->start);
  uint32_t n = reach > count ? reach : count;
  if (n > kWindow) n = kWindow;
  if (n > limit - offset) n = (uint32_t)(limit - offset);
  uint32_t kept = 0;
  if (offset >= w->start && offset < end) {
    kept = (uint32_t)(end - offset);
    memmove(w->bytes, w->bytes + (offset - w->start), kept);
  }
  w->start = offset;
  w->length = 0;
  const Window *other = w == &r->data ? &r->directory : &r->data;
  if (Load(r, other, offset + kept, w->bytes + kept, n - kept) != 0) return nullptr;
  w->length = n;
  return w->bytes;
}

const unsigned char *Stream(Reader *r, uint64_t offset, uint32_t count, uint32_t *available) {
  const unsigned char *p = Fetch(r, &r->data, offset, 1, kWindow, r->centralStart);
  if (p == nullptr) return nullptr;
  uint32_t inWindow = r->data.length - (uint32_t)(offset - r->data.start);
  *available = count < inWindow ? count : inWindow;
  return p;
}

// Bytes of the central directory; fails outside [centralStart, centralEnd). Walked backwards
// (by the forward pass, where the entries' data lie in another order than their headers),
// the window is refilled to end a little after the header, so that the headers before it
// come with it.
const unsigned char *Central(Reader *r, uint64_t offset, uint32_t count) {
  if (offset < r->centralStart) return nullptr;
  Window *w = &r->directory;
  if (offset < w->start) {
    uint64_t from = offset + kHeaderReach - r->centralStart > kWindow
                        ? offset + kHeaderReach - kWindow
                        : r->centralStart;
    Fetch(r, w, from, 1, kWindow, r->centralEnd);
  }
  return Fetch(r, w, offset, count, kWindow, r->centralEnd);
}

// Whether every extra field lies within its extra area. Fewer bytes at the end than a field
// header are padding (some writers align the data that way); a field that claims more bytes
// than remain would have readers take the following bytes, or the next field, as its own.
bool FieldsFit(const unsigned char *extra, uint32_t length) {
  uint32_t at = 0;
  while (at + 4 <= length) at += 4 + Get16(extra + at + 2);
  return at <= length;
}

// The data of extra field id within an extra block whose fields fit (FieldsFit), or NULL.
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

// Folders that some writers mark only by their attributes, without a trailing '/': by the
// MS-DOS directory attribute, or, where the entry was made on Unix and gives its mode, by a
// mode of type directory (there the mode says what the entry is).
bool MarkedAsFolder(uint16_t madeBy, uint32_t attributes) {
  uint32_t host = madeBy >> 8, mode = attributes >> 16;
  if ((host == kUnixHost || host == kDarwinHost) && mode != 0)
    return (mode & kUnixTypeMask) == kUnixDirectory;
  return (attributes & kDosDirectory) != 0;
}

// The UTF-8 name that the Unicode path field of an extra block gives (*path NULL when it has
// none). Non-zero with *reason set when the field is damaged, was written for another name
// (its CRC-32 is that of the header's name), or comes twice: readers differ on which of two
// they take, or take the header's name instead.
int UnicodePath(const unsigned char *extra, uint32_t length, const unsigned char *raw,
                size_t rawLength, bool local, const unsigned char **path, size_t *pathLength,
                const char **reason) {
  *path = nullptr;
  uint16_t size = 0;
  const unsigned char *field = nullptr;
  for (uint32_t at = 0; at + 4 <= length; at += 4 + Get16(extra + at + 2)) {
    if (Get16(extra + at) != kUnicodePathField) continue;
    if (field != nullptr) {
      *reason = local ? "more than one Unicode path field in the local header"
                      : "more than one Unicode path field in the central header";
      return 1;
    }
    field = extra + at + 4;
    size = Get16(extra + at + 2);
  }
  if (field == nullptr) return 0;
  if (size < 5 || field[0] != 1 ||
      Get32(field + 1) != (uint32_t)crc32(0L, raw, (uInt)rawLength)) {
    *reason = "Unicode path field does not match the name";
    return 1;
  }
  *path = field + 5;
  *pathLength = size - 5u;
  return 0;
}

ParseResult ParseCentral(Reader *r, uint64_t *position, Entry *e, const char **reason) {
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
  uint16_t madeBy = Get16(h + 4), disk = Get16(h + 34);
  uint32_t attributes = Get32(h + 38), localOffset = Get32(h + 42);
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
  memcpy(e->raw, name, nameLength);
  e->rawLength = nameLength;
  const unsigned char *extra = Central(r, *position + kCentralSize + nameLength, extraLength);
  *position = next;
  if (extra == nullptr) {
    *reason = "central directory truncated";
    return PARSE_BROKEN;
  }
  if (!FieldsFit(extra, extraLength)) {
    *reason = "an extra field of the central header runs past the end of its extra area";
    return PARSE_ENTRY_BAD;
  }
  if ((e->flags & kEncryptedFlags) || SignalsEncryption(extra, extraLength)) {
    *reason = "encrypted entries are not supported";
    return PARSE_ENTRY_BAD;
  }

  // The name: bytes of the ANSI code page, or UTF-8 when the flag says so or a Unicode path
  // field (which must agree with a UTF-8 name) gives it.
  const unsigned char *path;
  size_t pathLength;
  if (UnicodePath(extra, extraLength, e->raw, nameLength, false, &path, &pathLength, reason))
    return PARSE_ENTRY_BAD;
  e->hasUtf8 = path != nullptr || (e->flags & kUtf8Flag) != 0;
  if (path != nullptr && (e->flags & kUtf8Flag) &&
      (pathLength != nameLength || memcmp(path, e->raw, nameLength) != 0)) {
    *reason = "Unicode path field contradicts the UTF-8 name";
    return PARSE_ENTRY_BAD;
  }
  if (path == nullptr) {
    path = e->raw;
    pathLength = nameLength;
  }
  if (pathLength > kMaxUtf8Name) {
    *reason = "name too long";
    return PARSE_ENTRY_BAD;
  }
  memcpy(e->utf8, path, pathLength);
  e->utf8Length = (uint32_t)pathLength;
  const char *checked = (const char *)e->raw;
  size_t checkedLength = nameLength;
  char converted[ZIP_MAX_NAME + 1];
  if (e->hasUtf8) {
    if (ConvertName(r, e, path, pathLength, converted, sizeof converted, &checkedLength,
                    reason) != 0)
      return PARSE_ENTRY_BAD;
    checked = converted;
  }
  if (ZipCheckName(checked, checkedLength, e->name, sizeof e->name, &e->isDirectory, reason) != 0)
    return PARSE_ENTRY_BAD;
  // A folder's name ends in a slash or a backslash. Readers differ on such a name that holds
  // data: some write a file, others make the folder and drop the data.
  if (e->isDirectory && e->size != 0) {
    *reason = checked[checkedLength - 1] == '/' ? "name ends in / but the entry holds data"
                                                : "name ends in \\ but the entry holds data";
    return PARSE_ENTRY_BAD;
  }
  if (!e->isDirectory && MarkedAsFolder(madeBy, attributes)) {
    if (e->size != 0) {
      *reason = "marked as a folder but holds data";
      return PARSE_ENTRY_BAD;
    }
    e->isDirectory = 1;
  }
  if (e->compressedSize == 0xffffffff || e->size == 0xffffffff || localOffset == 0xffffffff) {
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
  // Where the local header lies (after a stub the offsets do not count, that much further
  // on): one that the directory alone puts outside the archive data is refused before
  // anything is written.
  e->localStart = (uint64_t)localOffset + r->shift;
  if (e->localStart + kLocalSize > r->centralStart) {
    *reason = "local header missing or outside the archive data";
    return PARSE_ENTRY_BAD;
  }
  return PARSE_OK;
}

uint32_t HeaderReach(const Entry *e) {
  return kLocalSize + e->rawLength + (uint64_t)e->compressedSize < kWindow ? kWindow
                                                                            : kHeaderReach;
}

int CheckLocal(Reader *r, Entry *e, uint32_t reach, const char **reason) {
  const unsigned char *local =
      Fetch(r, &r->data, e->localStart, kLocalSize, reach, r->centralStart);
  if (local == nullptr || Get32(local) != kLocalSignature) {
    *reason = "local header missing or outside the archive data";
    return 1;
  }
  uint16_t localNameLength = Get16(local + 26), localExtraLength = Get16(local + 28);
  uint32_t localLength = kLocalSize + localNameLength + localExtraLength;
  e->dataStart = e->localStart + localLength;
  if (e->dataStart + e->compressedSize > r->centralStart) {
    *reason = "entry data run past the end of the archive data";
    return 1;
  }
  // Both headers must describe the same entry. With a data descriptor the local header may
  // leave CRC and sizes zero; anything else that differs makes the archive ambiguous.
  bool described = (e->flags & kDescriptorFlag) != 0;
  uint32_t localValues[3] = {Get32(local + 14), Get32(local + 18), Get32(local + 22)};
  uint32_t centralValues[3] = {e->crc, e->compressedSize, e->size};
  for (int i = 0; i < 3; ++i) {
    if (localValues[i] != centralValues[i] && !(described && localValues[i] == 0)) {
      *reason = "local header gives another CRC or size than the central directory";
      return 1;
    }
  }
  if (localNameLength != e->rawLength || Get16(local + 8) != e->method ||
      ((Get16(local + 6) ^ e->flags) & (kEncryptedFlags | kDescriptorFlag | kUtf8Flag)) != 0 ||
      (local = Fetch(r, &r->data, e->localStart, localLength, reach, r->centralStart)) == nullptr ||
      memcmp(local + kLocalSize, e->raw, e->rawLength) != 0) {
    *reason = "local header does not match the central directory";
    return 1;
  }
  const unsigned char *localExtra = local + kLocalSize + e->rawLength;
  if (!FieldsFit(localExtra, localExtraLength)) {
    *reason = "an extra field of the local header runs past the end of its extra area";
    return 1;
  }
  if (SignalsEncryption(localExtra, localExtraLength)) {
    *reason = "encrypted entries are not supported";
    return 1;
  }
  const unsigned char *path;
  size_t pathLength;
  if (UnicodePath(localExtra, localExtraLength, e->raw, e->rawLength, true, &path, &pathLength,
                  reason))
    return 1;
  if (path != nullptr && (!e->hasUtf8 || pathLength != e->utf8Length ||
                          memcmp(path, e->utf8, pathLength) != 0)) {
    *reason = "local header does not match the central directory";
    return 1;
  }
  return 0;
}

// Whether a central directory of count headers lies at start and ends exactly at end, each
// header where the one before it ends.
bool DirectoryWalks(Reader *r, uint64_t start, uint64_t end, uint32_t count) {
  uint64_t savedStart = r->centralStart, savedEnd = r->centralEnd;
  r->centralStart = start;
  r->centralEnd = end;
  uint64_t at = start;
  for (uint32_t i = 0; i < count && at <= end; ++i) {
    const unsigned char *h = Central(r, at, kCentralSize);
    at = h != nullptr && Get32(h) == kCentralSignature
             ? at + kCentralSize + Get16(h + 28) + Get16(h + 30) + Get16(h + 32)
             : end + 1;
  }
  r->centralStart = savedStart;
  r->centralEnd = savedEnd;
  return at == end;
}

// An end record at i of the tail whose comment fits in the archive.
bool IsEndRecord(const unsigned char *tail, uint32_t length, uint32_t i) {
  return Get32(tail + i) == kEndSignature && i + kEndSize + Get16(tail + i + 20) <= length;
}

// Whether the end record p at endOffset describes an intact central directory right before
// itself, at or after the offset it records (after a stub the offsets do not count).
bool DescribesDirectory(Reader *r, const unsigned char *p, uint64_t endOffset) {
  uint32_t size = Get32(p + 12), offset = Get32(p + 16);
  return size <= endOffset && endOffset - size >= offset &&
         DirectoryWalks(r, endOffset - size, endOffset, Get16(p + 10));
}

// How many end records at [from, to) of the tail describe an intact directory, the first at
// *first; -1 when there are more records to walk than kMaxEndRecords, so that a hostile tail
// cannot make the search read and read.
int Describing(Reader *r, const unsigned char *tail, uint64_t tailStart, uint32_t length,
               uint32_t from, uint32_t to, uint32_t *first) {
  int count = 0;
  uint32_t walked = 0;
  for (uint32_t i = from; i < to && i + kEndSize <= length; ++i) {
    if (!IsEndRecord(tail, length, i)) continue;
    if (++walked > kMaxEndRecords) return -1;
    if (DescribesDirectory(r, tail + i, tailStart + i) && count++ == 0) *first = i;
  }
  return count;
}

// Takes the end record at i of the tail that starts at tailStart: the central directory's
// bounds, the entry count and the shift of every offset.
int UseEnd(Reader *r, const unsigned char *tail, uint64_t tailStart, uint32_t i,
           const char **reason) {
  const unsigned char *p = tail + i;
  uint64_t endOffset = tailStart + i;
  if (i >= 20 && Get32(p - 20) == kZip64LocatorSignature) {
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
  // A stub before the archive that its offsets do not count (a self-extracting program, say):
  // the directory lies right before the end record and every offset is off by the stub's
  // length, which each local header must confirm (CheckLocal). An intact directory where
  // the recorded offset puts it as well would be a second reading.
  uint64_t before = endOffset - centralSize;
  r->shift = 0;
  if (before > centralOffset && DirectoryWalks(r, before, endOffset, total)) {
    if (DirectoryWalks(r, centralOffset, (uint64_t)centralOffset + centralSize, total)) {
      *reason = "two central directories: where the end record puts it and right before it";
      return 1;
    }
    r->shift = before - centralOffset;
  }
  r->centralStart = centralOffset + r->shift;
  r->centralEnd = r->centralStart + centralSize;
  r->entryCount = total;
  return 0;
}

// Finds the end record, scanning back over an archive comment. A record whose comment
// reaches exactly to the end of the archive is the one; a second such record makes the
// archive ambiguous, since readers differ on which one they take. When none does, bytes
// follow the archive (filler from a serial transfer or a padded copy): then exactly one
// record must describe an intact directory. Either way, any record after the one taken (in
// its comment, or in the bytes after the archive), whether its own comment fits in the file
// or runs past its end, is a second reading: readers that take the last record in the file
// would read that one.
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
  uint64_t tailStart = size - tail;
  const unsigned char *bytes = Fetch(r, &r->data, tailStart, tail, tail, size);
  if (bytes == nullptr) {
    *reason = "cannot read the archive";
    return 1;
  }
  uint32_t found = 0, reaching = 0, last = 0;
  for (uint32_t i = tail - kEndSize + 1; i-- > 0;) {
    if (Get32(bytes + i) != kEndSignature) continue;
    if (last == 0) last = i;
    if (i + kEndSize + Get16(bytes + i + 20) == tail && reaching++ == 0) found = i;
  }
  if (reaching > 1) {
    *reason = "more than one end of central directory record reaches the end of the file";
    return 1;
  }
  if (reaching == 0) {
    int describing = Describing(r, bytes, tailStart, tail, 0, tail, &found);
    if (describing < 0) {
      *reason = "too many end of central directory records";
      return 1;
    }
    if (describing > 1) {
      *reason = "more than one end of central directory record describes a central directory";
      return 1;
    }
    if (describing == 0) {
      *reason = "not a ZIP archive (no end of central directory record)";
      return 1;
    }
  }
  if (last > found) {
    *reason = "more than one end of central directory record: another one follows it "
              "(readers that take the last one would read that)";
    return 1;
  }
  if (UseEnd(r, bytes, tailStart, found, reason) != 0) return 1;
  // Behind a stub, a record before this one that describes a directory of its own means the
  // stub is an archive as well.
  uint32_t described;
  if (r->shift > 0 && reaching != 0 &&
      Describing(r, bytes, tailStart, tail, 0, found, &described) != 0) {
    *reason = "more than one end of central directory record: the stub before the archive is "
              "an archive too";
    return 1;
  }
  // The tail holds the directory of most archives and the end of their data: the directory
  // window keeps it, and the forward pass takes the end of the data from there.
  memcpy(&r->directory, &r->data, sizeof r->directory);
  r->data.length = 0;
  return 0;
}

int CheckDirectory(Reader *r, Planned *plan) {
  NameTable names;
  memset(&names, 0, sizeof names);
  uint64_t position = r->centralStart;
  Entry e;
  for (uint32_t i = 0; i < r->entryCount; ++i) {
    const char *reason = nullptr;
    uint64_t central = position;
    ParseResult result = ParseCentral(r, &position, &e, &reason);
    if (result != PARSE_OK) {
      Refuse(r, e.display, reason);
      if (result == PARSE_BROKEN) break;
      continue;
    }
    plan[i].central = (uint32_t)central;
    plan[i].localStart = (uint32_t)e.localStart;
    if (AddWrittenNames(r, &e, (uint32_t)central, &names, &reason) != 0) {
      Refuse(r, "(archive)", reason);
      break;
    }
  }
  if (r->refusals == 0 && position != r->centralEnd)
    Refuse(r, "(central directory)", "entry count does not match the directory size");
  if (r->refusals == 0) ReportClashes(r, names.names, names.count);
  free(names.names);
  free(names.folders.slots);
  return r->refusals != 0;
}

}  // namespace zipreader
