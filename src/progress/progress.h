// Progress display: the bounded log and the modeless window that shows it.
#ifndef SETUP_PROGRESS_H
#define SETUP_PROGRESS_H

#include <windows.h>

#include "log.h"

// Creates the progress window (visible at once) and records it; the handle, or 0.
HWND ShowProgressWindow();
// Destroys the recorded window if it still exists.
void CloseProgressWindow();
// Puts the log into the window's edit control and scrolls its last 18 lines into view.
int RefreshProgressLog(HWND window);

extern "C" INT_PTR CALLBACK TextDlgProc(HWND window, UINT message, WPARAM wParam,
                                        LPARAM lParam);

#endif
