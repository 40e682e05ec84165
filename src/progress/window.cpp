// The progress window: a modeless dialog mirroring the progress log, with Copy and Cancel.
#include <string.h>

#include "installer.h"
#include "progress.h"
#include "resource.h"

// Lines the log control shows at once: the refresh keeps the last of them in view.
enum { VISIBLE_LOG_LINES = 18 };

static HWND RecordedProgressWindow;

HWND ShowProgressWindow()
{
    RecordedProgressWindow = CreateDialogParamA(InstanceHandle, MAKEINTRESOURCEA(IDD_PROGRESS),
                                                NULL, TextDlgProc, 0);
    return RecordedProgressWindow;
}

void CloseProgressWindow()
{
    if (RecordedProgressWindow && IsWindow(RecordedProgressWindow))
        DestroyWindow(RecordedProgressWindow);
}

int RefreshProgressLog(HWND window)
{
    HWND control = GetDlgItem(window, IDC_PROGRESS_LOG);
    if (!control)
        return 0;
    SendMessageA(control, WM_SETREDRAW, 0, 0);
    SetDlgItemTextA(window, IDC_PROGRESS_LOG, ProgressLog.text);
    int lines = (int)SendDlgItemMessageA(window, IDC_PROGRESS_LOG, EM_GETLINECOUNT, 0, 0);
    SendDlgItemMessageA(window, IDC_PROGRESS_LOG, EM_LINESCROLL, 0, lines - VISIBLE_LOG_LINES);
    SendMessageA(control, WM_SETREDRAW, 1, 0);
    InvalidateRect(control, NULL, TRUE);
    UpdateWindow(control);
    return 1;
}

// Puts the selected part of the log, or all of it, on the clipboard. The text comes from
// the log itself, not from the control, which the user may have typed into.
static void CopyLogToClipboard(HWND window)
{
    DWORD selection = (DWORD)SendDlgItemMessageA(window, IDC_PROGRESS_LOG, EM_GETSEL, 0, 0);
    int start = LOWORD(selection);
    int end = HIWORD(selection);
    if (start == end) {
        start = 0;
        end = ProgressLog.length;
    } else {
        if (start > ProgressLog.length)
            start = ProgressLog.length;
        if (end > ProgressLog.length)
            end = ProgressLog.length;
        if (end < start)
            end = start;
    }

    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_DDESHARE, end - start + 1);
    if (!block) {
        MessageBeep(0xFFFFFFFF);
        return;
    }
    char *text = (char *)GlobalLock(block);
    if (!text) {
        GlobalFree(block);
        MessageBeep(0xFFFFFFFF);
        return;
    }
    CopyText(text, end - start + 1, ProgressLog.text + start);
    GlobalUnlock(block);
    if (OpenClipboard(window)) {
        EmptyClipboard();
        if (!SetClipboardData(CF_TEXT, block))
            GlobalFree(block);
        CloseClipboard();
    } else {
        GlobalFree(block);
    }
}

INT_PTR CALLBACK TextDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        RefreshProgressLog(window);
        return 1;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDCANCEL:
            DestroyWindow(window);
            return 1;
        case IDC_PROGRESS_COPY:
            CopyLogToClipboard(window);
            return 0;
        }
        break;
    }
    return 0;
}
