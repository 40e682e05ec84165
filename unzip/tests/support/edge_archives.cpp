// Test helper: archives at the edges of the format, each with what the library must make of it.
#include "edge_archives.h"

#include "zipwriter.h"

namespace {

const int kExtracted = 0, kRefused = 3;
const uint16_t kMadeOnUnix = (3 << 8) | 20;
const uint32_t kDosDirectory = 0x10;
const uint32_t kUnixDirectory = 040755u << 16, kUnixFile = 0100644u << 16;

// A stub such as a self-extracting program puts before an archive.
const std::string kStub = "MZ" + std::string(998, '\x90');

std::vector<TestEntry> Plain() { return {{"a.txt", "alpha", 8}, {"dir/b.txt", "beta", 0}}; }
const std::vector<std::string> kPlainTree = {"a.txt=alpha", "dir/", "dir/b.txt=beta"};

// The archive's central directory and end record (its comment included).
std::string Directory(const std::string &zip, const TestLayout &layout) {
  return zip.substr(layout.centralStart);
}

std::string Repeated(const std::string &piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

TestEntry WithExtra(const std::string &central, const std::string &local) {
  TestEntry e{"a.txt", "alpha", 8};
  e.extra = central;
  e.localExtra = local;
  return e;
}

TestEntry Marked(const char *name, const char *data, uint16_t madeBy, uint32_t attributes) {
  TestEntry e{name, data, 0};
  e.madeBy = madeBy;
  e.attributes = attributes;
  return e;
}

TestEntry Renamed(const std::string &central, const std::string &local) {
  TestEntry e{"a.txt", "alpha", 8};
  e.extra = central;
  e.localExtra = local;
  return e;
}

// An archive of entries written after first, its offsets counting first.
std::string After(const std::string &first, const std::vector<TestEntry> &entries,
                  const std::string &comment) {
  TestLayout layout;
  std::string zip = MakeZip(entries, &layout, comment);
  for (size_t i = 0; i < entries.size(); ++i)
    Put32(zip, layout.central[i] + 42, (uint32_t)(first.size() + layout.local[i]));
  Put32(zip, layout.end + 16, (uint32_t)(first.size() + layout.centralStart));
  return first + zip;
}

}  // namespace

std::vector<EdgeArchive> EdgeArchives() {
  TestLayout layout;
  std::string plain = MakeZip(Plain(), &layout);
  std::string commented = MakeZip(Plain(), nullptr, "a comment");
  std::string other = MakeZip({{"evil.txt", "evil", 0}});
  std::string field = ExtraField(0x5455, "\x01" "abcd");

  // One entry's offset already counts the stub: behind the stub it is looked for too far on.
  std::string oneUnshifted = kStub + plain;
  Put32(oneUnshifted, kStub.size() + layout.central[1] + 42,
        (uint32_t)(kStub.size() + layout.local[1]));
  // A copy of the directory between it and the end record, which still gives the first.
  std::string twoDirectories = plain.substr(0, layout.end) +
                               plain.substr(layout.centralStart, layout.end - layout.centralStart) +
                               plain.substr(layout.end);
  std::string damaged = plain;
  damaged[layout.centralStart] = 'X';
  std::string one = UnicodePathField("a.txt", "one.txt");
  std::string two = UnicodePathField("a.txt", "two.txt");
  std::string stale = UnicodePathField("other", "one.txt");
  // A copy of the plain archive's end record, whose comment runs past the end of the file.
  std::string runsPast = plain.substr(layout.end);
  Put16(runsPast, 20, 100);
  // An archive in the first entry of another, whose end record's comment runs one byte past
  // the end of the file.
  std::string inner = MakeZip({{"file", "inner", 0}});
  TestLayout outerLayout;
  std::string outer = MakeZip({{"inner.zip", inner, 0}, {"FILE", "outer", 0}}, &outerLayout, "c");
  Put16(outer, outerLayout.end + 20, 2);

  return {
      {"bytes after the end record", plain + std::string(100, '\0'), kExtracted, kPlainTree, ""},
      {"filler after a comment", commented + std::string(128, '\x1a'), kExtracted, kPlainTree, ""},
      {"stub before the archive", kStub + plain, kExtracted, kPlainTree, ""},
      {"stub and bytes after", kStub + plain + "\r\n", kExtracted, kPlainTree, ""},
      {"a second archive after the first", plain + other, kRefused, {},
       "more than one end of central directory record"},
      {"a second directory and end record after", plain + Directory(plain, layout) + "\r\n",
       kRefused, {}, "more than one end of central directory record"},
      {"an archive hidden in the comment", MakeZip(Plain(), nullptr, other + " more text"),
       kRefused, {},
       "more than one end of central directory record"},
      {"seventeen end records and bytes after", plain + Repeated(plain.substr(layout.end), 17) + "\r\n",
       kRefused, {}, "too many end of central directory records"},
      {"damaged directory and bytes after", damaged + "xyz", kRefused, {},
       "no end of central directory record"},
      {"stub, one offset already shifted", oneUnshifted, kRefused, {},
       "dir/b.txt: local header missing"},
      {"directory where recorded and before the end", twoDirectories, kRefused, {},
       "two central directories"},
      {"central field claims 12 bytes where 11 remain",
       MakeZip({WithExtra(std::string("\x55\x54\x0c\x00", 4) + std::string(11, 'x'), "")}),
       kRefused, {}, "a.txt: an extra field of the central header runs past the end"},
      {"zero-length field, then a field of 13,121 bytes",
       MakeZip({WithExtra(ExtraField(0x0001, "") + "ZZA3" + "xyz", "")}), kRefused, {},
       "a.txt: an extra field of the central header runs past the end"},
      {"local field overruns",
       MakeZip({WithExtra(field, field.substr(0, field.size() - 1))}), kRefused, {},
       "a.txt: an extra field of the local header runs past the end"},
      {"padding after the last field",
       MakeZip({WithExtra(field + std::string(3, '\0'), field + std::string(3, '\0'))}),
       kExtracted, {"a.txt=alpha"}, ""},
      {"folder by the MS-DOS attribute",
       MakeZip({Marked("abc", "", 20, kDosDirectory), {"abc/def/foo", "foo", 8}}), kExtracted,
       {"abc/", "abc/def/", "abc/def/foo=foo"}, ""},
      {"folder by a Unix mode",
       MakeZip({Marked("unixdir", "", kMadeOnUnix, kUnixDirectory), {"unixdir/x", "x", 8}}),
       kExtracted, {"unixdir/", "unixdir/x=x"}, ""},
      {"folder attribute on data", MakeZip({Marked("abc", "data", 20, kDosDirectory)}), kRefused,
       {}, "abc: marked as a folder but holds data"},
      {"Unix file mode over the MS-DOS attribute",
       MakeZip({Marked("abc", "", kMadeOnUnix, kUnixFile | kDosDirectory), {"abc/x", "x", 8}}),
       kRefused, {}, "abc/x: its folder has the same name on Windows as abc"},
      // What other readers read differently: a second Unicode path field (valid or not), a
      // folder's name on data, any end record after the one that ends the archive.
      {"two Unicode path fields", MakeZip({Renamed(one + two, one + two)}), kRefused, {},
       "a.txt: more than one Unicode path field in the central header"},
      {"a valid and an invalid Unicode path field", MakeZip({Renamed(one + stale, one)}),
       kRefused, {}, "a.txt: more than one Unicode path field in the central header"},
      {"two Unicode path fields in a local header, after a file in a folder",
       MakeZip({{"dir/b.txt", "beta", 0}, Renamed(one, one + two)}), kRefused, {},
       "one.txt: more than one Unicode path field in the local header"},
      {"a name ending in a backslash, with data", MakeZip({{"test\\", "data", 0}}), kRefused, {},
       "test\\: name ends in \\ but the entry holds data"},
      {"a name ending in a slash, with data", MakeZip({{"test/", "data", 8}}), kRefused, {},
       "test/: name ends in / but the entry holds data"},
      {"three end records, the middle one reaching the end",
       After(plain, {{"evil.txt", "evil", 0}}, plain.substr(layout.end) + "x"), kRefused, {},
       "more than one end of central directory record"},
      {"an end record after the last, its comment past the end",
       After(plain, {{"evil.txt", "evil", 0}}, runsPast + "x"), kRefused, {},
       "more than one end of central directory record"},
      {"an archive in an entry, the outer comment one byte too long", outer, kRefused, {},
       "more than one end of central directory record"},
  };
}
