// The reader's names: checks and normalisation of entry names, case folding, strict UTF-8,
// names made safe to show, and the table that keeps two entries from writing one file.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "zipreader_internal.h"

namespace zipreader {

// More distinct folders than an honest archive of 65535 entries has: the bound keeps the
// tables of a hostile archive within a few megabytes.
const size_t kMaxFolders = 131072;

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

}  // namespace zipreader

using namespace zipreader;

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
namespace zipreader {

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

int CompareNames(const void *a, const void *b) {
  const WrittenName *x = (const WrittenName *)a, *y = (const WrittenName *)b;
  if (x->hash != y->hash) return x->hash < y->hash ? -1 : 1;
  return x->central < y->central ? -1 : x->central > y->central ? 1 : 0;
}

// The names that extracting e writes, as the forward pass will write them: the entry's own and
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
// '/' or '\\', in "." components), or a file where another entry needs a folder: every later
// one is refused, named with the first. Folders may repeat.
void ReportClashes(Reader *r, WrittenName *names, size_t count) {
  if (count < 2) return;
  qsort(names, count, sizeof(WrittenName), CompareNames);
  for (size_t first = 0, end; first < count; first = end) {
    bool file = false;
    for (end = first; end < count && names[end].hash == names[first].hash; ++end)
      file = file || names[end].kind == NAME_FILE;
    if (!file || end - first < 2) continue;
    Entry earlier, later;
    const char *reason;
    uint64_t at = names[first].central;
    ParseCentral(r, &at, &earlier, &reason);
    for (size_t i = first + 1; i < end; ++i) {
      at = names[i].central;
      ParseCentral(r, &at, &later, &reason);
      char text[300];
      snprintf(text, sizeof text, "%s on Windows as %s%s",
               names[i].kind == NAME_PARENT ? "its folder has the same name" : "same name",
               names[first].kind == NAME_PARENT ? "the folder of " : "", earlier.display);
      Refuse(r, later.display, text);
    }
  }
}

}  // namespace zipreader
