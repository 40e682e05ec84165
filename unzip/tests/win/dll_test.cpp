// Tests of the real wizunz32.dll under Wine, called as the installer calls it, on drive C:.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "installer_block.h"
#include "windows95_kernel.h"
#include "zipwriter.h"

namespace {

const char kRoot[] = "C:\\unztest";

void WriteBytes(const std::string &path, const std::string &bytes) {
  FILE *f = fopen(path.c_str(), "wb");
  ASSERT_NE(nullptr, f) << path;
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

bool ReadBytes(const std::string &path, std::string *bytes) {
  FILE *f = fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  bytes->clear();
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes->append(buffer, n);
  fclose(f);
  return true;
}

bool Exists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Names of everything in a directory tree, relative to it, directories with a trailing '\'.
void ListTree(const std::string &dir, const std::string &prefix, std::vector<std::string> *out) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      out->push_back(prefix + name + "\\");
      ListTree(dir + "\\" + name, prefix + name + "\\", out);
    } else {
      out->push_back(prefix + name);
    }
  } while (FindNextFileA(find, &data));
  FindClose(find);
}

std::vector<std::string> Tree(const std::string &dir) {
  std::vector<std::string> names;
  ListTree(dir, "", &names);
  std::sort(names.begin(), names.end());
  return names;
}

// A fresh case directory C:\unztest\<name> holding the archive and an empty "out" directory
// that becomes current for the call, as the installer makes the destination current.
struct Case {
  std::string dir, out, archive;
};

Case Prepare(const std::string &name, const std::string &zip) {
  Case c;
  c.dir = std::string(kRoot) + "\\" + name;
  c.out = c.dir + "\\out";
  c.archive = c.dir + "\\archive.zip";
  CreateDirectoryA(kRoot, nullptr);
  CreateDirectoryA(c.dir.c_str(), nullptr);
  CreateDirectoryA(c.out.c_str(), nullptr);
  WriteBytes(c.archive, zip);
  return c;
}

UnzipCall RunIn(const Case &c, const std::vector<std::pair<int, DWORD>> &settings = {}) {
  char saved[MAX_PATH];
  GetCurrentDirectoryA(sizeof saved, saved);
  EXPECT_TRUE(SetCurrentDirectoryA(c.out.c_str()));
  UnzipCall call = RunUnzip(c.archive.c_str(), settings);
  SetCurrentDirectoryA(saved);
  // What the installer needs of every piece: sent on its own thread, whole lines, small
  // enough for its log after line feeds become CR LF.
  EXPECT_FALSE(call.otherThread);
  EXPECT_FALSE(call.pieces.empty());
  for (const std::string &piece : call.pieces) {
    EXPECT_FALSE(piece.empty());
    EXPECT_EQ('\n', piece.back()) << piece;
    EXPECT_LT(piece.size() + std::count(piece.begin(), piece.end(), '\n'), 1024u) << piece;
  }
  return call;
}

std::vector<std::string> Lines(const UnzipCall &call) {
  std::vector<std::string> lines;
  std::string text = call.Text();
  for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start + 1));
  return lines;
}

// With --windows95 every test runs with the library's KERNEL32 calls behaving as on
// Windows 95, where Wine is more forgiving.
bool OnWindows95() { return strstr(GetCommandLineA(), " --windows95") != nullptr; }

class UnzipDll : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string error;
    ASSERT_EQ(0, LoadUnzip(&error)) << error;
    if (OnWindows95()) {
      std::vector<std::string> cannotRun = EmulateWindows95Kernel(GetModuleHandleA("wizunz32.dll"));
      EXPECT_EQ(std::vector<std::string>{}, cannotRun);
    }
  }
};

TEST_F(UnzipDll, ReportsVersionOnePointZero) { EXPECT_EQ(0x00010000u, UnzipVersion()); }

TEST_F(UnzipDll, ExtractsTheTreeWithBytesAndTimes) {
  std::string big = RandomBytes(400000, 3) + std::string(3000000, 'b');
  TestEntry font{"cv4.03/fonts/a.pfb", "font bytes\x00\x01\x02", 8};
  TestEntry streamed{"cv4.03/cvdll32.dll", big, 8, true};
  Case c = Prepare("tree", MakeZip({{"cv4.03/", "", 0}, font, {"cv4.03/README", "read me\r\n", 0},
                                    streamed, {"top.txt", "", 0}}));
  UnzipCall call = RunIn(c);
  ASSERT_EQ(0, call.result) << call.Text();
  EXPECT_EQ((std::vector<std::string>{"cv4.03\\", "cv4.03\\README", "cv4.03\\cvdll32.dll",
                                      "cv4.03\\fonts\\", "cv4.03\\fonts\\a.pfb", "top.txt"}),
            Tree(c.out));
  std::string bytes;
  ASSERT_TRUE(ReadBytes(c.out + "\\cv4.03\\fonts\\a.pfb", &bytes));
  EXPECT_EQ(font.data, bytes);
  ASSERT_TRUE(ReadBytes(c.out + "\\cv4.03\\cvdll32.dll", &bytes));
  EXPECT_TRUE(bytes == big);

  HANDLE h = CreateFileA((c.out + "\\cv4.03\\README").c_str(), GENERIC_READ, FILE_SHARE_READ,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  FILETIME written, local;
  WORD date = 0, time = 0;
  ASSERT_TRUE(GetFileTime(h, nullptr, nullptr, &written));
  CloseHandle(h);
  FileTimeToLocalFileTime(&written, &local);
  FileTimeToDosDateTime(&local, &date, &time);
  EXPECT_EQ(font.dosDate, date);
  EXPECT_EQ(font.dosTime, time);

  std::vector<std::string> lines = Lines(call);
  ASSERT_EQ(6u, lines.size());
  EXPECT_EQ("  inflating: cv4.03/fonts/a.pfb\n", lines[1]);
  EXPECT_EQ("  4 files and 1 directories extracted\n", lines.back());
}

// The installer redraws its log after every piece, so lines travel in batches: far fewer
// pieces than lines, every line whole and in order.
TEST_F(UnzipDll, PassesManyLinesInFewPieces) {
  std::vector<TestEntry> entries;
  std::string expected;
  for (int i = 0; i < 300; ++i) {
    char name[32];
    snprintf(name, sizeof name, "dir/file%03d.txt", i);
    entries.push_back({name, std::string(name) + " data", i % 2 ? 8 : 0});
    expected += std::string(i % 2 ? "  inflating: " : " extracting: ") + name + "\n";
  }
  Case c = Prepare("batched", MakeZip(entries));
  UnzipCall call = RunIn(c);
  ASSERT_EQ(0, call.result) << call.Text();
  EXPECT_EQ(expected + "  300 files and 0 directories extracted\n", call.Text());
  EXPECT_LT(call.pieces.size() * 4, 301u);
}

// A large entry takes a while: its line goes out while it is being written, not with the
// closing line at the end.
TEST_F(UnzipDll, ShowsTheLineOfALargeEntryBeforeItIsDone) {
  Case c = Prepare("slow", MakeZip({{"small.txt", "small", 8},
                                    {"big.bin", std::string(256 << 20, '\0'), 8}}));
  UnzipCall call = RunIn(c);
  ASSERT_EQ(0, call.result) << call.Text();
  ASSERT_EQ(2u, call.pieces.size()) << call.Text();
  EXPECT_EQ("  inflating: small.txt\n  inflating: big.bin\n", call.pieces[0]);
  EXPECT_EQ("  2 files and 0 directories extracted\n", call.pieces[1]);
  DeleteFileA((c.out + "\\big.bin").c_str());
}

TEST_F(UnzipDll, ReplacesExistingFilesEvenReadOnlyOnes) {
  Case c = Prepare("overwrite", MakeZip({{"a.txt", "new", 8}, {"d/b.txt", "new b", 0}}));
  WriteBytes(c.out + "\\a.txt", "old contents");
  SetFileAttributesA((c.out + "\\a.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  CreateDirectoryA((c.out + "\\d").c_str(), nullptr);
  WriteBytes(c.out + "\\d\\b.txt", "old b");
  UnzipCall call = RunIn(c);
  ASSERT_EQ(0, call.result) << call.Text();
  std::string bytes;
  ReadBytes(c.out + "\\a.txt", &bytes);
  EXPECT_EQ("new", bytes);
  ReadBytes(c.out + "\\d\\b.txt", &bytes);
  EXPECT_EQ("new b", bytes);
  EXPECT_EQ((std::vector<std::string>{"a.txt", "d\\", "d\\b.txt"}), Tree(c.out));

  // Offset 32 = 0 keeps what is there.
  WriteBytes(c.out + "\\d\\b.txt", "kept");
  call = RunIn(c, {{32, 0}});
  ASSERT_EQ(0, call.result) << call.Text();
  ReadBytes(c.out + "\\d\\b.txt", &bytes);
  EXPECT_EQ("kept", bytes);
}

// Every entry name that could reach outside the destination, or that Windows would turn into
// a device or another name: the archive is refused and nothing at all is written.
TEST_F(UnzipDll, RefusesUnsafeNamesAndWritesNothing) {
  const char *names[] = {"../evil.txt",     "..\\evil.txt", "sub/../../evil.txt",
                         "C:/unztest/evil.txt", "/unztest/evil.txt", "\\\\localhost\\C$\\unztest\\evil.txt",
                         "con.txt",         "AUX",          "sub/lpt1.log",
                         "README.",         "dir /x.txt",   "a:b.txt",
                         "clock$",          "sub/CLOCK$.log", "COM\xb9.txt",
                         "lpt\xb2",         "LPT0.txt"};
  int i = 0;
  for (const char *name : names) {
    Case c = Prepare("unsafe" + std::to_string(i++),
                     MakeZip({{"good.txt", "good", 8}, {name, "evil", 0}}));
    UnzipCall call = RunIn(c);
    EXPECT_EQ(3, call.result) << name;
    EXPECT_TRUE(Tree(c.out).empty()) << name;
    EXPECT_FALSE(Exists(c.dir + "\\evil.txt")) << name;
    EXPECT_FALSE(Exists(std::string(kRoot) + "\\evil.txt")) << name;
    EXPECT_NE(std::string::npos, call.Text().find("archive refused: nothing extracted")) << name;
  }
}

// The 8.3 alias that the volume under path's directory gives a long name, found by making
// such a file in a scratch directory there; empty when the volume makes no aliases.
std::string AliasOf(const std::string &directory, const std::string &longName) {
  std::string scratch = directory + "\\alias-probe";
  CreateDirectoryA(scratch.c_str(), nullptr);
  std::string path = scratch + "\\" + longName;
  CreateDirectoryA(path.c_str(), nullptr);
  char alias[MAX_PATH] = "";
  DWORD n = GetShortPathNameA(path.c_str(), alias, sizeof alias);
  RemoveDirectoryA(path.c_str());
  RemoveDirectoryA(scratch.c_str());
  const char *last = strrchr(alias, '\\');
  if (n == 0 || n >= sizeof alias || last == nullptr || longName == last + 1) return "";
  return last + 1;
}

// Names alike in the archive (letter case in the ANSI code page, '/' and '\'): refused before
// anything is written.
TEST_F(UnzipDll, RefusesEntriesThatAreOneFileBeforeWriting) {
  const std::vector<std::vector<TestEntry>> archives = {
      {{"Dir/Read.Me", "1", 8}, {"dir/READ.ME", "2", 8}},
      {{"\xe9t\xe9.txt", "1", 8}, {"\xc9T\xc9.TXT", "2", 8}},  // ANSI letters beyond ASCII
      {{"x/y", "1", 8}, {"x\\y", "2", 8}},
      {{"caf\xe9", "1", 8}, {"CAF\xc3\x89", "2", 8, false, 0x0800}},  // ANSI and UTF-8
  };
  int i = 0;
  for (const std::vector<TestEntry> &entries : archives) {
    Case c = Prepare("clash" + std::to_string(i++), MakeZip(entries));
    UnzipCall call = RunIn(c);
    EXPECT_EQ(3, call.result) << call.Text();
    EXPECT_TRUE(Tree(c.out).empty()) << call.Text();
    EXPECT_NE(std::string::npos, call.Text().find("same name on Windows as")) << call.Text();
  }
}

// A name that the volume resolves to a file or folder this extraction made (its 8.3 alias)
// fails that entry and keeps the first; an earlier installation's file is still replaced.
TEST_F(UnzipDll, AnAliasOfWhatThisExtractionWroteFailsThatEntry) {
  std::string fileAlias = AliasOf(kRoot, "longfilename.txt");
  std::string folderAlias = AliasOf(kRoot, "longfoldername");
  if (fileAlias.empty() || folderAlias.empty()) GTEST_SKIP() << "the volume makes no 8.3 aliases";

  Case file = Prepare("alias-file", MakeZip({{"longfilename.txt", "first", 8},
                                             {fileAlias, "second", 8}, {"after.txt", "x", 0}}));
  UnzipCall call = RunIn(file);
  EXPECT_EQ(2, call.result) << call.Text();
  std::string bytes;
  ASSERT_TRUE(ReadBytes(file.out + "\\longfilename.txt", &bytes));
  EXPECT_EQ("first", bytes);
  EXPECT_EQ((std::vector<std::string>{"after.txt", "longfilename.txt"}), Tree(file.out));
  EXPECT_NE(std::string::npos,
            call.Text().find(fileAlias + ": the name leads to a file that another entry"))
      << call.Text();

  Case folder = Prepare("alias-folder", MakeZip({{"longfoldername/", "", 0},
                                                 {"longfoldername/a.txt", "a", 8},
                                                 {folderAlias + "/", "", 0},
                                                 {folderAlias + "/b.txt", "b", 8}}));
  call = RunIn(folder);
  EXPECT_EQ(2, call.result) << call.Text();
  EXPECT_EQ((std::vector<std::string>{"longfoldername\\", "longfoldername\\a.txt"}),
            Tree(folder.out));
  EXPECT_NE(std::string::npos,
            call.Text().find(folderAlias + "/: the name is another name of the folder "
                                           "longfoldername that this extraction made"))
      << call.Text();
  EXPECT_NE(std::string::npos, call.Text().find(folderAlias + "/b.txt: the name is another"))
      << call.Text();

  // What an earlier installation (or an earlier archive) left is replaced through its alias.
  Case again = Prepare("alias-earlier", MakeZip({{fileAlias, "new", 8}, {folderAlias + "/c", "c", 8}}));
  WriteBytes(again.out + "\\longfilename.txt", "old");
  CreateDirectoryA((again.out + "\\longfoldername").c_str(), nullptr);
  call = RunIn(again);
  EXPECT_EQ(0, call.result) << call.Text();
  ASSERT_TRUE(ReadBytes(again.out + "\\longfilename.txt", &bytes));
  EXPECT_EQ("new", bytes);
  EXPECT_TRUE(Exists(again.out + "\\longfoldername\\c"));
}

// UTF-8 names become ANSI names where every character fits; a character that Windows would
// only approximate (a best-fit substitute) refuses the archive.
TEST_F(UnzipDll, Utf8NamesAreWrittenInTheAnsiCodePageOrRefused) {
  const int kUtf8 = 0x0800;
  Case c = Prepare("utf8", MakeZip({{"caf\xc3\xa9/na\xc3\xafve.txt", "x", 8, false, kUtf8}}));
  UnzipCall call = RunIn(c);
  ASSERT_EQ(0, call.result) << call.Text();
  ASSERT_EQ(1252u, GetACP());
  EXPECT_EQ((std::vector<std::string>{"caf\xe9\\", "caf\xe9\\na\xefve.txt"}), Tree(c.out));
  EXPECT_NE(std::string::npos, call.Text().find("inflating: caf\xe9/na\xefve.txt\n"));

  const char *refused[] = {"\xe6\x97\xa5\xe6\x9c\xac.txt",  // Japanese
                           "\xc4\x81.txt",                  // a with macron: best fit 'a'
                           "a\xef\xbc\x8f" "b.txt",         // fullwidth solidus: best fit '/'
                           "bad\xc0\xaf.txt",               // overlong '/'
                           "COM\xc2\xb9"};                  // a device once decoded
  int i = 0;
  for (const char *name : refused) {
    Case r = Prepare("utf8-refused" + std::to_string(i++),
                     MakeZip({{"ok.txt", "x", 8}, {name, "y", 8, false, kUtf8}}));
    call = RunIn(r);
    EXPECT_EQ(3, call.result) << name << "\n" << call.Text();
    EXPECT_TRUE(Tree(r.out).empty()) << name;
  }
}

TEST_F(UnzipDll, DamagedEntryLeavesNoFileUnderItsNameNorATemporaryOne) {
  TestLayout layout;
  std::string zip = MakeZip({{"a.txt", "first", 8}, {"sub/bad.bin", std::string(200000, 'x'), 8},
                             {"c.txt", "third", 0}},
                            &layout);
  PutEntryField(zip, layout, 1, 16, 0xdeadbeef);
  Case c = Prepare("damaged", zip);
  WriteBytes(c.out + "\\a.txt", "");  // a file being replaced must not matter
  UnzipCall call = RunIn(c);
  EXPECT_EQ(2, call.result);
  EXPECT_EQ((std::vector<std::string>{"a.txt", "c.txt", "sub\\"}), Tree(c.out));
  EXPECT_NE(std::string::npos, call.Text().find("sub/bad.bin: CRC-32 mismatch"));
  EXPECT_NE(std::string::npos, call.Text().find("1 entries failed; 2 files"));
}

// Replacing a file never leaves its name without either copy: a damaged entry keeps the old
// file, and so does a rename that Windows refuses halfway (moving the old file aside, or
// moving the new one in, after the rename onto the taken name that fails as it should). No
// temporary file stays behind.
TEST_F(UnzipDll, FailedReplacementKeepsTheOldFile) {
  TestLayout layout;
  std::string zip = MakeZip({{"d/a.txt", "new", 8}}, &layout);
  std::string damaged = zip;
  Put32(damaged, layout.local[0] + 14, 0xdeadbeef);
  Put32(damaged, layout.central[0] + 16, 0xdeadbeef);
  struct {
    const char *name;
    const std::string &zip;
    int renamesBeforeRefusal;
  } cases[] = {{"damaged", damaged, -1}, {"aside refused", zip, 1}, {"move in refused", zip, 2}};
  int i = 0;
  for (const auto &k : cases) {
    if (k.renamesBeforeRefusal >= 0 && !OnWindows95()) continue;  // needs the refusing disk
    Case c = Prepare("keepold" + std::to_string(i++), k.zip);
    CreateDirectoryA((c.out + "\\d").c_str(), nullptr);
    WriteBytes(c.out + "\\d\\a.txt", "old contents");
    RefuseRenameAfter(k.renamesBeforeRefusal, ERROR_ACCESS_DENIED);
    UnzipCall call = RunIn(c);
    RefuseRenameAfter(-1, 0);
    EXPECT_EQ(2, call.result) << k.name << ": " << call.Text();
    std::string bytes;
    EXPECT_TRUE(ReadBytes(c.out + "\\d\\a.txt", &bytes)) << k.name;
    EXPECT_EQ("old contents", bytes) << k.name;
    EXPECT_EQ((std::vector<std::string>{"d\\", "d\\a.txt"}), Tree(c.out)) << k.name;
    EXPECT_NE(std::string::npos, call.Text().find("d/a.txt: ")) << k.name;
  }
}

// A file standing where a directory must go: that entry fails with Windows' reason, the
// others are still extracted.
TEST_F(UnzipDll, ReportsWhatWindowsRefuses) {
  Case c = Prepare("blocked", MakeZip({{"blocked/x.txt", "x", 8}, {"ok", "ok", 8}}));
  WriteBytes(c.out + "\\blocked", "a file");
  UnzipCall call = RunIn(c);
  EXPECT_EQ(2, call.result);
  EXPECT_TRUE(Exists(c.out + "\\ok"));
  EXPECT_NE(std::string::npos, call.Text().find("blocked/x.txt: cannot create directory"))
      << call.Text();
}

TEST_F(UnzipDll, MissingOrForeignArchiveIsReported) {
  Case c = Prepare("missing", "this is not a zip archive");
  UnzipCall call = RunIn(c);
  EXPECT_EQ(3, call.result);
  EXPECT_NE(std::string::npos, call.Text().find("not a ZIP archive"));
  DeleteFileA(c.archive.c_str());
  call = RunIn(c);
  EXPECT_EQ(3, call.result);
  EXPECT_NE(std::string::npos, call.Text().find(c.archive + ": cannot open the archive"));
  EXPECT_TRUE(Tree(c.out).empty());
}

TEST_F(UnzipDll, ListsWithoutWritingWhenExtractIsOff) {
  Case c = Prepare("list", MakeZip({{"d/a.txt", "12345", 8}}));
  UnzipCall call = RunIn(c, {{64, 0}});
  EXPECT_EQ(0, call.result);
  EXPECT_TRUE(Tree(c.out).empty());
  EXPECT_NE(std::string::npos, call.Text().find("5  2024-03-15 12:34  d/a.txt\n"));
}

}  // namespace
