// The archives at the edges of the format (tests/support/edge_archives.cpp) through the real
// wizunz32.dll under Wine: what it leaves on drive C: and what it reports.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "edge_archives.h"
#include "installer_block.h"

namespace {

std::string Contents(const std::string &path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  std::string bytes;
  char buffer[4096];
  DWORD got = 0;
  while (file != INVALID_HANDLE_VALUE && ReadFile(file, buffer, sizeof buffer, &got, nullptr) &&
         got > 0)
    bytes.append(buffer, got);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return bytes;
}

// What a folder holds, as the table gives it: folders "d/", files "d/name=data".
void Collect(const std::string &folder, const std::string &prefix, std::vector<std::string> *tree) {
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &found);
  for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileA(find, &found)) {
    std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      tree->push_back(prefix + name + "/");
      Collect(folder + "\\" + name, prefix + name + "/", tree);
    } else {
      tree->push_back(prefix + name + "=" + Contents(folder + "\\" + name));
    }
  }
  if (find != INVALID_HANDLE_VALUE) FindClose(find);
}

TEST(UnzipDllEdges, ReadsOrRefusesEdgeArchives) {
  std::string error;
  ASSERT_EQ(0, LoadUnzip(&error)) << error;
  const std::string root = "C:\\edges";
  CreateDirectoryA(root.c_str(), nullptr);
  int number = 0;
  for (const EdgeArchive &c : EdgeArchives()) {
    std::string folder = root + "\\" + std::to_string(number++), out = folder + "\\out";
    std::string archive = folder + "\\archive.zip";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr) && CreateDirectoryA(out.c_str(), nullptr));
    HANDLE file = CreateFileA(archive.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, c.zip.data(), (DWORD)c.zip.size(), &written, nullptr)) << c.what;
    CloseHandle(file);
    ASSERT_TRUE(SetCurrentDirectoryA(out.c_str()));
    UnzipCall call = RunUnzip(archive.c_str());
    SetCurrentDirectoryA(root.c_str());
    EXPECT_EQ(c.result, call.result) << c.what << "\n" << call.Text();
    std::vector<std::string> tree;
    Collect(out, "", &tree);
    std::sort(tree.begin(), tree.end());
    EXPECT_EQ(c.tree, tree) << c.what;
    if (c.result != 0) {
      EXPECT_NE(std::string::npos, call.Text().find(c.message)) << c.what << "\n" << call.Text();
    }
  }
}

}  // namespace
