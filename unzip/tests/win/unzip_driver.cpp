// Extracts one archive with wizunz32.dll as the installer would, then prints a manifest of the
// extracted tree (and, with --stats, time and peak memory) for the comparison scripts.
#include <windows.h>
// psapi.h needs the types from windows.h first.
#include <psapi.h>
#include <stdio.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "installer_block.h"

namespace {

void Manifest(const std::string &dir, const std::string &prefix, std::vector<std::string> *out) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    std::string name = data.cFileName, path = prefix + name;
    if (name == "." || name == "..") continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      out->push_back("D " + path + "/");
      Manifest(dir + "\\" + name, path + "/", out);
      continue;
    }
    FILE *f = fopen((dir + "\\" + name).c_str(), "rb");
    uLong crc = crc32(0, Z_NULL, 0), size = 0;
    static unsigned char buffer[65536];
    size_t n;
    while (f != nullptr && (n = fread(buffer, 1, sizeof buffer, f)) > 0) {
      crc = crc32(crc, buffer, (uInt)n);
      size += n;
    }
    if (f != nullptr) fclose(f);
    char line[64];
    snprintf(line, sizeof line, " %lu %08lx", size, crc);
    out->push_back("F " + path + line);
  } while (FindNextFileA(find, &data));
  FindClose(find);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: unzip_driver archive.zip C:\\destination [--stats]\n");
    return 2;
  }
  bool stats = argc > 3 && strcmp(argv[3], "--stats") == 0;
  std::string error;
  if (LoadUnzip(&error) != 0) {
    fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  std::string archive = argv[1], destination = argv[2];
  // Every level of the destination, from the drive down.
  for (size_t slash = destination.find('\\', 3); slash != std::string::npos;
       slash = destination.find('\\', slash + 1))
    CreateDirectoryA(destination.substr(0, slash).c_str(), nullptr);
  CreateDirectoryA(destination.c_str(), nullptr);
  if (!SetCurrentDirectoryA(destination.c_str())) {
    fprintf(stderr, "cannot enter %s\n", destination.c_str());
    return 2;
  }
  LARGE_INTEGER start, end, frequency;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  UnzipCall call = RunUnzip(archive.c_str());
  QueryPerformanceCounter(&end);
  if (stats) {
    PROCESS_MEMORY_COUNTERS counters;
    memset(&counters, 0, sizeof counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    printf("result %d\nlines %u\nseconds %.3f\npeak_kb %lu\n", call.result,
           (unsigned)call.pieces.size(),
           (double)(end.QuadPart - start.QuadPart) / (double)frequency.QuadPart,
           (unsigned long)(counters.PeakWorkingSetSize / 1024));
    return call.result;
  }
  std::vector<std::string> manifest;
  Manifest(destination, "", &manifest);
  std::sort(manifest.begin(), manifest.end());
  printf("result %d\n", call.result);
  for (const std::string &line : manifest) printf("%s\n", line.c_str());
  if (call.result != 0) fputs(call.Text().c_str(), stderr);
  return call.result;
}
