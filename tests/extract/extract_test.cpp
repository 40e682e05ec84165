// The unzip library binding and the extraction of one archive, against small libraries
// that stand for the behaviours a real library may show.
#include <gtest/gtest.h>

#include <direct.h>
#include <shlobj.h>

#include "extract.h"
#include "installer.h"
#include "progress.h"
#include "resource.h"
#include "scripted_user.h"
#include "wine_files.h"

static std::string Library(const char *name)
{
    return ProgramDirectory() + name + ".dll";
}

template <typename T> static T *Recorded(const char *name)
{
    return (T *)(void *)GetProcAddress(GetModuleHandleA("unzip_recording.dll"), name);
}

static DWORD Field(const unsigned char *block, int offset)
{
    return *(const DWORD *)(block + offset);
}

class ExtractTest : public testing::Test {
protected:
    void SetUp() override
    {
        InstanceHandle = GetModuleHandleA(NULL);
        memset(&ProgressLog, 0, sizeof ProgressLog);
        InitEnvironment();
        ProgressWindow = ShowProgressWindow();
        ASSERT_NE(ProgressWindow, nullptr);
        RemoveTree("c:\\disk1");
        RemoveTree("c:\\disk2");
        RemoveTree("c:\\target");
        _mkdir("c:\\disk1");
        _mkdir("c:\\disk2");
        _mkdir("c:\\target");
        strcpy(SourceDirectory, "c:\\disk1\\");
        strcpy(ErrorText, "earlier reason");
    }
    void TearDown() override
    {
        UnloadExtractor();
        CloseProgressWindow();
        EXPECT_EQ(CurrentDirectory(), StartDirectory);
    }
    void LoadRecording()
    {
        ASSERT_EQ(LoadExtractor(Library("unzip_recording").c_str(), InstanceHandle, ProgressWindow,
                                0x1234),
                  0);
    }
    std::string Log() { return std::string(ProgressLog.text, ProgressLog.length); }
};

TEST_F(ExtractTest, LibrariesOfTheWrongVersionOrMissingAreRefusedWithTheirMessage)
{
    struct Case {
        const char *library, *message;
    } cases[] = {
        {"unzip_version_1_1", "Wrong version of UNZIP DLL.  Need 1.0.  Found 1.1."},
        {"unzip_version_0_9", "Wrong version of UNZIP DLL.  Need 1.0.  Found 0.9."},
        {"unzip_version_2_0", "Wrong version of UNZIP DLL.  Need 1.0.  Found 2.0."},
        {"absent", nullptr},
    };
    for (const auto &c : cases) {
        std::string path = Library(c.library);
        std::string message = c.message ? c.message : "Cannot find " + path;
        ScriptUser({{"Tabrin Install", IDOK}});
        EXPECT_EQ(LoadExtractor(path.c_str(), InstanceHandle, ProgressWindow, 0), -1);
        auto seen = StopScriptedUser();
        ASSERT_EQ(seen.size(), 1u) << c.library;
        EXPECT_EQ(MessageBoxText(seen[0]), message);
        EXPECT_EQ(seen[0].owner, ProgressWindow);
        EXPECT_EQ(ExtractorControlBlock, nullptr);
        EXPECT_EQ(ExtractorNameBlock, nullptr);
    }
    EXPECT_STREQ(ErrorText, "earlier reason");
}

TEST_F(ExtractTest, LibraryWithoutVersionIsAcceptedWithoutExtractionRefusedSilently)
{
    ScriptUser({});
    EXPECT_EQ(LoadExtractor(Library("unzip_no_process").c_str(), InstanceHandle, ProgressWindow, 0),
              -1);
    EXPECT_EQ(GetModuleHandleA("unzip_no_process.dll"), nullptr);
    EXPECT_EQ(LoadExtractor(Library("unzip_no_version").c_str(), InstanceHandle, ProgressWindow, 0),
              0);
    EXPECT_TRUE(StopScriptedUser().empty());
    EXPECT_EQ(UnloadExtractor(), 0);
    EXPECT_EQ(GetModuleHandleA("unzip_no_version.dll"), nullptr);
    EXPECT_EQ(UnloadExtractor(), 0);
}

TEST_F(ExtractTest, LibraryReceivesTheControlBlockAndNameBlock)
{
    LoadRecording();
    struct Case {
        const char *archive, *directory;
    } cases[] = {
        {"c:\\disk1\\tabrin.zip", "c:\\disk1"},
        {"tabrin.zip", "tabrin.zip"},
        {"c:\\tabrin.zip", "c:"},
    };
    for (const auto &c : cases) {
        char archive[256];
        strcpy(archive, c.archive);
        EXPECT_EQ(RunExtractor(archive), 0);
        const unsigned char *block = Recorded<unsigned char>("RecordedControlBlock");
        const char *names = Recorded<char>("RecordedNameBlock");
        EXPECT_EQ(Field(block, 0), (DWORD)(UINT_PTR)ExtractorPrintCallback);
        EXPECT_EQ(Field(block, 4), (DWORD)(UINT_PTR)ExtractorEmptyCallback);
        EXPECT_EQ(Field(block, 8), (DWORD)(UINT_PTR)stdout);
        EXPECT_EQ(Field(block, 12), (DWORD)(UINT_PTR)ExtractorNameBlock);
        EXPECT_EQ(Field(block, 16), 0x1234u);
        EXPECT_EQ(Field(block, 20), (DWORD)(UINT_PTR)ProgressWindow);
        EXPECT_EQ(Field(block, 24), (DWORD)(UINT_PTR)InstanceHandle);
        const DWORD settings[] = {0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0};  // offsets 28 to 76
        for (int offset = 28; offset <= 76; offset += 4)
            EXPECT_EQ(Field(block, offset), settings[(offset - 28) / 4]) << "offset " << offset;
        EXPECT_EQ(Field(block, 80), (DWORD)(UINT_PTR)archive);  // the caller's own buffer
        EXPECT_EQ(Field(block, 84), 0u);
        EXPECT_STREQ(names, c.archive);
        EXPECT_STREQ(names + 128, c.directory);
        EXPECT_EQ(*Recorded<DWORD>("RecordedThread"), GetCurrentThreadId());
    }
}

// Whether the library was at work when a posted message was dispatched.
static int insideWhenDispatched = -1;

static LRESULT CALLBACK RecordDispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_APP)
        insideWhenDispatched = *Recorded<int>("InsideProcessZipFiles");
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(ExtractTest, OutputReachesTheLogAndTheQueueIsDrainedInsideTheLibrary)
{
    LoadRecording();
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = RecordDispatch;
    windowClass.lpszClassName = "ExtractTestListener";
    RegisterClassA(&windowClass);
    HWND listener = CreateWindowA("ExtractTestListener", "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL,
                                  NULL, NULL);
    PostMessageA(listener, WM_APP, 0, 0);

    EXPECT_EQ(RunExtractor("c:\\disk1\\tabrin.zip"), 0);
    EXPECT_EQ(insideWhenDispatched, 1);
    EXPECT_EQ(*Recorded<int>("RecordedPrintResult"), 41);
    EXPECT_EQ(Log(), "  inflating: readme.txt\r\nno NUL after this");
    DestroyWindow(listener);

    // Nothing appended for an empty piece or one too large for the log; the length
    // comes back either way.
    std::string large(1100, 'x');
    EXPECT_EQ(ExtractorPrintCallback(NULL, 0, "ignored"), 0);
    EXPECT_EQ(ExtractorPrintCallback(NULL, (int)large.size(), large.data()), 1100);
    EXPECT_EQ(Log(), "  inflating: readme.txt\r\nno NUL after this");
}

TEST_F(ExtractTest, ArchiveBesideTheSetupProgramIsExtractedIntoTheDestination)
{
    LoadRecording();
    WriteWholeFile("c:\\disk1\\tabrin.zip", "zip");
    ScriptUser({});
    EXPECT_EQ(ExtractArchive("tabrin.zip", "c:\\target"), 0);
    EXPECT_TRUE(StopScriptedUser().empty());
    EXPECT_STREQ(Recorded<char>("RecordedArchivePath"), "c:\\disk1\\tabrin.zip");
    EXPECT_STREQ(Recorded<char>("RecordedDirectory"), "c:\\target");
    EXPECT_EQ(Log().substr(0, 31), "Unzipping c:\\disk1\\tabrin.zip\r\n");
    EXPECT_STREQ(ErrorText, "earlier reason");
}

TEST_F(ExtractTest, DiskPromptRepeatsUntilAPathOpensAndUsesItVerbatim)
{
    LoadRecording();
    WriteWholeFile("c:\\disk2\\tabrin.zip", "zip");
    const char *title = "Tabrin Install - Missing ZIP file";
    ScriptUser({{title, IDOK},
                {title, IDOK, IDC_EDIT_TEXT, ""},
                {title, IDOK, IDC_EDIT_TEXT, "c:\\disk2\\TABRIN.ZIP"}});
    EXPECT_EQ(ExtractArchive("tabrin.zip", "c:\\target"), 0);
    auto seen = StopScriptedUser();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].Text(IDC_EDIT_TEXT), "c:\\disk1\\tabrin.zip");
    EXPECT_EQ(seen[1].Text(IDC_EDIT_TEXT), "c:\\disk1\\tabrin.zip");
    EXPECT_EQ(seen[2].Text(IDC_EDIT_TEXT), "");
    EXPECT_STREQ(Recorded<char>("RecordedArchivePath"), "c:\\disk2\\TABRIN.ZIP");
    EXPECT_EQ(Log().substr(0, 31), "Unzipping c:\\disk2\\TABRIN.ZIP\r\n");
}

TEST_F(ExtractTest, CancelledPromptTouchesNothing)
{
    LoadRecording();
    int calls = *Recorded<int>("ProcessCalls");
    ScriptUser({{"Tabrin Install - Missing ZIP file", IDCANCEL}});
    EXPECT_EQ(ExtractArchive("cv403w32.zip", "c:\\target"), 1);
    StopScriptedUser();
    EXPECT_STREQ(ErrorText, "");
    EXPECT_EQ(ProgressLog.length, 0);
    EXPECT_EQ(*Recorded<int>("ProcessCalls"), calls);
}

TEST_F(ExtractTest, ClosedProgressWindowAfterSuccessIsACancel)
{
    LoadRecording();
    WriteWholeFile("c:\\disk1\\cancel.zip", "zip");
    EXPECT_EQ(ExtractArchive("cancel.zip", "c:\\target"), -1);
    EXPECT_STREQ(ErrorText, "Unzip cancelled");
    EXPECT_FALSE(IsWindow(ProgressWindow));
}

TEST_F(ExtractTest, LibraryFailureIsPassedOnWithTheReasonUntouched)
{
    LoadRecording();
    WriteWholeFile("c:\\disk1\\corrupt.zip", "zip");
    EXPECT_EQ(ExtractArchive("corrupt.zip", "c:\\target"), 51);
    EXPECT_STREQ(ErrorText, "earlier reason");
}

TEST_F(ExtractTest, DestinationThatCannotBeEnteredLeavesTheCurrentDirectory)
{
    LoadRecording();
    WriteWholeFile("c:\\disk1\\tabrin.zip", "zip");
    EXPECT_EQ(ExtractArchive("tabrin.zip", "c:\\no\\such\\place"), 0);
    EXPECT_STREQ(Recorded<char>("RecordedDirectory"), StartDirectory);
}

TEST_F(ExtractTest, ArchivePathTooLongForTheLibraryIsRefused)
{
    LoadRecording();
    std::string deep = "c:\\disk1\\" + std::string(60, 'd') + "\\" + std::string(60, 'e');
    ASSERT_EQ(SHCreateDirectoryExA(NULL, deep.c_str(), NULL), ERROR_SUCCESS);
    WriteWholeFile(deep + "\\tabrin.zip", "zip");
    strcpy(SourceDirectory, (deep + "\\").c_str());
    int calls = *Recorded<int>("ProcessCalls");
    EXPECT_EQ(ExtractArchive("tabrin.zip", "c:\\target"), 1);
    EXPECT_STREQ(ErrorText, "Path of tabrin.zip is too long for the unzip library");
    EXPECT_EQ(*Recorded<int>("ProcessCalls"), calls);
}
