// The dialog layer on the real templates, played by the scripted user.
#include <gtest/gtest.h>

#include "dialogs.h"
#include "installer.h"
#include "resource.h"
#include "scripted_user.h"

class DialogsTest : public testing::Test {
protected:
    void SetUp() override
    {
        InstanceHandle = GetModuleHandleA(NULL);
        UnattendedMode = 0;
        ErrorText[0] = '\0';
    }
};

TEST_F(DialogsTest, MessageBoxCarriesCaptionTextAndAnswer)
{
    ScriptUser({{"Tabrin Install", IDYES}});
    int answer = InstallMessageBox("Line one\r\nline two", MB_YESNO);
    auto seen = StopScriptedUser();
    EXPECT_EQ(answer, IDYES);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(MessageBoxText(seen[0]), "Line one\r\nline two");
}

TEST_F(DialogsTest, GeneralDialogEndsWithTheButtonOrGesture)
{
    struct Case {
        const char *name;
        UserAction action;
        int expected;
    } cases[] = {
        {"OK", {"Tabrin Install - Config", IDOK}, IDOK},
        {"Cancel button", {"Tabrin Install - Config", IDCANCEL}, IDCANCEL},
        {"Escape", {"Tabrin Install - Config", PRESS_ESCAPE}, IDCANCEL},
        {"close box", {"Tabrin Install - Config", PRESS_CLOSE_BOX}, IDCANCEL},
        {"Enter", {"Tabrin Install - Config", PRESS_ENTER}, IDOK},
        {"OK with notification bits", {"Tabrin Install - Config", IDOK, 0, "", 0x1234}, IDOK},
    };
    for (const auto &c : cases) {
        ScriptUser({c.action});
        EXPECT_EQ(RunModalDialog(IDD_CONFIG, GeneralDlgProc), c.expected) << c.name;
        StopScriptedUser();
    }
}

TEST_F(DialogsTest, InputDialogExchangesTheEditField)
{
    strcpy(DialogText, "c:\\cvtools");
    ScriptUser({{"Tabrin Install - Directory", IDOK, IDC_EDIT_TEXT, "d:\\apps"}});
    EXPECT_EQ(RunModalDialog(IDD_DIRECTORY, InputDlgProc), IDOK);
    auto seen = StopScriptedUser();
    EXPECT_STREQ(DialogText, "d:\\apps");

    // The field shows what the caller left; Cancel keeps it whatever was typed.
    ASSERT_EQ(seen.size(), 1u);
    strcpy(DialogText, "a:\\tabrin.zip");
    ScriptUser({{"Tabrin Install - Missing ZIP file", IDCANCEL, IDC_EDIT_TEXT, "typed"}});
    EXPECT_EQ(RunModalDialog(IDD_MISSING_ZIP, InputDlgProc), IDCANCEL);
    seen = StopScriptedUser();
    EXPECT_EQ(seen[0].Text(IDC_EDIT_TEXT), "a:\\tabrin.zip");
    EXPECT_STREQ(DialogText, "a:\\tabrin.zip");

    // An empty field empties the text; a long one keeps at most 255 characters.
    ScriptUser({{"", IDOK, IDC_EDIT_TEXT, ""}});
    RunModalDialog(IDD_MISSING_ZIP, InputDlgProc);
    StopScriptedUser();
    EXPECT_STREQ(DialogText, "");
    std::string longText(300, 'x');
    ScriptUser({{"", IDOK, IDC_EDIT_TEXT, longText}});
    RunModalDialog(IDD_MISSING_ZIP, InputDlgProc);
    StopScriptedUser();
    EXPECT_EQ(std::string(DialogText), longText.substr(0, 255));
}

TEST_F(DialogsTest, EditNotificationsDoNotEndTheDialog)
{
    strcpy(DialogText, "kept");
    HWND dialog = CreateDialogParamA(InstanceHandle, MAKEINTRESOURCEA(IDD_MISSING_ZIP), NULL,
                                     InputDlgProc, 0);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(InputDlgProc(dialog, WM_COMMAND, MAKEWPARAM(IDC_EDIT_TEXT, EN_CHANGE), 0), 0);
    EXPECT_EQ(InputDlgProc(dialog, WM_COMMAND, MAKEWPARAM(IDC_EDIT_TEXT, EN_UPDATE), 0), 0);
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_STREQ(DialogText, "kept");
    DestroyWindow(dialog);
}

TEST_F(DialogsTest, IntroDialogsCancelEndTheRunWithEmptyReason)
{
    strcpy(ErrorText, "stale");
    ScriptUser({{"Tabrin Install - Introduction", IDOK}, {"Tabrin Install - Copyright", IDCANCEL}});
    EXPECT_EQ(ShowIntroDialogs(), 1);
    StopScriptedUser();
    EXPECT_STREQ(ErrorText, "");

    ScriptUser({{"Tabrin Install - Introduction", IDOK}, {"Tabrin Install - Copyright", IDOK}});
    EXPECT_EQ(ShowIntroDialogs(), 0);
    StopScriptedUser();

    UnattendedMode = 1;
    ScriptUser({});
    EXPECT_EQ(ShowIntroDialogs(), 0);
    EXPECT_TRUE(StopScriptedUser().empty());
}

TEST_F(DialogsTest, ModelessDialogClosesOnOkCancelAndCloseBox)
{
    for (UINT message : {(UINT)WM_CLOSE, (UINT)WM_COMMAND}) {
        for (int command : {IDOK, IDCANCEL}) {
            HWND dialog = CreateDialogParamA(InstanceHandle, MAKEINTRESOURCEA(IDD_CONFIG), NULL,
                                             ModelessDlgProc, 0);
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(ModelessDlgProc(dialog, message, MAKEWPARAM(command, 0x55), 0), 1);
            EXPECT_FALSE(IsWindow(dialog));
        }
    }
}

static INT_PTR CALLBACK NoDialogProcedure(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

// The face the system draws a font with, and that face's metrics.
struct DrawnFont {
    std::string face;
    TEXTMETRICA metrics;
};

static DrawnFont Drawn(HFONT font)
{
    DrawnFont drawn = {};
    HDC dc = GetDC(NULL);
    HGDIOBJ old = SelectObject(dc, font);
    char face[LF_FACESIZE] = "";
    GetTextFaceA(dc, sizeof face, face);
    drawn.face = face;
    GetTextMetricsA(dc, &drawn.metrics);
    SelectObject(dc, old);
    ReleaseDC(NULL, dc);
    return drawn;
}

TEST_F(DialogsTest, DialogsAndCaptionsUseThePeriodFonts)
{
    // The templates ask for 8-point Helv, which stands for MS Sans Serif: its metrics decide
    // how many pixels a dialog unit is. The caption buttons are glyphs of Marlett.
    HWND dialog = CreateDialogParamA(InstanceHandle, MAKEINTRESOURCEA(IDD_DIRECTORY), NULL,
                                     NoDialogProcedure, 0);
    ASSERT_NE(dialog, nullptr);
    HFONT dialogFont = (HFONT)SendMessageA(dialog, WM_GETFONT, 0, 0);
    LOGFONTA asked = {};
    GetObjectA(dialogFont, sizeof asked, &asked);
    strcpy(asked.lfFaceName, "MS Sans Serif");
    HFONT sansSerif = CreateFontIndirectA(&asked);
    DrawnFont expected = Drawn(sansSerif), got = Drawn(dialogFont);
    EXPECT_EQ(expected.face, "MS Sans Serif");
    EXPECT_EQ(got.metrics.tmHeight, expected.metrics.tmHeight);
    EXPECT_EQ(got.metrics.tmAveCharWidth, expected.metrics.tmAveCharWidth);
    EXPECT_EQ(got.metrics.tmMaxCharWidth, expected.metrics.tmMaxCharWidth);
    RECT units = {0, 0, 4, 8};  // one average character wide, one line high
    MapDialogRect(dialog, &units);
    EXPECT_EQ(units.right, 6);
    EXPECT_EQ(units.bottom, 13);
    DeleteObject(sansSerif);
    DestroyWindow(dialog);

    HFONT marlett = CreateFontA(-13, 0, 0, 0, FW_NORMAL, 0, 0, 0, SYMBOL_CHARSET, 0, 0, 0, 0,
                                "Marlett");
    EXPECT_EQ(Drawn(marlett).face, "Marlett");
    DeleteObject(marlett);
}
