// Extracts archives with wizunz32.dll as the installer would, then prints a manifest of each
// extracted tree (or, with --stats, time and peak memory) for the comparison scripts.
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

// Creates every level of a path such as C:\\a\\b (the drive must exist).
void MakeDirectories(const std::string &path) {
  for (size_t i = 3; i <= path.size(); ++i)
    if (i == path.size() || path[i] == '\\') CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
}

// Extracts one archive into destination and prints its result and manifest (or statistics).
int ExtractOne(const std::string &archive, const std::string &destination, bool stats) {
  MakeDirectories(destination);
  if (!SetCurrentDirectoryA(destination.c_str())) {
    fprintf(stderr, "cannot enter %s\n", destination.c_str());
    return 2;
  }
  LARGE_INTEGER start, end, frequency;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  UnzipCall call = RunUnzip(archive.c_str());
  QueryPerformanceCounter(&end);
  SetCurrentDirectoryA("C:\\");
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
  printf("archive %s\nresult %d\n", archive.c_str(), call.result);
  for (const std::string &line : manifest) printf("%s\n", line.c_str());
  if (call.result != 0) fputs(call.Text().c_str(), stderr);
  return call.result;
}

}  // namespace

int main(int argc, char **argv) {
  bool stats = argc == 4 && strcmp(argv[3], "--stats") == 0;
  if (argc < 3 || (argc % 2 == 0 && !stats)) {
    fprintf(stderr, "usage: unzip_driver ARCHIVE C:\\DESTINATION [--stats]\n"
                    "       unzip_driver ARCHIVE C:\\DESTINATION [ARCHIVE C:\\DESTINATION...]\n");
    return 2;
  }
  std::string error;
  if (LoadUnzip(&error) != 0) {
    fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  if (stats) return ExtractOne(argv[1], argv[2], true);
  int worst = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    int result = ExtractOne(argv[i], argv[i + 1], false);
    if (result != 0) worst = result;
  }
  return worst;
}
