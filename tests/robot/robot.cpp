// The robot user: polls the top-level windows of the setup process and answers them.
#include "robot.h"

#include <gtest/gtest.h>

#include <shlobj.h>
#include <stdio.h>
#include <algorithm>

#include "layer_start.h"
#include "wine_files.h"

HWND RobotWindow;
const UserAction WatchProgress = {"Tabrin Install - Unzipping", PRESS_NOTHING};

// How long the robot waits for setup.exe to finish one run.
static const int RobotPatienceSeconds = 120;
// How long it waits for one control to give its text.
static const UINT ControlPatienceMs = 5000;

static BOOL CALLBACK RecordControl(HWND control, LPARAM seen)
{
    int id = GetDlgCtrlID(control) & 0xFFFF;
    ((SeenWindow *)seen)->texts.push_back(std::to_string(id) + ":" +
                                          ControlText(GetParent(control), id));
    return TRUE;
}

std::string ControlText(HWND window, int id)
{
    char text[8192] = "";
    DWORD_PTR copied;
    // Under load Wine has left such a message unanswered for good while the program waited
    // in a message box: a control that does not answer in time reads as empty and the robot
    // looks again, so a program that is really stuck still ends the run when patience does.
    SendMessageTimeoutA(GetDlgItem(window, id), WM_GETTEXT, sizeof text, (LPARAM)text,
                        SMTO_ABORTIFHUNG, ControlPatienceMs, &copied);
    return text;
}

// Saves what the screen shows of a window as a 24-bit BMP file.
static void SaveScreenshot(HWND window, const std::string &path)
{
    // Another program's window may lie over this one, such as the window Wine's shell opens
    // for a group it has made: the window comes to the top, not activated, and is drawn.
    SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    RedrawWindow(window, NULL, NULL, RDW_INVALIDATE | RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN);
    RECT rect;
    GetWindowRect(window, &rect);
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void *pixels = NULL;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &pixels, NULL, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    DWORD imageSize = ((width * 3 + 3) & ~3) * height;
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + imageSize;
    FILE *out = fopen(path.c_str(), "wb");
    if (out) {
        fwrite(&file, sizeof file, 1, out);
        fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out);
        fwrite(pixels, 1, imageSize, out);
        fclose(out);
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
}

// The next picture's file: numbered in the order taken, named after the title; empty when
// no pictures are wanted.
static std::string PictureFile(const std::string &title)
{
    static int count;
    const char *directory = getenv("ROBOT_SCREENSHOTS");
    if (!directory)
        return "";
    std::string name;
    for (char c : title)
        name += isalnum((unsigned char)c) ? (char)tolower(c) : '-';
    char prefix[8];
    snprintf(prefix, sizeof prefix, "%02d-", ++count);
    return std::string(directory) + "\\" + prefix + name + ".bmp";
}

void Photograph(HWND window, const std::string &title)
{
    std::string file = PictureFile(title);
    if (!file.empty())
        SaveScreenshot(window, file);
}

RobotRun RunSetup(const std::string &directory, const std::string &argument,
                  const std::vector<UserAction> &actions, bool keepTemp)
{
    std::string command = "\"" + directory + "\\setup.exe\"";
    if (!argument.empty())
        command += " " + argument;
    return RunRobot(command, actions, keepTemp);
}

RobotRun RunRobot(const std::string &command, const std::vector<UserAction> &actions,
                  bool keepTemp, const std::string &layer)
{
    RobotRun run;
    std::string environment = EnvironmentBlock(keepTemp), error;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    std::string line = command;
    if (layer.empty() ? !CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, &environment[0],
                                        NULL, &startup, &process)
                      : !StartWithLayer(layer, command, &environment[0], &process, &error)) {
        ADD_FAILURE() << "cannot start " << command << " " << error;
        return run;
    }

    std::vector<HWND> answered;
    size_t next = 0;
    HWND watched = NULL;  // a window that is only looked at, with its action
    const UserAction *watchedAction = nullptr;
    auto lookAround = [&] {
        std::vector<HWND> windows = DialogsOfProcess(process.dwProcessId);
        // Windows come top first; answer the older ones first (the progress window before
        // a prompt that appeared over it since the last look).
        std::reverse(windows.begin(), windows.end());
        for (HWND window : windows) {
            bool known = false;
            for (HWND old : answered)
                known |= old == window;
            if (known)
                continue;
            answered.push_back(window);
            // The title is taken at once: a progress window may close again within
            // moments. Its picture too, taken again after the pause if it is still there.
            SeenWindow seen;
            char title[512] = "";
            GetWindowTextA(window, title, sizeof title);
            seen.title = title;
            std::string picture = PictureFile(seen.title);
            if (!picture.empty())
                SaveScreenshot(window, picture);
            Sleep(200);  // let the dialog finish its set-up
            seen.owner = GetWindow(window, GW_OWNER);
            EnumChildWindows(window, RecordControl, (LPARAM)&seen);
            run.seen.push_back(seen);
            if (!picture.empty() && IsWindow(window))
                SaveScreenshot(window, picture);
            if (next >= actions.size()) {
                ADD_FAILURE() << "unexpected window \"" << seen.title << "\": "
                              << MessageBoxText(seen);
                PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
                PostMessageA(window, WM_COMMAND, IDNO, 0);
                continue;
            }
            const UserAction &action = actions[next++];
            if (!action.expectTitle.empty()) {
                EXPECT_EQ(action.expectTitle, seen.title);
            }
            if (action.press == PRESS_NOTHING) {
                watched = window;
                watchedAction = &action;
            } else {
                if (action.meanwhile) {  // e.g. the user changes disks before pressing OK
                    RobotWindow = window;
                    action.meanwhile();
                }
                PerformUserAction(window, action);
            }
        }
        if (watched && IsWindow(watched) && watchedAction->meanwhile) {
            RobotWindow = watched;
            watchedAction->meanwhile();
        }
    };
    // Looks around every 20 ms (the progress window of a small install is up for little more
    // than a tenth of a second), keeping this thread's own windows answering: setup.exe's DDE
    // start-up sends messages to every top-level window and waits for the replies.
    run.finished = WaitAnsweringMessages(process.hProcess, RobotPatienceSeconds * 1000, 20,
                                         lookAround);
    if (!run.finished) {
        ADD_FAILURE() << command << " did not finish";
        TerminateProcess(process.hProcess, 1);
    }
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    EXPECT_EQ(next, actions.size()) << command << " never showed some windows";
    return run;
}

void LayOutDisk(const std::string &directory)
{
    SHCreateDirectoryExA(NULL, directory.c_str(), NULL);
    for (std::string name : {"setup.exe", "uninst.exe", "wizunz32.dll", "packlist.ini",
                             "tabrin.zip", "cv403ini.zip", "cv403w32.zip", "cv403fn1.zip"})
        CopyFileA((ProgramDirectory() + name).c_str(), (directory + "\\" + name).c_str(), FALSE);
}

bool EndsInUnzipError(const std::string &log)
{
    return log.size() >= 11 && log.compare(log.size() - 11, 11, "unzip error") == 0;
}
