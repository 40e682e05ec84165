// Test helper: writes small ZIP archives in memory, with hooks for making them hostile.
#ifndef ZIPWRITER_H
#define ZIPWRITER_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

struct TestEntry {
  std::string name;
  std::string data;
  int method = 8;           // 0 stored, 8 deflated, anything else written as given
  bool descriptor = false;  // sizes and CRC after the data (general flag bit 3)
  uint16_t flags = 0;       // extra general-purpose flags, e.g. 1 for "encrypted"
  uint16_t dosDate = (44 << 9) | (3 << 5) | 15;  // 2024-03-15
  uint16_t dosTime = (12 << 11) | (34 << 5) | (56 / 2);
  std::string extra = "";       // extra field of the central header
  std::string localExtra = "";  // extra field of the local header
  uint16_t madeBy = 20;         // host system (high byte, 0 MS-DOS, 3 Unix) and version
  uint32_t attributes = 0;      // external: MS-DOS attributes, a Unix mode in the high half
};

// One extra field: id, size and data.
std::string ExtraField(uint16_t id, const std::string &data);
// A Unicode path field (0x7075) giving utf8 as the name of an entry whose header has name.
std::string UnicodePathField(const std::string &name, const std::string &utf8);

// Where the parts of a written archive lie, so that tests can damage them.
struct TestLayout {
  std::vector<size_t> local;    // local header offsets
  std::vector<size_t> central;  // central header offsets
  std::vector<size_t> data;     // data offsets
  size_t centralStart = 0;
  size_t end = 0;               // end record offset
};

std::string MakeZip(const std::vector<TestEntry> &entries, TestLayout *layout = nullptr,
                    const std::string &comment = "");
void Put16(std::string &zip, size_t offset, uint16_t value);
void Put32(std::string &zip, size_t offset, uint32_t value);
uint32_t Get32At(const std::string &zip, size_t offset);
// Changes a CRC or size field (given by its offset in the central header) of one entry in
// both headers, so that they still agree; a local field left zero for a data descriptor stays.
void PutEntryField(std::string &zip, const TestLayout &layout, size_t entry, size_t field,
                   uint32_t value);
// Pseudo-random bytes (fixed seed) that deflate cannot shrink.
std::string RandomBytes(size_t count, uint32_t seed);

#endif
