// Test helper: writes small ZIP archives in memory, with hooks for making them hostile.
#include "zipwriter.h"

#include <string.h>
#include <zlib.h>

namespace {

void Add16(std::string &s, uint16_t v) {
  s += (char)(v & 0xff);
  s += (char)(v >> 8);
}
void Add32(std::string &s, uint32_t v) {
  Add16(s, (uint16_t)(v & 0xffff));
  Add16(s, (uint16_t)(v >> 16));
}

std::string Deflate(const std::string &data) {
  z_stream z;
  memset(&z, 0, sizeof z);
  deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, data.size()) + 16, '\0');
  z.next_in = (Bytef *)data.data();
  z.avail_in = (uInt)data.size();
  z.next_out = (Bytef *)&out[0];
  z.avail_out = (uInt)out.size();
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

}  // namespace

void Put16(std::string &zip, size_t offset, uint16_t value) {
  zip[offset] = (char)(value & 0xff);
  zip[offset + 1] = (char)(value >> 8);
}
void Put32(std::string &zip, size_t offset, uint32_t value) {
  Put16(zip, offset, (uint16_t)(value & 0xffff));
  Put16(zip, offset + 2, (uint16_t)(value >> 16));
}
uint32_t Get32At(const std::string &zip, size_t offset) {
  const unsigned char *p = (const unsigned char *)zip.data() + offset;
  return p[0] | (p[1] << 8) | (p[2] << 16) | ((uint32_t)p[3] << 24);
}

void PutEntryField(std::string &zip, const TestLayout &layout, size_t entry, size_t field,
                   uint32_t value) {
  Put32(zip, layout.central[entry] + field, value);
  size_t local = layout.local[entry] + field - 2;
  if (Get32At(zip, local) != 0) Put32(zip, local, value);
}

std::string ExtraField(uint16_t id, const std::string &data) {
  std::string field;
  Add16(field, id);
  Add16(field, (uint16_t)data.size());
  return field + data;
}

std::string UnicodePathField(const std::string &name, const std::string &utf8) {
  std::string data(1, '\x01');
  Add32(data, (uint32_t)crc32(0, (const Bytef *)name.data(), (uInt)name.size()));
  return ExtraField(0x7075, data + utf8);
}

std::string RandomBytes(size_t count, uint32_t seed) {
  std::string out(count, '\0');
  for (size_t i = 0; i < count; ++i) {
    seed = seed * 1103515245u + 12345u;
    out[i] = (char)(seed >> 23);
  }
  return out;
}

std::string MakeZip(const std::vector<TestEntry> &entries, TestLayout *layout,
                    const std::string &comment) {
  TestLayout scratch;
  TestLayout &l = layout ? *layout : scratch;
  std::string zip, central;
  for (const TestEntry &e : entries) {
    uint32_t crc = (uint32_t)crc32(0, (const Bytef *)e.data.data(), (uInt)e.data.size());
    std::string packed = e.method == 8 ? Deflate(e.data) : e.data;
    uint16_t flags = (uint16_t)(e.flags | (e.descriptor ? 8 : 0));
    std::string common;
    Add16(common, flags);
    Add16(common, (uint16_t)e.method);
    Add16(common, e.dosTime);
    Add16(common, e.dosDate);
    l.local.push_back(zip.size());
    Add32(zip, 0x04034b50);
    Add16(zip, 20);
    zip += common;
    Add32(zip, e.descriptor ? 0 : crc);
    Add32(zip, e.descriptor ? 0 : (uint32_t)packed.size());
    Add32(zip, e.descriptor ? 0 : (uint32_t)e.data.size());
    Add16(zip, (uint16_t)e.name.size());
    Add16(zip, (uint16_t)e.localExtra.size());
    zip += e.name;
    zip += e.localExtra;
    l.data.push_back(zip.size());
    zip += packed;
    if (e.descriptor) {
      Add32(zip, 0x08074b50);
      Add32(zip, crc);
      Add32(zip, (uint32_t)packed.size());
      Add32(zip, (uint32_t)e.data.size());
    }
    std::string c;
    Add32(c, 0x02014b50);
    Add16(c, e.madeBy);
    Add16(c, 20);
    c += common;
    Add32(c, crc);
    Add32(c, (uint32_t)packed.size());
    Add32(c, (uint32_t)e.data.size());
    Add16(c, (uint16_t)e.name.size());
    Add16(c, (uint16_t)e.extra.size());
    Add16(c, 0);
    Add16(c, 0);
    Add16(c, 0);
    Add32(c, e.attributes);
    Add32(c, (uint32_t)l.local.back());
    c += e.name;
    c += e.extra;
    central += c;
  }
  l.centralStart = zip.size();
  size_t offset = zip.size();
  for (size_t i = 0; i < entries.size(); ++i) {
    l.central.push_back(offset);
    offset += 46 + entries[i].name.size() + entries[i].extra.size();
  }
  zip += central;
  l.end = zip.size();
  Add32(zip, 0x06054b50);
  Add16(zip, 0);
  Add16(zip, 0);
  Add16(zip, (uint16_t)entries.size());
  Add16(zip, (uint16_t)entries.size());
  Add32(zip, (uint32_t)central.size());
  Add32(zip, (uint32_t)l.centralStart);
  Add16(zip, (uint16_t)comment.size());
  zip += comment;
  return zip;
}
