// Platform-free ZIP reader: checks the central directory, then reads the archive once in the
// order of its data, writing stored and deflated entries through the sink under temporary
// names, and names them all once nothing in the archive was refused.
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include "zipreader_internal.h"

namespace zipreader {

// Failures listed one by one before the rest are only counted.
const unsigned kMaxReported = 50;

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
// flood the installer's window; the count still goes into the closing line. A read of the
// archive that failed is the reason, whatever the check it kept from being made would say.
void Report(Reader *r, const char *name, const char *reason) {
  if (r->readFailed) reason = "cannot read the archive";
  r->readFailed = false;
  if (r->reported++ < kMaxReported)
    Print(r, "  error:  %s: %s\n", name, reason);
  else if (r->reported == kMaxReported + 1)
    Print(r, "  error:  further failures not listed\n");
}

void Fail(Reader *r, const char *name, const char *reason) {
  Report(r, name, reason);
  ++r->failures;
}

void Refuse(Reader *r, const char *name, const char *reason) {
  Report(r, name, reason);
  ++r->refusals;
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

// The name an entry is written under: with junk paths, its last component alone.
void ApplyJunkPaths(Reader *r, Entry *e) {
  const char *base = strrchr(e->name, '/');
  if (r->options->junkPaths && base != nullptr) memmove(e->name, base + 1, strlen(base + 1) + 1);
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

// Removes, deepest first, the folders of path (all of it when whole) that this extraction
// made and left empty.
void RemoveParents(Reader *r, const char *path, bool whole) {
  char prefix[ZIP_MAX_NAME + 1];
  size_t length = strlen(path);
  memcpy(prefix, path, length + 1);
  if (!whole) {
    while (length > 0 && prefix[length - 1] != '/') --length;
    if (length == 0) return;
    prefix[--length] = '\0';
  }
  while (length > 0) {
    r->sink->removeDirectory(r->sink->context, prefix);
    while (length > 0 && prefix[length - 1] != '/') --length;
    if (length == 0) return;
    prefix[--length] = '\0';
  }
}

// Streams one entry's data through the sink, checking size and CRC-32; the sink's file is
// open on entry and is committed or removed by the caller.
int CopyData(Reader *r, const Entry *e, const char **reason) {
  uint64_t offset = e->dataStart;
  uint32_t left = e->compressedSize, produced = 0;
  uLong crc = crc32(0L, Z_NULL, 0);
  if (e->method == 0) {
    while (left > 0) {
      uint32_t n;
      const unsigned char *data = Stream(r, offset, left, &n);
      if (data == nullptr) {
        *reason = "cannot read the archive";
        return 1;
      }
      crc = crc32(crc, data, n);
      if (r->sink->writeFile(r->sink->context, data, n) != 0) {
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
        uint32_t n;
        const unsigned char *data = Stream(r, offset, left, &n);
        if (data == nullptr) {
          *reason = "cannot read the archive";
          break;
        }
        offset += n;
        left -= n;
        z.next_in = (Bytef *)data;
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
  if (e->flags & kDescriptorFlag) {
    // The data descriptor repeats CRC and sizes; it may start with its own signature.
    const uint32_t kLongest = 16;
    uint64_t at = e->dataStart + e->compressedSize;
    uint64_t room = r->centralStart - at;
    uint32_t n = room < kLongest ? (uint32_t)room : kLongest;
    const unsigned char *d = nullptr;
    if (n >= 12) d = Fetch(r, &r->data, at, n, kWindow, r->centralStart);
    if (d == nullptr) {
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

int CompareOffsets(const void *a, const void *b) {
  const Planned *x = (const Planned *)a, *y = (const Planned *)b;
  if (x->localStart != y->localStart) return x->localStart < y->localStart ? -1 : 1;
  return x->central < y->central ? -1 : x->central > y->central ? 1 : 0;
}

int CompareHeaders(const void *a, const void *b) {
  const Planned *x = (const Planned *)a, *y = (const Planned *)b;
  return x->central < y->central ? -1 : x->central > y->central ? 1 : 0;
}

// Writes one entry whose local header has just been checked: makes a folder, or writes a file
// under a temporary name. A failure here costs this entry alone.
void WriteEntry(Reader *r, Planned *p, Entry *e, unsigned *directories) {
  const char *reason = nullptr;
  if (e->isDirectory) {
    if (e->name[0] == '\0') return;
    if (!r->options->quiet) Print(r, "   creating: %s\n", e->display);
    p->state |= FOLDERS_MADE;
    if (MakeParents(r, e->name, true, &reason) != 0)
      Fail(r, e->display, reason);
    else
      ++*directories;
    return;
  }
  if (!r->options->overwrite && r->sink->exists(r->sink->context, e->name)) {
    if (!r->options->quiet) Print(r, "   skipping: %s (already exists)\n", e->display);
    return;
  }
  if (!r->options->quiet)
    Print(r, "%s: %s\n", e->method == 8 ? "  inflating" : " extracting", e->display);
  ZipEntryInfo info = {e->name, e->size, e->dosDate, e->dosTime};
  p->state |= FOLDERS_MADE;
  if (MakeParents(r, e->name, false, &reason) != 0 ||
      r->sink->openFile(r->sink->context, &info, &p->file) != 0) {
    Fail(r, e->display, reason != nullptr ? reason : r->sink->lastError(r->sink->context));
  } else if (CopyData(r, e, &reason) != 0) {
    r->sink->abortFile(r->sink->context);
    Fail(r, e->display, reason);
  } else if (r->sink->closeFile(r->sink->context, &info) != 0) {
    Fail(r, e->display, r->sink->lastError(r->sink->context));
  } else {
    p->state |= FILE_WRITTEN;
  }
}

// The forward pass: every entry in the order of its data, its local header checked against
// its central header as it comes and then its data written. After a fault that refuses the
// archive the rest is only checked, so that every such fault is listed.
void ReadForward(Reader *r, Planned *plan, unsigned *directories) {
  qsort(plan, r->entryCount, sizeof(Planned), CompareOffsets);
  uint64_t previousEnd = 0;
  Entry e;
  for (uint32_t i = 0; i < r->entryCount; ++i) {
    const char *reason = nullptr;
    uint64_t position = plan[i].central;
    r->readFailed = false;
    if (ParseCentral(r, &position, &e, &reason) != PARSE_OK) {  // read again, and failed
      Refuse(r, e.display, reason);
      continue;
    }
    bool write = r->refusals == 0 && !r->options->listOnly && Selected(r, &e) &&
                 !(r->options->junkPaths && e.isDirectory);
    if (CheckLocal(r, &e, write ? kWindow : HeaderReach(&e), &reason) != 0) {
      Refuse(r, e.display, reason);
      continue;
    }
    // No byte may belong to two entries: overlapping entries are how small archives pretend
    // to hold huge amounts of data.
    uint64_t end = e.dataStart + e.compressedSize;
    bool overlaps = e.localStart < previousEnd;
    if (end > previousEnd) previousEnd = end;
    if (overlaps) {
      Refuse(r, e.display, "entries overlap");
    } else if (write) {
      ApplyJunkPaths(r, &e);
      WriteEntry(r, &plan[i], &e, directories);
    }
  }
}

// The archive is refused: the files written so far go, and so do the folders made for them,
// deepest first. An entry that cannot be read again here leaves its file under its temporary
// name, for the next extraction into that folder to remove.
void Withdraw(Reader *r, Planned *plan) {
  Entry e;
  for (uint32_t i = r->entryCount; i-- > 0;) {
    const char *reason;
    uint64_t position = plan[i].central;
    if (plan[i].state == 0 || ParseCentral(r, &position, &e, &reason) != PARSE_OK) continue;
    ApplyJunkPaths(r, &e);
    ZipEntryInfo info = {e.name, e.size, e.dosDate, e.dosTime};
    if (plan[i].state & FILE_WRITTEN) r->sink->dropFile(r->sink->context, plan[i].file, &info);
    RemoveParents(r, e.name, e.isDirectory != 0);
  }
}

// The archive passed: every file written gets its name, in the order of the directory (or,
// when listing, every entry is listed). Returns the number of files named.
unsigned GiveNames(Reader *r, Planned *plan) {
  qsort(plan, r->entryCount, sizeof(Planned), CompareHeaders);
  unsigned files = 0;
  Entry e;
  for (uint32_t i = 0; i < r->entryCount; ++i) {
    if (!r->options->listOnly && !(plan[i].state & FILE_WRITTEN)) continue;
    const char *reason = nullptr;
    uint64_t position = plan[i].central;
    r->readFailed = false;
    // Read again, and failed: a file stays under its temporary name, for the next extraction
    // into its folder to remove.
    if (ParseCentral(r, &position, &e, &reason) != PARSE_OK) {
      Fail(r, e.display, reason);
      continue;
    }
    if (r->options->listOnly) {
      if (!Selected(r, &e) || (r->options->junkPaths && e.isDirectory)) continue;
      ApplyJunkPaths(r, &e);
      Print(r, "  %10u  %04u-%02u-%02u %02u:%02u  %s\n", e.size, 1980 + (e.dosDate >> 9),
            (e.dosDate >> 5) & 15, e.dosDate & 31, e.dosTime >> 11, (e.dosTime >> 5) & 63,
            e.display);
      continue;
    }
    ApplyJunkPaths(r, &e);
    ZipEntryInfo info = {e.name, e.size, e.dosDate, e.dosTime};
    if (r->sink->nameFile(r->sink->context, plan[i].file, &info) != 0)
      Fail(r, e.display, r->sink->lastError(r->sink->context));
    else
      ++files;
  }
  return files;
}

}  // namespace zipreader

using namespace zipreader;

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
  Planned *plan = nullptr;
  int result = ZIP_REFUSED;
  if (FindEnd(r, &reason) != 0) {
    Print(r, "  error:  %s\n", reason);
  } else if ((plan = (Planned *)calloc(r->entryCount ? r->entryCount : 1, sizeof(Planned))) ==
             nullptr) {
    Print(r, "  error:  out of memory\n");
  } else if (CheckDirectory(r, plan) != 0) {
    Print(r, "  archive refused: nothing extracted\n");
  } else {
    unsigned directories = 0;
    ReadForward(r, plan, &directories);
    if (r->refusals != 0) {
      Withdraw(r, plan);
      Print(r, "  archive refused: nothing extracted\n");
    } else {
      unsigned files = GiveNames(r, plan);
      if (options->listOnly)
        Print(r, "  %u entries\n", r->entryCount);
      else if (r->failures == 0)
        Print(r, "  %u files and %u directories extracted\n", files, directories);
      else
        Print(r, "  %u entries failed; %u files and %u directories extracted\n", r->failures,
              files, directories);
      result = r->failures != 0 ? ZIP_ENTRY_FAILED : ZIP_OK;
    }
  }
  free(plan);
  free(r);
  return result;
}
