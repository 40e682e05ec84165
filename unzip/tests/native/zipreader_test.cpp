// Tests of the platform-free ZIP reader against archives built in memory.
#include <gtest/gtest.h>
#include <string.h>

#include <zlib.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "edge_archives.h"
#include "zipreader.h"
#include "zipwriter.h"

namespace {

// A sink that keeps the "file system" in memory and records every line of output. Files
// completed wait by their numbers for their names.
struct MemorySink {
  std::map<std::string, std::string> files;
  std::map<std::string, uint32_t> times;
  std::set<std::string> directories;
  std::vector<std::string> lines;
  std::string pending;
  std::map<uint32_t, std::string> waiting;
  bool open = false;
  int opened = 0, closed = 0, aborted = 0;
  std::string failDirectory;  // makeDirectory fails for this path, as a full disk would
};

MemorySink *Of(void *c) { return (MemorySink *)c; }

ZipSink SinkFor(MemorySink *m) {
  ZipSink s;
  memset(&s, 0, sizeof s);
  s.context = m;
  s.print = [](void *c, const char *line, int length) {
    Of(c)->lines.push_back(std::string(line, length));
  };
  s.makeDirectory = [](void *c, const char *path) {
    if (Of(c)->failDirectory == path || Of(c)->files.count(path)) return 1;
    Of(c)->directories.insert(path);
    return 0;
  };
  s.removeDirectory = [](void *c, const char *path) {
    std::string below = std::string(path) + "/";
    for (const auto &file : Of(c)->files)
      if (file.first.compare(0, below.size(), below) == 0) return;
    auto next = Of(c)->directories.upper_bound(path);
    if (next == Of(c)->directories.end() || next->compare(0, below.size(), below) != 0)
      Of(c)->directories.erase(path);
  };
  s.exists = [](void *c, const char *path) {
    return (int)(Of(c)->files.count(path) + Of(c)->directories.count(path));
  };
  s.openFile = [](void *c, const ZipEntryInfo *, uint32_t *file) {
    Of(c)->open = true;
    Of(c)->pending.clear();
    *file = (uint32_t)Of(c)->opened++;
    return 0;
  };
  s.writeFile = [](void *c, const void *data, uint32_t count) {
    Of(c)->pending.append((const char *)data, count);
    return 0;
  };
  s.closeFile = [](void *c, const ZipEntryInfo *) {
    Of(c)->waiting[(uint32_t)Of(c)->opened - 1] = Of(c)->pending;
    Of(c)->open = false;
    ++Of(c)->closed;
    return 0;
  };
  s.abortFile = [](void *c) {
    Of(c)->open = false;
    ++Of(c)->aborted;
  };
  s.nameFile = [](void *c, uint32_t file, const ZipEntryInfo *e) {
    Of(c)->files[e->name] = Of(c)->waiting.at(file);
    Of(c)->times[e->name] = ((uint32_t)e->dosDate << 16) | e->dosTime;
    Of(c)->waiting.erase(file);
    return 0;
  };
  s.dropFile = [](void *c, uint32_t file, const ZipEntryInfo *) {
    EXPECT_EQ(1u, Of(c)->waiting.erase(file));
  };
  s.lastError = [](void *) { return "refused by the test sink"; };
  return s;
}

struct MemorySource {
  std::string bytes;
};

ZipSource SourceFor(MemorySource *m) {
  ZipSource s;
  s.context = m;
  s.size = m->bytes.size();
  s.read = [](void *c, uint64_t offset, void *buffer, uint32_t count) {
    const std::string &b = ((MemorySource *)c)->bytes;
    if (offset + count > b.size()) return 1;
    memcpy(buffer, b.data() + offset, count);
    return 0;
  };
  return s;
}

ZipOptions Defaults() {
  ZipOptions o;
  memset(&o, 0, sizeof o);
  o.overwrite = 1;
  return o;
}

int Extract(const std::string &zip, MemorySink *sink, ZipOptions options = Defaults()) {
  MemorySource source{zip};
  ZipSource s = SourceFor(&source);
  ZipSink k = SinkFor(sink);
  int result = ZipExtract(&s, &k, &options);
  // Whatever happened, no output file may be left open, nor without its name.
  EXPECT_EQ(sink->opened, sink->closed + sink->aborted);
  EXPECT_FALSE(sink->open);
  EXPECT_TRUE(sink->waiting.empty());
  for (const std::string &line : sink->lines) {
    EXPECT_FALSE(line.empty());
    EXPECT_EQ('\n', line.back());
    EXPECT_EQ(line.find('\n'), line.size() - 1) << line;
    EXPECT_LT(line.size() * 2, 1024u) << line;
  }
  return result;
}

std::string AllText(const MemorySink &sink) {
  std::string text;
  for (const std::string &line : sink.lines) text += line;
  return text;
}

TEST(ZipCheckName, AcceptsAndNormalisesOrRefuses) {
  struct Case {
    const char *raw;
    const char *expected;  // nullptr: refused
    int isDirectory;
  } cases[] = {
      {"a.txt", "a.txt", 0},
      {"cv4.03/fonts/a.pfb", "cv4.03/fonts/a.pfb", 0},
      {"cv4.03/", "cv4.03", 1},
      {"dir\\sub\\b.txt", "dir/sub/b.txt", 0},
      {"./a/./b", "a/b", 0},
      {"./", "", 1},
      {"COM10", "COM10", 0},
      {"console.txt", "console.txt", 0},
      {"a.b.c", "a.b.c", 0},
      {"/etc/passwd", nullptr, 0},
      {"\\\\server\\share\\x", nullptr, 0},
      {"C:/x", nullptr, 0},
      {"c:x", nullptr, 0},
      {"a/file:stream", nullptr, 0},
      {"../x", nullptr, 0},
      {"a/../../x", nullptr, 0},
      {"a\\..\\x", nullptr, 0},
      {"a/..", nullptr, 0},
      {"CON", nullptr, 0},
      {"con.txt", nullptr, 0},
      {"a/Com1.log", nullptr, 0},
      {"LPT9", nullptr, 0},
      {"nul/x", nullptr, 0},
      {"aux.tar.gz", nullptr, 0},
      {"CON .txt", nullptr, 0},
      {"conout$", nullptr, 0},
      {"clock$", nullptr, 0},
      {"sub/CLOCK$.txt", nullptr, 0},
      {"COM0", nullptr, 0},
      {"lpt0.log", nullptr, 0},
      {"COM\xb9", nullptr, 0},
      {"a/com\xb2.txt", nullptr, 0},
      {"LPT\xb3 .x", nullptr, 0},
      {"COM\xb4", "COM\xb4", 0},
      {"CLOCK", "CLOCK", 0},
      {"a./b", nullptr, 0},
      {"a /b", nullptr, 0},
      {"b.", nullptr, 0},
      {"...", nullptr, 0},
      {"x\ty", nullptr, 0},
      {"x\ny", nullptr, 0},
      {"a//b", nullptr, 0},
      {"a*b", nullptr, 0},
      {"a?b", nullptr, 0},
      {"", nullptr, 0},
  };
  for (const Case &c : cases) {
    char out[ZIP_MAX_NAME + 1];
    int isDirectory = -1;
    const char *reason = nullptr;
    int failed = ZipCheckName(c.raw, strlen(c.raw), out, sizeof out, &isDirectory, &reason);
    if (c.expected == nullptr) {
      EXPECT_NE(0, failed) << c.raw;
      EXPECT_NE(nullptr, reason) << c.raw;
    } else {
      EXPECT_EQ(0, failed) << c.raw << ": " << (reason ? reason : "");
      EXPECT_STREQ(c.expected, out) << c.raw;
      EXPECT_EQ(c.isDirectory, isDirectory) << c.raw;
    }
  }
  std::string longest(ZIP_MAX_NAME, 'x'), tooLong(ZIP_MAX_NAME + 1, 'x');
  char out[ZIP_MAX_NAME + 1];
  int isDirectory;
  const char *reason;
  EXPECT_EQ(0, ZipCheckName(longest.data(), longest.size(), out, sizeof out, &isDirectory, &reason));
  EXPECT_NE(0, ZipCheckName(tooLong.data(), tooLong.size(), out, sizeof out, &isDirectory, &reason));
}

TEST(ZipExtract, ExtractsStoredDeflatedNestedAndDescribedEntries) {
  std::string big = RandomBytes(300000, 7) + std::string(2000000, 'z') + RandomBytes(5000, 9);
  TestEntry d{"cv4.03/", "", 0};
  TestEntry a{"cv4.03/fonts/a.pfb", "font data font data font data", 8};
  TestEntry b{"cv4.03/README", "read me\r\n", 0};
  TestEntry c{"big.bin", big, 8};
  c.descriptor = true;
  TestEntry e{"empty", "", 0};
  MemorySink sink;
  ASSERT_EQ(ZIP_OK, Extract(MakeZip({d, a, b, c, e}, nullptr, "archive comment"), &sink));
  EXPECT_EQ(a.data, sink.files["cv4.03/fonts/a.pfb"]);
  EXPECT_EQ(b.data, sink.files["cv4.03/README"]);
  EXPECT_TRUE(sink.files["big.bin"] == big);
  EXPECT_EQ("", sink.files["empty"]);
  EXPECT_EQ(4u, sink.files.size());
  EXPECT_EQ((std::set<std::string>{"cv4.03", "cv4.03/fonts"}), sink.directories);
  EXPECT_EQ(((uint32_t)a.dosDate << 16) | a.dosTime, sink.times["cv4.03/README"]);
  ASSERT_EQ(6u, sink.lines.size());
  EXPECT_EQ("   creating: cv4.03/\n", sink.lines[0]);
  EXPECT_EQ("  inflating: cv4.03/fonts/a.pfb\n", sink.lines[1]);
  EXPECT_EQ(" extracting: cv4.03/README\n", sink.lines[2]);
  EXPECT_EQ("  4 files and 1 directories extracted\n", sink.lines[5]);
}

// The table of archives at the edges of the format, read or refused as a whole.
TEST(ZipExtract, ReadsOrRefusesEdgeArchives) {
  for (const EdgeArchive &c : EdgeArchives()) {
    MemorySink sink;
    EXPECT_EQ(c.result, Extract(c.zip, &sink)) << c.what << "\n" << AllText(sink);
    std::vector<std::string> tree;
    for (const std::string &folder : sink.directories) tree.push_back(folder + "/");
    for (const auto &file : sink.files) tree.push_back(file.first + "=" + file.second);
    std::sort(tree.begin(), tree.end());
    EXPECT_EQ(c.tree, tree) << c.what;
    if (c.result != ZIP_OK) {
      EXPECT_NE(std::string::npos, AllText(sink).find(c.message)) << c.what << "\n" << AllText(sink);
    }
  }
}

// The same archive with its central headers in reverse order: its entries' data then lie in
// the opposite order of the directory.
std::string Reversed(const std::string &zip, const TestLayout &l) {
  std::string directory;
  for (size_t i = l.central.size(); i-- > 0;)
    directory += zip.substr(l.central[i], (i + 1 < l.central.size() ? l.central[i + 1] : l.end) -
                                              l.central[i]);
  return zip.substr(0, l.centralStart) + directory + zip.substr(l.end);
}

// The archive is read once, from its start, in the order of its entries' data: entries of
// every size around the window's, stored and deflated (the first ending just before the end
// of the first window, so that the next header lies across it), each come out whole, and
// small ones share the reads that bring them in. Where the data lie in another order than a
// directory larger than a window, that directory is read again, in few reads.
TEST(ZipExtract, ReadsTheArchiveOnceInTheOrderOfItsData) {
  std::vector<TestEntry> entries = {{"s", RandomBytes(66560, 11), 0}}, many;
  for (int i = 0; i < 400; ++i)
    entries.push_back({"f" + std::to_string(i), RandomBytes(i * 7919 % 3000, i), i % 2 ? 0 : 8});
  for (size_t size : {65535, 65536, 66601, 140000})
    entries.push_back({"big" + std::to_string(size), RandomBytes(size, 5), 0});
  entries.push_back({"last", "tail", 8});
  for (int i = 0; i < 1500; ++i)
    many.push_back({"folder/a-name-of-forty-bytes-or-so-" + std::to_string(i), "data", 0});
  TestLayout layout;
  std::string reversed = MakeZip(many, &layout);
  reversed = Reversed(reversed, layout);
  struct Case {
    const std::vector<TestEntry> &entries;
    std::string zip;
    double bytes;  // at most, per byte of the archive
    int jumps;     // at most
  } cases[] = {{entries, MakeZip(entries), 1, 2}, {many, reversed, 3, 8}};
  for (Case &c : cases) {
    struct Counted {
      MemorySource source;
      int reads, jumps;
      size_t bytes, end;
    } counted = {{c.zip}, 0, 0, 0, 0};
    ZipSource s = SourceFor(&counted.source);
    s.context = &counted;
    s.read = [](void *context, uint64_t offset, void *buffer, uint32_t count) {
      Counted *k = (Counted *)context;
      k->jumps += offset != k->end;
      ++k->reads;
      k->bytes += count;
      k->end = offset + count;
      if (offset + count > k->source.bytes.size()) return 1;
      memcpy(buffer, k->source.bytes.data() + offset, count);
      return 0;
    };
    MemorySink sink;
    ZipSink k = SinkFor(&sink);
    ZipOptions o = Defaults();
    ASSERT_EQ(ZIP_OK, ZipExtract(&s, &k, &o)) << AllText(sink);
    for (const TestEntry &e : c.entries) EXPECT_TRUE(sink.files[e.name] == e.data) << e.name;
    EXPECT_LE(counted.bytes, c.bytes * c.zip.size()) << c.zip.size();
    EXPECT_LE(counted.jumps, c.jumps) << c.zip.size();
    EXPECT_LE(counted.reads, 16) << c.zip.size();
  }
}

// The signature alone, too near the end to start a record, is comment (a whole record there is
// refused: see the edge table).
TEST(ZipExtract, FindsTheEndRecordBehindACommentThatLooksLikeOne) {
  std::string comment = std::string(1000, 'c') + "PK\x05\x06 no record";
  MemorySink sink;
  EXPECT_EQ(ZIP_OK, Extract(MakeZip({{"x", "data", 8}}, nullptr, comment), &sink));
  EXPECT_EQ("data", sink.files["x"]);
}

// Archive-level damage, ambiguity and refused entries: nothing is written at all.
TEST(ZipExtract, RefusesHostileArchivesWithoutWritingAnything) {
  typedef std::function<void(std::string &, const TestLayout &)> Damage;
  TestEntry strong{"s.bin", "x", 8};
  strong.extra = ExtraField(0x0017, std::string(8, '\0'));
  TestEntry strongLocal{"s.bin", "x", 8};
  strongLocal.localExtra = ExtraField(0x0017, std::string(8, '\0'));
  TestEntry aes{"a.bin", "x", 8};
  aes.extra = ExtraField(0x9901, "\x02\x00" "AE\x03\x08\x00");
  std::string inner = MakeZip({{"b", "bee", 0}}).substr(0, 30 + 1 + 3);  // b's header and data
  struct Case {
    const char *what;
    std::vector<TestEntry> entries;
    Damage damage;
    const char *message;
  } cases[] = {
      {"encrypted", {{"ok", "x", 0}, {"secret", "y", 0, false, 1}}, nullptr, "secret: encrypted"},
      {"unknown method", {{"ok", "x", 0}, {"m", "y", 12}}, nullptr, "m: compression method 12"},
      {"unsafe name", {{"ok", "x", 0}, {"../evil", "y", 0}}, nullptr, "../evil: parent directory"},
      {"device name", {{"ok", "x", 0}, {"sub/con.txt", "y", 0}}, nullptr, "reserved device"},
      {"control character", {{"a\x01\nb", "y", 0}}, nullptr, "a??b: control character"},
      {"multi-disk", {{"ok", "x", 8}},
       [](std::string &z, const TestLayout &l) { Put16(z, l.end + 4, 1); }, "multi-disk"},
      {"ZIP64 sizes", {{"ok", "x", 8}},
       [](std::string &z, const TestLayout &l) { Put32(z, l.central[0] + 24, 0xffffffff); },
       "ZIP64"},
      {"ZIP64 end", {{"ok", "x", 8}},
       [](std::string &z, const TestLayout &l) { Put32(z, l.end + 16, 0xffffffff); }, "ZIP64"},
      {"central directory past the end", {{"ok", "x", 8}},
       [](std::string &z, const TestLayout &l) { Put32(z, l.end + 16, (uint32_t)l.end + 5); },
       "central directory points past"},
      {"entry count too high", {{"ok", "x", 8}},
       [](std::string &z, const TestLayout &l) {
         Put16(z, l.end + 8, 2);
         Put16(z, l.end + 10, 2);
       },
       "central directory damaged"},
      {"data past the directory", {{"ok", "xyz", 0}},
       [](std::string &z, const TestLayout &l) {
         Put32(z, l.central[0] + 20, 1000);
         Put32(z, l.central[0] + 24, 1000);
       },
       "run past the end"},
      {"local header elsewhere", {{"ok", "xyz", 0}},
       [](std::string &z, const TestLayout &l) { Put32(z, l.central[0] + 42, 3); },
       "local header missing"},
      {"overlapping entries", {{"a", inner, 0}, {"b", "bee", 0}},
       [](std::string &z, const TestLayout &l) {
         Put32(z, l.central[1] + 42, (uint32_t)l.data[0]);
       },
       "b: entries overlap"},
      {"not a zip", {}, [](std::string &z, const TestLayout &) { z = "just some text"; },
       "not a ZIP"},
      // Archives that different readers would read differently.
      {"stored sizes differ", {{"ok", "x", 0}, {"s", "stored data", 0}},
       [](std::string &z, const TestLayout &l) {
         Put32(z, l.local[1] + 18, 5);
         Put32(z, l.local[1] + 22, 5);
       },
       "s: local header gives another CRC or size"},
      {"CRC differs", {{"c", "data", 8}},
       [](std::string &z, const TestLayout &l) { Put32(z, l.local[0] + 14, 1); },
       "local header gives another CRC or size"},
      {"descriptor flag differs", {{"d", "data", 8, true}},
       [](std::string &z, const TestLayout &l) { Put16(z, l.local[0] + 6, 0); },
       "local header does not match"},
      {"UTF-8 flag differs", {{"u", "data", 8}},
       [](std::string &z, const TestLayout &l) { Put16(z, l.local[0] + 6, 0x0800); },
       "local header does not match"},
      {"described sizes that differ", {{"d", "data", 8, true}},
       [](std::string &z, const TestLayout &l) { Put32(z, l.local[0] + 22, 3); },
       "local header gives another CRC or size"},
      {"strong encryption field", {{"ok", "x", 8}, strong}, nullptr, "s.bin: encrypted"},
      {"strong encryption field, local", {strongLocal}, nullptr, "s.bin: encrypted"},
      {"AES field", {aes}, nullptr, "a.bin: encrypted"},
      {"second end record in the comment", {},
       [](std::string &z, const TestLayout &) {
         std::string inner = MakeZip({{"evil.txt", "evil", 0}});
         z = MakeZip({{"good.txt", "good", 0}}, nullptr, inner.substr(inner.size() - 22));
       },
       "more than one end of central directory record"},
  };
  for (Case &c : cases) {
    TestLayout layout;
    std::string zip = MakeZip(c.entries, &layout);
    if (c.damage) c.damage(zip, layout);
    MemorySink sink;
    EXPECT_EQ(ZIP_REFUSED, Extract(zip, &sink)) << c.what;
    EXPECT_TRUE(sink.files.empty()) << c.what;
    EXPECT_TRUE(sink.directories.empty()) << c.what;
    EXPECT_NE(std::string::npos, AllText(sink).find(c.message)) << c.what << "\n" << AllText(sink);
  }
}

// Damage found only while decompressing costs that entry alone; the others are extracted.
TEST(ZipExtract, DamagedDataFailsOnlyThatEntry) {
  typedef std::function<void(std::string &, const TestLayout &)> Damage;
  std::string text(100000, 'q');
  struct Case {
    const char *what;
    int method;
    bool descriptor;
    Damage damage;
    const char *message;
  } cases[] = {
      {"CRC stored", 0, false,
       [](std::string &z, const TestLayout &l) { z[l.data[1]] ^= 1; }, "CRC-32 mismatch"},
      {"CRC field", 8, false,
       [](std::string &z, const TestLayout &l) { PutEntryField(z, l, 1, 16, 1234); },
       "CRC-32 mismatch"},
      {"size larger than data", 8, false,
       [](std::string &z, const TestLayout &l) { PutEntryField(z, l, 1, 24, 100001); },
       "shorter than"},
      {"size smaller than data", 8, false,
       [](std::string &z, const TestLayout &l) { PutEntryField(z, l, 1, 24, 99999); },
       "more data than"},
      {"compressed size too small", 8, false,
       [](std::string &z, const TestLayout &l) {
         PutEntryField(z, l, 1, 20, Get32At(z, l.central[1] + 20) - 2);
       },
       "truncated"},
      {"compressed size too large", 8, true,
       [](std::string &z, const TestLayout &l) {
         PutEntryField(z, l, 1, 20, Get32At(z, l.central[1] + 20) + 4);
       },
       "compressed size does not match"},
      {"deflate stream damaged", 8, false,
       [](std::string &z, const TestLayout &l) {
         for (int i = 0; i < 8; ++i) z[l.data[1] + i] = (char)0xff;
       },
       "damaged"},
      {"descriptor differs", 8, true,
       [](std::string &z, const TestLayout &l) {
         size_t at = l.data[1] + Get32At(z, l.central[1] + 20);
         Put32(z, at + 4, 42);
       },
       "data descriptor does not match"},
  };
  for (Case &c : cases) {
    TestEntry bad{"bad.txt", text, c.method, c.descriptor};
    TestLayout layout;
    std::string zip = MakeZip({{"first", "1", 8}, bad, {"last", "3", 0}}, &layout);
    c.damage(zip, layout);
    MemorySink sink;
    EXPECT_EQ(ZIP_ENTRY_FAILED, Extract(zip, &sink)) << c.what;
    EXPECT_EQ(0u, sink.files.count("bad.txt")) << c.what;
    EXPECT_EQ("1", sink.files["first"]) << c.what;
    EXPECT_EQ("3", sink.files["last"]) << c.what;
    std::string all = AllText(sink);
    EXPECT_NE(std::string::npos, all.find("bad.txt: ")) << c.what << "\n" << all;
    EXPECT_NE(std::string::npos, all.find(c.message)) << c.what << "\n" << all;
    EXPECT_NE(std::string::npos, all.find("1 entries failed; 2 files")) << c.what << "\n" << all;
  }
}

TEST(ZipExtract, EveryTruncationAndByteFlipEndsCleanly) {
  std::string zip = MakeZip({{"d/", "", 0}, {"d/a", std::string(3000, 'a') + "tail", 8},
                             {"b", "stored", 0, true}});
  for (size_t n = 0; n < zip.size(); ++n) {
    MemorySink sink;
    EXPECT_NE(ZIP_OK, Extract(zip.substr(0, n), &sink)) << n;
    EXPECT_TRUE(sink.files.empty()) << n;
  }
  for (size_t i = 0; i < zip.size(); ++i) {
    std::string damaged = zip;
    damaged[i] ^= 0x5a;
    MemorySink sink;
    int result = Extract(damaged, &sink);
    if (result != ZIP_OK) EXPECT_FALSE(sink.lines.empty()) << i;
  }
}

TEST(ZipExtract, ReportsAtMostFiftyFailuresThenCounts) {
  std::vector<TestEntry> entries;
  for (int i = 0; i < 200; ++i) entries.push_back({"../x" + std::to_string(i), "", 0});
  MemorySink sink;
  EXPECT_EQ(ZIP_REFUSED, Extract(MakeZip(entries), &sink));
  EXPECT_EQ(52u, sink.lines.size());
}

TEST(ZipExtract, SettingsChangeWhatIsWritten) {
  std::string zip = MakeZip({{"dir/", "", 0}, {"dir/a", "new a", 8}, {"b", "new b", 0}});
  {
    MemorySink sink;  // keep existing files
    sink.files["b"] = "old b";
    ZipOptions o = Defaults();
    o.overwrite = 0;
    EXPECT_EQ(ZIP_OK, Extract(zip, &sink, o));
    EXPECT_EQ("old b", sink.files["b"]);
    EXPECT_EQ("new a", sink.files["dir/a"]);
    EXPECT_NE(std::string::npos, AllText(sink).find("skipping: b (already exists)"));
  }
  {
    MemorySink sink;  // replace them
    sink.files["b"] = "old b";
    EXPECT_EQ(ZIP_OK, Extract(zip, &sink));
    EXPECT_EQ("new b", sink.files["b"]);
  }
  {
    MemorySink sink;
    ZipOptions o = Defaults();
    o.listOnly = 1;
    EXPECT_EQ(ZIP_OK, Extract(zip, &sink, o));
    EXPECT_EQ(0, sink.opened);
    EXPECT_TRUE(sink.directories.empty());
    EXPECT_NE(std::string::npos, AllText(sink).find("5  2024-03-15 12:34  dir/a\n"));
  }
  {
    MemorySink sink;
    ZipOptions o = Defaults();
    const char *names[] = {"DIR\\A"};
    o.selectCount = 1;
    o.selectNames = names;
    EXPECT_EQ(ZIP_OK, Extract(zip, &sink, o));
    EXPECT_EQ((std::map<std::string, std::string>{{"dir/a", "new a"}}), sink.files);
  }
  {
    MemorySink sink;
    ZipOptions o = Defaults();
    o.junkPaths = 1;
    o.quiet = 1;
    EXPECT_EQ(ZIP_OK, Extract(zip, &sink, o));
    EXPECT_EQ("new a", sink.files["a"]);
    EXPECT_TRUE(sink.directories.empty());
    EXPECT_EQ(1u, sink.lines.size());
  }
}

// A sink whose code page is Latin-1, standing for Windows-1252 in what it can hold.
int Latin1(void *, const uint16_t *text, size_t count, char *out, size_t outSize) {
  if (count >= outSize) return -1;
  for (size_t i = 0; i < count; ++i) {
    if (text[i] >= 0x100) return -1;
    out[i] = (char)text[i];
  }
  return (int)count;
}

int ExtractLatin1(const std::string &zip, MemorySink *sink, ZipOptions options = Defaults()) {
  MemorySource source{zip};
  ZipSource s = SourceFor(&source);
  ZipSink k = SinkFor(sink);
  k.fromUnicode = Latin1;
  return ZipExtract(&s, &k, &options);
}

TEST(ZipDecodeUtf8, AcceptsOnlyStrictUtf8) {
  struct Case {
    const char *bytes;
    std::vector<uint16_t> units;  // empty: refused
  } cases[] = {
      {"plain", {'p', 'l', 'a', 'i', 'n'}},
      {"caf\xc3\xa9", {'c', 'a', 'f', 0xe9}},
      {"\xe2\x82\xac\xef\xbf\xbd", {0x20ac, 0xfffd}},
      {"\xf0\x9f\x98\x80", {0xd83d, 0xde00}},
      {"\xf4\x8f\xbf\xbf", {0xdbff, 0xdfff}},
      {"\xc0\xaf", {}},              // overlong '/'
      {"\xc1\xbf", {}},
      {"\xe0\x80\xaf", {}},          // overlong, three bytes
      {"\xf0\x80\x80\xaf", {}},      // overlong, four bytes
      {"\xed\xa0\x80", {}},          // surrogate
      {"\xed\xbf\xbf", {}},
      {"\xf4\x90\x80\x80", {}},      // beyond U+10FFFF
      {"\xf5\x80\x80\x80", {}},
      {"\xff", {}},
      {"\x80", {}},                  // continuation alone
      {"ab\xc3", {}},                // cut sequences
      {"\xe2\x82", {}},
      {"\xf0\x9f\x98", {}},
      {"\xc3\x28", {}},              // continuation missing
  };
  for (const Case &c : cases) {
    uint16_t out[16];
    int n = ZipDecodeUtf8((const unsigned char *)c.bytes, strlen(c.bytes), out, 16);
    if (c.units.empty()) {
      EXPECT_EQ(-1, n) << c.bytes;
    } else {
      ASSERT_EQ((int)c.units.size(), n) << c.bytes;
      EXPECT_EQ(c.units, std::vector<uint16_t>(out, out + n)) << c.bytes;
    }
  }
  uint16_t one[1];
  EXPECT_EQ(-1, ZipDecodeUtf8((const unsigned char *)"\xf0\x9f\x98\x80", 4, one, 1));
}

TEST(ZipFoldCase, FoldsAsciiAndWindows1252Letters) {
  std::string text = "abz AZ \xe0\xe9\xfe\xff\x9a\x9c\x9e \xf7\xdf\xb5 09";
  ZipFoldCase(&text[0], text.size());
  EXPECT_EQ("ABZ AZ \xc0\xc9\xde\x9f\x8a\x8c\x8e \xf7\xdf\xb5 09", text);
}

// Entries that Windows writes to one file or folder: the archive is refused, nothing is
// written, and the later entry is named with the first.
TEST(ZipExtract, RefusesEntriesThatAreOneFileOnWindows) {
  const int kUtf8 = 0x0800;
  struct Case {
    const char *what;
    std::vector<TestEntry> entries;
    const char *message;
  } cases[] = {
      {"same name", {{"a.txt", "1", 8}, {"b", "", 0}, {"a.txt", "2", 8}},
       "a.txt: same name on Windows as a.txt"},
      {"letter case", {{"Dir/Read.Me", "1", 8}, {"dir/READ.ME", "2", 0}},
       "dir/READ.ME: same name on Windows as Dir/Read.Me"},
      {"Windows-1252 case", {{"\xe9t\xe9.txt", "1", 8}, {"\xc9T\xc9.TXT", "2", 8}},
       "same name on Windows as \xe9t\xe9.txt"},
      {"dot component", {{"a.txt", "1", 8}, {"./a.txt", "2", 8}},
       "./a.txt: same name on Windows as a.txt"},
      {"backslash", {{"x/y", "1", 8}, {"x\\y", "2", 8}}, "x\\y: same name on Windows as x/y"},
      {"link then file", {{"bin/tool", "../lib/tool", 0}, {"bin/tool", "the program", 8}},
       "bin/tool: same name"},
      {"file then folder entry", {{"d", "1", 8}, {"D/", "", 0}}, "D/: same name on Windows as d"},
      {"file then folder of an entry", {{"d", "1", 8}, {"D/x", "2", 8}},
       "D/x: its folder has the same name on Windows as d"},
      {"folder of an entry then file", {{"d/x", "1", 8}, {"D", "2", 8}},
       "D: same name on Windows as the folder of d/x"},
      {"file then deeper entry", {{"d", "1", 8}, {"D/x/y", "2", 8}},
       "D/x/y: its folder has the same name on Windows as d"},
      {"deeper entry then file", {{"d/x/y", "1", 8}, {"e", "", 0}, {"D", "2", 8}},
       "D: same name on Windows as the folder of d/x/y"},
      {"UTF-8 and ANSI", {{"caf\xe9", "1", 8}, {"caf\xc3\xa9", "2", 8, false, kUtf8}},
       "caf\xe9: same name on Windows as caf\xe9"},
  };
  for (Case &c : cases) {
    MemorySink sink;
    EXPECT_EQ(ZIP_REFUSED, ExtractLatin1(MakeZip(c.entries), &sink)) << c.what;
    EXPECT_EQ(0, sink.opened) << c.what;
    EXPECT_TRUE(sink.directories.empty()) << c.what;
    EXPECT_NE(std::string::npos, AllText(sink).find(c.message)) << c.what << "\n" << AllText(sink);
  }
}

TEST(ZipExtract, FoldersMayRepeatAndOnlyWrittenNamesCount) {
  std::string zip = MakeZip({{"d/", "", 0}, {"D/", "", 0}, {"d/a", "1", 8}, {"D/b", "2", 8}});
  MemorySink sink;
  EXPECT_EQ(ZIP_OK, Extract(zip, &sink)) << AllText(sink);
  EXPECT_EQ("2", sink.files["D/b"]);

  std::string twice = MakeZip({{"one/x", "1", 8}, {"two/X", "2", 8}});
  MemorySink whole;
  EXPECT_EQ(ZIP_OK, Extract(twice, &whole));
  EXPECT_EQ(2u, whole.files.size());
  MemorySink junked;  // without folders both are one file
  ZipOptions o = Defaults();
  o.junkPaths = 1;
  EXPECT_EQ(ZIP_REFUSED, Extract(twice, &junked, o));
  EXPECT_NE(std::string::npos, AllText(junked).find("two/X: same name on Windows as one/x"));
  MemorySink selected;  // only one of them is extracted
  const char *names[] = {"two/x"};
  o.selectCount = 1;
  o.selectNames = names;
  EXPECT_EQ(ZIP_OK, Extract(twice, &selected, o));
  EXPECT_EQ("2", selected.files["X"]);

  // A sink's own case folding is used: this one folds nothing, so case makes names differ.
  MemorySource source{MakeZip({{"a", "1", 8}, {"A", "2", 8}})};
  ZipSource s = SourceFor(&source);
  MemorySink exact;
  ZipSink k = SinkFor(&exact);
  k.foldCase = [](void *, char *, size_t) {};
  ZipOptions d = Defaults();
  EXPECT_EQ(ZIP_OK, ZipExtract(&s, &k, &d));
  EXPECT_EQ(2u, exact.files.size());
}

// The table of folders has a bound: an archive of a few thousand entries, each going into
// 120 folders of its own, is refused rather than filling memory.
TEST(ZipExtract, RefusesMoreFoldersThanAnyHonestArchiveHas) {
  std::vector<TestEntry> entries;
  std::string deep;
  for (int level = 0; level < 120; ++level) deep += "f/";
  for (int i = 0; i < 1200; ++i) entries.push_back({std::to_string(i) + "/" + deep + "x", "", 0});
  MemorySink sink;
  EXPECT_EQ(ZIP_REFUSED, Extract(MakeZip(entries), &sink));
  EXPECT_NE(std::string::npos, AllText(sink).find("(archive): too many folders"));
  entries.resize(1000);  // 121,000 folders
  MemorySink fits;
  EXPECT_EQ(ZIP_OK, Extract(MakeZip(entries), &fits));
  EXPECT_EQ(1000u, fits.files.size());
}

TEST(ZipExtract, Utf8NamesAreDecodedAndConvertedOrRefused) {
  const int kUtf8 = 0x0800;
  {
    MemorySink sink;
    TestEntry e{"caf\xc3\xa9/na\xc3\xafve.txt", "x", 8, false, kUtf8};
    EXPECT_EQ(ZIP_OK, ExtractLatin1(MakeZip({e}), &sink)) << AllText(sink);
    EXPECT_EQ("x", sink.files["caf\xe9/na\xefve.txt"]);
    EXPECT_NE(std::string::npos, AllText(sink).find("inflating: caf\xe9/na\xefve.txt\n"));
  }
  struct Case {
    const char *what;
    TestEntry entry;
    bool latin1;
    const char *message;
  } cases[] = {
      {"no converter", {"caf\xc3\xa9", "x", 8, false, kUtf8}, false,
       "caf<U+00E9>: name has characters that this system's code page cannot hold"},
      {"not in the code page", {"\xe6\x97\xa5\xf0\x9f\x98\x80.txt", "x", 8, false, kUtf8}, true,
       "<U+65E5><U+1F600>.txt: name has characters"},
      {"malformed", {"bad\xc0\xaf.txt", "x", 8, false, kUtf8}, true,
       "bad??.txt: name is not valid UTF-8"},
      {"overlong slash", {"a\xe0\x80\xaf..\xe0\x80\xafx", "x", 8, false, kUtf8}, true,
       "not valid UTF-8"},
      {"superscript device", {"sub/COM\xc2\xb9.txt", "x", 8, false, kUtf8}, false,
       "sub/COM<U+00B9>.txt: reserved device name"},
      {"device after conversion", {"LPT\xc2\xb2", "x", 8, false, kUtf8}, true,
       "reserved device name"},
  };
  for (Case &c : cases) {
    MemorySink sink;
    std::string zip = MakeZip({{"ok", "1", 8}, c.entry});
    int result = c.latin1 ? ExtractLatin1(zip, &sink) : Extract(zip, &sink);
    EXPECT_EQ(ZIP_REFUSED, result) << c.what;
    EXPECT_EQ(0, sink.opened) << c.what;
    EXPECT_NE(std::string::npos, AllText(sink).find(c.message)) << c.what << "\n" << AllText(sink);
  }
}

TEST(ZipExtract, UnicodePathFieldNamesTheEntryOnlyWhenItAgrees) {
  const int kUtf8 = 0x0800;
  std::string oem = "caf\x82.txt";  // the header's name in another code page
  TestEntry named{oem, "x", 8};
  named.extra = UnicodePathField(oem, "caf\xc3\xa9.txt");
  MemorySink sink;
  EXPECT_EQ(ZIP_OK, ExtractLatin1(MakeZip({named}), &sink)) << AllText(sink);
  EXPECT_EQ("x", sink.files["caf\xe9.txt"]);

  TestEntry stale = named;  // written for another name
  stale.extra = UnicodePathField("other", "caf\xc3\xa9.txt");
  TestEntry contradicts{"one.txt", "x", 8, false, kUtf8};
  contradicts.extra = UnicodePathField("one.txt", "two.txt");
  TestEntry localDiffers = named;
  localDiffers.localExtra = UnicodePathField(oem, "cafe.txt");
  TestEntry localOnly{oem, "x", 8};
  localOnly.localExtra = named.extra;
  struct Case {
    const char *what;
    TestEntry entry;
    const char *message;
  } cases[] = {
      {"stale", stale, "Unicode path field does not match the name"},
      {"contradicts", contradicts, "Unicode path field contradicts the UTF-8 name"},
      {"local differs", localDiffers, "local header does not match"},
      {"local only", localOnly, "local header does not match"},
  };
  for (Case &c : cases) {
    MemorySink refused;
    EXPECT_EQ(ZIP_REFUSED, ExtractLatin1(MakeZip({c.entry}), &refused)) << c.what;
    EXPECT_NE(std::string::npos, AllText(refused).find(c.message)) << c.what << "\n"
                                                                    << AllText(refused);
  }
}

// With a data descriptor the local header may give CRC and sizes, or zeros.
TEST(ZipExtract, LocalHeaderOfADescribedEntryMayGiveItsValues) {
  TestLayout layout;
  std::string zip = MakeZip({{"d", "data", 8, true}}, &layout);
  memcpy(&zip[layout.local[0] + 14], &zip[layout.central[0] + 16], 12);
  MemorySink sink;
  EXPECT_EQ(ZIP_OK, Extract(zip, &sink)) << AllText(sink);
}

TEST(ZipExtract, DirectoryThatCannotBeMadeFailsItsEntries) {
  MemorySink sink;
  sink.failDirectory = "locked";
  std::string zip = MakeZip({{"locked/a", "a", 8}, {"free/b", "b", 8}});
  EXPECT_EQ(ZIP_ENTRY_FAILED, Extract(zip, &sink));
  EXPECT_EQ("b", sink.files["free/b"]);
  EXPECT_NE(std::string::npos, AllText(sink).find("locked/a: refused by the test sink"));
}

}  // namespace

namespace {

// An archive of one stored entry of 2.5 GB of zeros, produced on demand: sizes and offsets
// beyond 2^31 must not be treated as negative anywhere.
struct HugeSource {
  std::string head, tail;  // local header + name; central directory + end record
  uint64_t dataSize;
};

TEST(ZipExtract, EntriesBeyondTwoGigabytesStreamThrough) {
  HugeSource huge;
  huge.dataSize = 2500ull * 1024 * 1024;
  std::vector<char> zeros(1 << 20, 0);
  uLong crc = crc32(0, Z_NULL, 0);
  for (uint64_t done = 0; done < huge.dataSize; done += zeros.size())
    crc = crc32(crc, (const Bytef *)zeros.data(), (uInt)zeros.size());
  TestLayout layout;
  std::string small = MakeZip({{"huge.bin", "", 0}}, &layout);
  huge.head = small.substr(0, layout.data[0]);
  huge.tail = small.substr(layout.centralStart);
  for (size_t at : {(size_t)14, (size_t)18, (size_t)22}) Put32(huge.head, at, (uint32_t)huge.dataSize);
  Put32(huge.head, 14, (uint32_t)crc);
  size_t central = 0, end = layout.end - layout.centralStart;
  Put32(huge.tail, central + 16, (uint32_t)crc);
  Put32(huge.tail, central + 20, (uint32_t)huge.dataSize);
  Put32(huge.tail, central + 24, (uint32_t)huge.dataSize);
  Put32(huge.tail, end + 16, (uint32_t)(huge.head.size() + huge.dataSize));

  ZipSource source;
  source.context = &huge;
  source.size = huge.head.size() + huge.dataSize + huge.tail.size();
  source.read = [](void *c, uint64_t offset, void *buffer, uint32_t count) {
    const HugeSource *h = (const HugeSource *)c;
    char *out = (char *)buffer;
    for (uint32_t i = 0; i < count;) {
      uint64_t at = offset + i;
      if (at < h->head.size()) {
        out[i++] = h->head[at];
      } else if (at < h->head.size() + h->dataSize) {
        uint64_t run = std::min<uint64_t>(h->head.size() + h->dataSize - at, count - i);
        memset(out + i, 0, run);
        i += (uint32_t)run;
      } else if (at - h->head.size() - h->dataSize < h->tail.size()) {
        out[i++] = h->tail[at - h->head.size() - h->dataSize];
      } else {
        return 1;
      }
    }
    return 0;
  };
  struct Counter {
    uint64_t bytes = 0;
    int committed = 0;
  } counter;
  ZipSink sink = SinkFor(nullptr);
  sink.context = &counter;
  sink.print = [](void *, const char *, int) {};
  sink.openFile = [](void *, const ZipEntryInfo *, uint32_t *) { return 0; };
  sink.writeFile = [](void *c, const void *, uint32_t count) {
    ((Counter *)c)->bytes += count;
    return 0;
  };
  sink.closeFile = [](void *, const ZipEntryInfo *) { return 0; };
  sink.nameFile = [](void *c, uint32_t, const ZipEntryInfo *) {
    ++((Counter *)c)->committed;
    return 0;
  };
  ZipOptions options = Defaults();
  EXPECT_EQ(ZIP_OK, ZipExtract(&source, &sink, &options));
  EXPECT_EQ(huge.dataSize, counter.bytes);
  EXPECT_EQ(1, counter.committed);
}

}  // namespace
