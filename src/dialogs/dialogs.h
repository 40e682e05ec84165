// Dialog layer: modal dialogs by number, message boxes, string-table texts and the
// dialog procedures that the executable exports by name.
#ifndef SETUP_DIALOGS_H
#define SETUP_DIALOGS_H

#include <windows.h>

// Caption of every message box; dialog titles begin with it too.
#define INSTALL_CAPTION "Tabrin Install"

// Runs dialog template id modally with no owner; the EndDialog value, or -1.
int RunModalDialog(int id, DLGPROC procedure);
// A message box with the installer caption and no owner; the button pressed, or 0.
int InstallMessageBox(const char *text, UINT type);
// Copies string id into the buffer (capacity counts the NUL); the characters copied.
int LoadInstallString(UINT id, char *buffer, int capacity);
// Introduction and copyright dialogs: 0 to go on, 1 after a cancel (ErrorText empty).
int ShowIntroDialogs();

extern "C" {
INT_PTR CALLBACK GeneralDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK InputDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ModelessDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
}

#endif
