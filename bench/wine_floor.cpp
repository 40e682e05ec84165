// The Wine floor: makes the folders and files of a plan with only the calls that any extractor
// must make (CreateDirectoryA; CreateFileA, WriteFile, SetFileTime, CloseHandle), the data and
// times already in memory. bench/unzip-floor times it against wizunz32.dll on the same archive.
// With --temporary each file is written under a temporary name in its directory and renamed
// into place once complete (MoveFileA): the floor of an extractor that never leaves part of a
// file under its name. With --flush as well, each file's data are forced to the disk
// (FlushFileBuffers) before it is renamed, so that a power cut cannot leave the name on data
// a disk cache never wrote: the floor of the library's design.
//
//   wine_floor.exe [--temporary [--flush]] PLAN C:\DESTINATION
//
// PLAN holds lines "D name" (a folder) and "F size date time name" (a file, its MS-DOS date
// and time), each file's bytes right after its line; names use '\'.
#include <windows.h>
// psapi.h needs the types from windows.h first.
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

struct Item {
  bool folder;
  std::string name;
  const char *data;
  DWORD size;
  FILETIME time;
};

bool ReadPlan(const char *path, std::string *plan) {
  FILE *f = fopen(path, "rb");
  if (f == nullptr) return false;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) plan->append(buffer, n);
  fclose(f);
  return true;
}

// The plan's items, with the times already in the form SetFileTime takes.
bool ParsePlan(const std::string &plan, std::vector<Item> *items) {
  for (size_t at = 0; at < plan.size();) {
    size_t end = plan.find('\n', at);
    if (end == std::string::npos) return false;
    std::string line = plan.substr(at, end - at);
    at = end + 1;
    Item item = {line[0] == 'D', "", nullptr, 0, {0, 0}};
    if (item.folder) {
      item.name = line.substr(2);
    } else {
      unsigned long size, date, time;
      int consumed = 0;
      if (sscanf(line.c_str(), "F %lu %lu %lu %n", &size, &date, &time, &consumed) != 3 ||
          consumed == 0 || size > plan.size() - at)
        return false;
      item.name = line.substr(consumed);
      item.data = plan.data() + at;
      item.size = (DWORD)size;
      FILETIME local;
      if (!DosDateTimeToFileTime((WORD)date, (WORD)time, &local) ||
          !LocalFileTimeToFileTime(&local, &item.time))
        return false;
      at += size;
    }
    items->push_back(item);
  }
  return true;
}

// The name a file is written under: its own, or with temporary, a fresh temporary name in its
// directory from which it is renamed once complete.
std::string WrittenName(const Item &item, bool temporary, unsigned number) {
  if (!temporary) return item.name;
  char leaf[16];
  snprintf(leaf, sizeof leaf, "uz%04x.tmp", number & 0xFFFF);
  size_t slash = item.name.rfind('\\');
  return (slash == std::string::npos ? "" : item.name.substr(0, slash + 1)) + leaf;
}

// Makes every folder and file of the plan in the current directory; 0 on success.
int Make(const std::vector<Item> &items, bool temporary, bool flush) {
  unsigned number = 0;
  for (const Item &item : items) {
    if (item.folder) {
      if (!CreateDirectoryA(item.name.c_str(), nullptr)) return 1;
      continue;
    }
    std::string name = WrittenName(item, temporary, number++);
    HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    BOOL ok = item.size == 0 || (WriteFile(file, item.data, item.size, &written, nullptr) &&
                                 written == item.size);
    ok = SetFileTime(file, nullptr, nullptr, &item.time) && ok;
    if (flush) ok = FlushFileBuffers(file) && ok;
    if (!CloseHandle(file) || !ok) return 1;
    if (temporary && !MoveFileA(name.c_str(), item.name.c_str())) return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  std::string plan;
  std::vector<Item> items;
  int options = 0;
  bool temporary = argc > 1 && strcmp(argv[1], "--temporary") == 0;
  options += temporary;
  bool flush = temporary && argc > 2 && strcmp(argv[2], "--flush") == 0;
  options += flush;
  if (argc != 3 + options || !ReadPlan(argv[1 + options], &plan) || !ParsePlan(plan, &items)) {
    fprintf(stderr,
            "usage: wine_floor [--temporary [--flush]] PLAN C:\\DESTINATION (a readable plan)\n");
    return 2;
  }
  const char *destination = argv[2 + options];
  if (!CreateDirectoryA(destination, nullptr) || !SetCurrentDirectoryA(destination)) {
    fprintf(stderr, "cannot make %s\n", destination);
    return 2;
  }
  LARGE_INTEGER start, end, frequency;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  int result = Make(items, temporary, flush);
  QueryPerformanceCounter(&end);
  PROCESS_MEMORY_COUNTERS counters;
  memset(&counters, 0, sizeof counters);
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  printf("result %d\nseconds %.3f\npeak_kb %lu\n", result,
         (double)(end.QuadPart - start.QuadPart) / (double)frequency.QuadPart,
         (unsigned long)(counters.PeakWorkingSetSize / 1024));
  return result;
}
