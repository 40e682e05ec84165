// libFuzzer target: any bytes given to the reader end cleanly, accepted names stay safe, and
// no two entries are written to one name.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <set>
#include <string>

#include "zipreader.h"

namespace {

struct Input {
  const uint8_t *data;
  size_t size;
};

int open_ = 0, closed = 0;
uint64_t written = 0;
// Names written so far for this input, folded as the reader compares them: no file may be
// written twice, nor where a folder was made. Completed files wait for their names (or to be
// dropped) under their numbers, each named or dropped once.
std::set<std::string> files, folders;
std::set<uint32_t> waiting;
uint32_t issued = 0;

std::string Folded(const char *path) {
  std::string name = path;
  ZipFoldCase(&name[0], name.size());
  return name;
}

int Read(void *c, uint64_t offset, void *buffer, uint32_t count) {
  const Input *in = (const Input *)c;
  if (offset > in->size || count > in->size - offset) return 1;
  memcpy(buffer, in->data + offset, count);
  return 0;
}

void Print(void *, const char *line, int length) {
  if (length <= 0 || length >= 600 || line[length - 1] != '\n' || memchr(line, '\n', length - 1))
    abort();
}

// Every name that reaches the sink must be relative and free of "..", ':' and backslashes.
void CheckPath(const char *path) {
  if (path[0] == '/' || strchr(path, ':') || strchr(path, '\\')) abort();
  for (const char *p = path; (p = strstr(p, "..")) != nullptr; ++p)
    if ((p == path || p[-1] == '/') && (p[2] == '\0' || p[2] == '/')) abort();
}

int MakeDirectory(void *, const char *path) {
  CheckPath(path);
  if (files.count(Folded(path))) abort();
  folders.insert(Folded(path));
  return 0;
}
int Exists(void *, const char *path) {
  return (int)(files.count(Folded(path)) + folders.count(Folded(path)));
}
void RemoveDirectory(void *, const char *path) { CheckPath(path); }
int Open(void *, const ZipEntryInfo *e, uint32_t *file) {
  CheckPath(e->name);
  if (open_ != closed || folders.count(Folded(e->name)) || !files.insert(Folded(e->name)).second)
    abort();
  ++open_;
  written = 0;
  *file = issued++;
  return 0;
}
int Write(void *, const void *, uint32_t count) {
  written += count;
  return 0;
}
int Close(void *, const ZipEntryInfo *e) {
  if (written != e->size) abort();
  waiting.insert(issued - 1);
  ++closed;
  return 0;
}
void Abort(void *) { ++closed; }
int Name(void *, uint32_t file, const ZipEntryInfo *) {
  if (waiting.erase(file) != 1) abort();
  return 0;
}
void Drop(void *, uint32_t file, const ZipEntryInfo *) {
  if (waiting.erase(file) != 1) abort();
}
const char *LastError(void *) { return "fuzz sink"; }
// Latin-1 stands for the system's code page: characters beyond it do not convert.
int FromUnicode(void *, const uint16_t *text, size_t count, char *out, size_t outSize) {
  if (count >= outSize) return -1;
  for (size_t i = 0; i < count; ++i) {
    if (text[i] >= 0x100) return -1;
    out[i] = (char)text[i];
  }
  return (int)count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Input in = {data, size};
  ZipSource source = {&in, size, Read};
  ZipSink sink = {nullptr, Print, MakeDirectory, RemoveDirectory, Exists, Open,      Write,
                  Close,   Abort, Name,          Drop,            LastError, nullptr, FromUnicode};
  // The settings come from the input's length, so that every one of them gets explored
  // without disturbing the archive's bytes.
  static const char *const kSelection[] = {"a", "d/A.TXT"};
  ZipOptions options;
  memset(&options, 0, sizeof options);
  options.overwrite = (size & 1) == 0;
  options.quiet = (size & 2) != 0;
  options.junkPaths = (size & 4) != 0;
  options.listOnly = (size & 24) == 24;
  if ((size & 24) == 8) {
    options.selectCount = 2;
    options.selectNames = kSelection;
  }
  open_ = closed = 0;
  files.clear();
  folders.clear();
  waiting.clear();
  ZipExtract(&source, &sink, &options);
  if (open_ != closed || !waiting.empty()) abort();
  return 0;
}
