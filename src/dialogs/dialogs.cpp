// Dialog layer: modal dialogs, message boxes and string-table texts, all ownerless.
#include "dialogs.h"

#include "installer.h"
#include "resource.h"

int RunModalDialog(int id, DLGPROC procedure)
{
    return (int)DialogBoxParamA(InstanceHandle, MAKEINTRESOURCEA(id), NULL, procedure, 0);
}

int InstallMessageBox(const char *text, UINT type)
{
    return MessageBoxA(NULL, text, INSTALL_CAPTION, type);
}

int LoadInstallString(UINT id, char *buffer, int capacity)
{
    if (capacity <= 0)
        return 0;
    int copied = LoadStringA(InstanceHandle, id, buffer, capacity);
    if (copied <= 0)
        buffer[0] = '\0';
    return copied;
}

int ShowIntroDialogs()
{
    if (UnattendedMode)
        return 0;
    if (RunModalDialog(IDD_INTRO, GeneralDlgProc) != IDOK ||
        RunModalDialog(IDD_COPYRIGHT, GeneralDlgProc) != IDOK) {
        ErrorText[0] = '\0';
        return 1;
    }
    return 0;
}

INT_PTR CALLBACK GeneralDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return 1;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:
            EndDialog(window, LOWORD(wParam));
            return 1;
        }
        break;
    }
    return 0;
}

INT_PTR CALLBACK InputDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        SetDlgItemTextA(window, IDC_EDIT_TEXT, DialogText);
        return 1;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            GetDlgItemTextA(window, IDC_EDIT_TEXT, DialogText, sizeof DialogText);
            EndDialog(window, IDOK);
            return 1;
        case IDCANCEL:
            EndDialog(window, IDCANCEL);
            return 1;
        }
        break;
    }
    return 0;
}

INT_PTR CALLBACK ModelessDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_CLOSE:
        DestroyWindow(window);
        return 1;
    case WM_INITDIALOG:
        return 1;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:
            DestroyWindow(window);
            return 1;
        }
        break;
    }
    return 0;
}
