// setup.exe run from drive A: as by a user with one floppy drive: when it asks for an
// archive, the user takes the disk out and puts in the one that README.TXT lists for it.
// And from drive D:, the CD, which holds every disk's files in one folder.
#include <gtest/gtest.h>

#include <algorithm>

#include "resource.h"
#include "robot.h"
#include "wine_files.h"

// Drive A: is the floppy drive; drive M: holds the media folders disk1\ disk2\ disk3\,
// made by scripts/make-media from the distribution files beside this program; drive D:
// holds the files of its CD image, as another reader took them out of the image.
static const char Floppy[] = "A:";
static const char Cd[] = "D:";
static const char Media[] = "M:\\";
static const char Prompt[] = "Tabrin Install - Missing ZIP file";

static std::vector<std::string> FilesIn(const std::string &folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

static std::string DiskFolder(int number)
{
    return std::string(Media) + "disk" + std::to_string(number) + "\\";
}

// Takes the disk in drive A: out and puts disk `number` in. The floppy drive is outside
// Wine (tests/media/lay-out-media): Wine keeps the running setup.exe from being deleted.
static void InsertDisk(int number)
{
    std::string request = std::string(Media) + "insert";
    ASSERT_TRUE(WriteWholeFile(request + ".new", std::to_string(number)));
    ASSERT_TRUE(MoveFileA((request + ".new").c_str(), request.c_str()));
    for (int tick = 0; tick < 100 && FileExists(request); tick++)
        Sleep(50);
    ASSERT_FALSE(FileExists(request)) << "the floppy drive did not change the disk";
    auto names = FilesIn(std::string(Floppy) + "\\");
    std::sort(names.begin(), names.end());
    auto expected = FilesIn(DiskFolder(number));
    std::sort(expected.begin(), expected.end());
    ASSERT_FALSE(expected.empty()) << "disk " << number << " is empty";
    EXPECT_EQ(names, expected) << "disk " << number << " is not in the drive";
}

// The disk that holds a file, as README.TXT lists it; 0 when none does.
static int DiskHolding(const std::string &name)
{
    for (int number = 1; number <= 3; number++) {
        if (FileExists(DiskFolder(number) + name))
            return number;
    }
    return 0;
}

// The disk prompt, answered with OK and the path unchanged once the disk that holds the
// archive is in the drive. Each prompted path is added to asked.
static UserAction ChangeDisk(std::vector<std::string> *asked, std::function<void()> then = {})
{
    UserAction action = {Prompt, IDOK};
    action.meanwhile = [asked, then] {
        std::string path = ControlText(RobotWindow, IDC_EDIT_TEXT);
        asked->push_back(path);
        int disk = DiskHolding(path.substr(path.rfind('\\') + 1));
        ASSERT_NE(disk, 0) << path << " is on no disk";
        InsertDisk(disk);
        if (then)
            then();
    };
    return action;
}

// Watches the progress window, keeps its log and closes it once "unzip error" ends it.
static UserAction CloseAfterError(std::string *log)
{
    UserAction action = WatchProgress;
    action.meanwhile = [log] {
        if (EndsInUnzipError(*log))
            return;  // closed already: the window may be on its way out, its text with it
        *log = ControlText(RobotWindow, IDC_PROGRESS_LOG);
        if (EndsInUnzipError(*log))
            PostMessageA(RobotWindow, WM_COMMAND, IDCANCEL, 0);
    };
    return action;
}

// Damages an archive as a bad sector would: bytes in the middle of its first entry's data.
// Returns the entry's name.
static std::string Damage(const std::string &path)
{
    std::string bytes = ReadWholeFile(path);
    if (bytes.size() < 30)
        return "";
    auto field = [&](size_t at) { return (unsigned char)bytes[at] | (unsigned char)bytes[at + 1] << 8; };
    size_t nameLength = field(26), data = 30 + nameLength + field(28);
    size_t packed = field(18) | (size_t)field(20) << 16;
    for (size_t i = 0; i < 4 && data + packed / 2 + i < bytes.size(); i++)
        bytes[data + packed / 2 + i] ^= 0x5A;
    WriteWholeFile(path, bytes);
    return bytes.substr(30, nameLength);
}

class DiskSwapTest : public testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(WaitForProgramManager()); }
    void SetUp() override
    {
        RemoveTree("c:\\cvtools");
        InsertDisk(1);
    }
};

static const std::vector<std::string> ViewerFiles = {"tabrin\\tabrin32.exe", "tabrin\\README.TXT"};
static const std::vector<std::string> InitFiles = {"cv4.03\\cv_init.ps", "cv4.03\\PUBLIC"};
static const std::vector<std::string> LaterFiles = {
    "cv4.03\\cvdll32.dll", "cv4.03\\cvwin32.exe", "cv4.03\\fonts\\Fontmap",
    "cv4.03\\fonts\\sample01.pfb"};

static void ExpectInstalled(const std::vector<std::string> &files, bool installed)
{
    for (const auto &file : files)
        EXPECT_EQ(FileExists("c:\\cvtools\\" + file), installed) << file;
}

TEST_F(DiskSwapTest, EachDiskIsInsertedWhenAsked)
{
    std::vector<std::string> asked;
    auto run = RunSetup(Floppy, "c:\\cvtools", {WatchProgress, ChangeDisk(&asked), ChangeDisk(&asked)}, true);
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(asked, (std::vector<std::string>{"A:\\cv403ini.zip", "A:\\cv403fn1.zip"}));
    EXPECT_EQ(DiskHolding("cv403fn1.zip"), 3);
    ExpectInstalled(ViewerFiles, true);
    ExpectInstalled(InitFiles, true);
    ExpectInstalled(LaterFiles, true);
    EXPECT_FALSE(FileExists("c:\\cvtools\\tabrin\\wizunz32.dll"));
}

TEST_F(DiskSwapTest, CancelAtThePromptKeepsTheViewer)
{
    std::string log;
    auto run = RunSetup(Floppy, "c:\\cvtools",
                        {CloseAfterError(&log), {Prompt, IDCANCEL}, {"Tabrin Install", IDOK}}, true);
    EXPECT_TRUE(run.finished);
    ASSERT_EQ(run.seen.size(), 3u);
    EXPECT_EQ(run.seen[1].Text(IDC_EDIT_TEXT), "A:\\cv403ini.zip");
    EXPECT_EQ(MessageBoxText(run.seen.back()), "Installation aborted\n");
    ExpectInstalled(ViewerFiles, true);
    ExpectInstalled(InitFiles, false);
}

TEST_F(DiskSwapTest, DamagedArchiveOnADiskStopsWithTheLibrarysMessage)
{
    std::vector<std::string> asked;
    std::string log, entry;
    auto damage = [&entry] {
        entry = Damage(std::string(Floppy) + "\\cv403w32.zip");
    };
    auto run = RunSetup(Floppy, "c:\\cvtools",
                        {CloseAfterError(&log), ChangeDisk(&asked, damage), {"Tabrin Install", IDOK}},
                        true);
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(asked, std::vector<std::string>{"A:\\cv403ini.zip"});
    ASSERT_FALSE(entry.empty());
    size_t unzipping = log.find("Unzipping A:\\cv403w32.zip\r\n");
    ASSERT_NE(unzipping, std::string::npos) << log;
    EXPECT_NE(log.find("  error:  " + entry + ": ", unzipping), std::string::npos) << log;
    ASSERT_GE(log.size(), 11u);
    EXPECT_EQ(log.substr(log.size() - 11), "unzip error");
    EXPECT_EQ(MessageBoxText(run.seen.back()), "Installation aborted\n");
    ExpectInstalled(ViewerFiles, true);
    ExpectInstalled(InitFiles, true);
}

TEST_F(DiskSwapTest, FromTheCdNoDiskIsAskedFor)
{
    auto run = RunSetup(Cd, "c:\\cvtools", {WatchProgress}, true);
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_EQ(run.seen.size(), 1u);  // the progress window only: no prompt, no abort message
    ExpectInstalled(ViewerFiles, true);
    ExpectInstalled(InitFiles, true);
    ExpectInstalled(LaterFiles, true);
}
