// The progress window on its real template: the view after a refresh, Copy through the
// real clipboard, and the ways the window closes.
#include <gtest/gtest.h>

#include <string>

#include "installer.h"
#include "progress.h"
#include "resource.h"

class ProgressWindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        InstanceHandle = GetModuleHandleA(NULL);
        memset(&ProgressLog, 0, sizeof ProgressLog);
        window = ShowProgressWindow();
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override { CloseProgressWindow(); }

    void Lines(int count)
    {
        for (int i = 0; i < count; i++)
            LogAppendText(("line " + std::to_string(i) + (i + 1 < count ? "\n" : "")).c_str());
        RefreshProgressLog(window);
    }
    int FirstVisibleLine()
    {
        return (int)SendDlgItemMessageA(window, IDC_PROGRESS_LOG, EM_GETFIRSTVISIBLELINE, 0, 0);
    }
    std::string Clipboard()
    {
        std::string text = "<nothing>";
        if (OpenClipboard(window)) {
            HANDLE data = GetClipboardData(CF_TEXT);
            if (data) {
                text = (const char *)GlobalLock(data);
                GlobalUnlock(data);
            }
            CloseClipboard();
        }
        return text;
    }
    // Runs the messages the dialog manager posted to itself.
    static void Pump()
    {
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    void PressCopy()
    {
        SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_PROGRESS_COPY, BN_CLICKED), 0);
    }

    HWND window = NULL;
};

TEST_F(ProgressWindowTest, ShowsTheLogAndItsLastLines)
{
    char text[64];
    GetWindowTextA(window, text, sizeof text);
    EXPECT_STREQ(text, "Tabrin Install - Unzipping");
    EXPECT_TRUE(IsWindowVisible(window));

    Lines(18);
    EXPECT_EQ(FirstVisibleLine(), 0);

    memset(&ProgressLog, 0, sizeof ProgressLog);
    Lines(40);
    EXPECT_EQ(FirstVisibleLine(), 22);
    GetDlgItemTextA(window, IDC_PROGRESS_LOG, text, 17);
    EXPECT_STREQ(text, "line 0\r\nline 1\r\n");
}

TEST_F(ProgressWindowTest, CopyPutsTheSelectionOrTheWholeLogOnTheClipboard)
{
    PressCopy();
    EXPECT_EQ(Clipboard(), "");

    LogAppendText("0123456789abcdef\nsecond line");
    RefreshProgressLog(window);
    PressCopy();
    EXPECT_EQ(Clipboard(), "0123456789abcdef\r\nsecond line");

    SendDlgItemMessageA(window, IDC_PROGRESS_LOG, EM_SETSEL, 5, 10);
    PressCopy();
    EXPECT_EQ(Clipboard(), "56789");
}

TEST_F(ProgressWindowTest, CopyTakesTheLogNotWhatTheUserTyped)
{
    LogAppendText("short log");
    RefreshProgressLog(window);
    SetDlgItemTextA(window, IDC_PROGRESS_LOG, "the user typed a much longer text here");
    SendDlgItemMessageA(window, IDC_PROGRESS_LOG, EM_SETSEL, 6, 30);
    PressCopy();
    EXPECT_EQ(Clipboard(), "log");
}

TEST_F(ProgressWindowTest, CancelAndTheCloseBoxDestroyTheWindow)
{
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_FALSE(IsWindow(window));
    CloseProgressWindow();  // nothing left to close: no effect
    EXPECT_EQ(RefreshProgressLog(window), 0);

    window = ShowProgressWindow();
    SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    Pump();
    EXPECT_FALSE(IsWindow(window));

    window = ShowProgressWindow();
    CloseProgressWindow();
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(ProgressWindowTest, FirstFocusIsCancelSoEnterCloses)
{
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), IDCANCEL);
    MSG message = {window, WM_KEYDOWN, VK_RETURN, 1, 0, {0, 0}};
    message.hwnd = GetFocus();
    IsDialogMessageA(window, &message);
    MSG pending;
    while (PeekMessageA(&pending, NULL, 0, 0, PM_REMOVE)) {
        if (!IsWindow(window) || !IsDialogMessageA(window, &pending)) {
            TranslateMessage(&pending);
            DispatchMessageA(&pending);
        }
    }
    EXPECT_FALSE(IsWindow(window));
}
