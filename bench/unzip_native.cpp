// Benchmark driver: the platform-free reader extracting one archive on Linux, so that its own
// speed and memory can be told apart from Wine's (bench/unzip-throughput).
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "zipreader.h"

namespace {

struct Files {
  int archive;
  int output;
  char temporary[ZIP_MAX_NAME + 16];
  uint32_t number;  // of the next temporary file
  const char *error;
};

// Each file is written under its own name with ".uz" and a number added, until it is named.
void TemporaryName(const char *name, uint32_t number, char *out, size_t size) {
  snprintf(out, size, "%s.uz%u", name, number);
}

int Read(void *c, uint64_t offset, void *buffer, uint32_t count) {
  Files *f = (Files *)c;
  while (count > 0) {
    ssize_t n = pread(f->archive, buffer, count, (off_t)offset);
    if (n <= 0) return 1;
    buffer = (char *)buffer + n;
    offset += (uint64_t)n;
    count -= (uint32_t)n;
  }
  return 0;
}

void Print(void *, const char *, int) {}

int MakeDirectory(void *c, const char *path) {
  struct stat s;
  if (mkdir(path, 0755) == 0 || (stat(path, &s) == 0 && S_ISDIR(s.st_mode))) return 0;
  ((Files *)c)->error = "cannot create directory";
  return 1;
}

void RemoveDirectory(void *, const char *path) { rmdir(path); }

int Exists(void *, const char *path) {
  struct stat s;
  return stat(path, &s) == 0;
}

int Open(void *c, const ZipEntryInfo *e, uint32_t *number) {
  Files *f = (Files *)c;
  *number = f->number++;
  TemporaryName(e->name, *number, f->temporary, sizeof f->temporary);
  f->output = open(f->temporary, O_WRONLY | O_CREAT | O_EXCL, 0644);
  f->error = "cannot create a temporary file";
  return f->output < 0;
}

int Write(void *c, const void *data, uint32_t count) {
  Files *f = (Files *)c;
  f->error = "cannot write";
  return write(f->output, data, count) != (ssize_t)count;
}

int Close(void *c, const ZipEntryInfo *) {
  Files *f = (Files *)c;
  f->error = "cannot write";
  return close(f->output) != 0;
}

void Abort(void *c) {
  Files *f = (Files *)c;
  close(f->output);
  unlink(f->temporary);
}

int Name(void *c, uint32_t number, const ZipEntryInfo *e) {
  Files *f = (Files *)c;
  TemporaryName(e->name, number, f->temporary, sizeof f->temporary);
  f->error = "cannot rename";
  return rename(f->temporary, e->name) != 0;
}

void Drop(void *c, uint32_t number, const ZipEntryInfo *e) {
  Files *f = (Files *)c;
  TemporaryName(e->name, number, f->temporary, sizeof f->temporary);
  unlink(f->temporary);
}

const char *LastError(void *c) { return ((Files *)c)->error; }

}  // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: unzip_native archive.zip destination\n");
    return 2;
  }
  Files files = {open(argv[1], O_RDONLY), -1, "", 0, ""};
  struct stat s;
  if (files.archive < 0 || fstat(files.archive, &s) != 0 || mkdir(argv[2], 0755) != 0 ||
      chdir(argv[2]) != 0) {
    perror("unzip_native");
    return 2;
  }
  ZipSource source = {&files, (uint64_t)s.st_size, Read};
  ZipSink sink = {&files, Print, MakeDirectory, RemoveDirectory, Exists, Open,      Write,
                  Close,  Abort, Name,          Drop,            LastError, nullptr, nullptr};
  ZipOptions options;
  memset(&options, 0, sizeof options);
  options.overwrite = 1;
  struct timespec start, end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  int result = ZipExtract(&source, &sink, &options);
  clock_gettime(CLOCK_MONOTONIC, &end);
  // VmHWM is the peak of this program's own address space; ru_maxrss would carry over the
  // parent's size from before exec.
  long peak = -1;
  char line[128];
  FILE *status = fopen("/proc/self/status", "r");
  while (status != nullptr && fgets(line, sizeof line, status) != nullptr)
    if (strncmp(line, "VmHWM:", 6) == 0) peak = strtol(line + 6, nullptr, 10);
  if (status != nullptr) fclose(status);
  printf("result %d\nseconds %.3f\npeak_kb %ld\n", result,
         (double)(end.tv_sec - start.tv_sec) + (double)(end.tv_nsec - start.tv_nsec) / 1e9, peak);
  return result;
}
