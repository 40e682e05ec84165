// The scripted user: a CBT hook on the test thread that answers dialogs and message boxes.
#include "scripted_user.h"

#include <gtest/gtest.h>

#include <ddeml.h>

static HHOOK Hook;
static std::vector<UserAction> Script;
static size_t NextAction;
static std::vector<SeenWindow> Seen;
static std::vector<HWND> Answered;  // a window activates again when a box above it closes

std::string SeenWindow::Text(int id) const
{
    std::string prefix = std::to_string(id) + ":";
    for (const auto &text : texts)
        if (text.compare(0, prefix.size(), prefix) == 0)
            return text.substr(prefix.size());
    return "";
}

std::string MessageBoxText(const SeenWindow &window)
{
    return window.Text(65535);
}

static BOOL CALLBACK RecordControl(HWND control, LPARAM seen)
{
    char text[2048];
    GetWindowTextA(control, text, sizeof text);
    int id = GetDlgCtrlID(control) & 0xFFFF;
    ((SeenWindow *)seen)->texts.push_back(std::to_string(id) + ":" + text);
    return TRUE;
}

void PerformUserAction(HWND window, const UserAction &action)
{
    if (action.editId)
        SetDlgItemTextA(window, action.editId, action.editText.c_str());
    switch (action.press) {
    case PRESS_ESCAPE:
    case PRESS_ENTER: {
        WPARAM key = action.press == PRESS_ESCAPE ? VK_ESCAPE : VK_RETURN;
        HWND target = GetFocus() ? GetFocus() : window;  // no focus of another process
        PostMessageA(target, WM_KEYDOWN, key, 1);
        PostMessageA(target, WM_KEYUP, key, 0xC0000001);
        break;
    }
    case PRESS_CLOSE_BOX:
        PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        break;
    case PRESS_NOTHING:
        break;
    default:
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(action.press, action.notification),
                     (LPARAM)GetDlgItem(window, action.press));
    }
}

static LRESULT CALLBACK WatchActivation(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE) {
        HWND window = (HWND)wParam;
        char className[64] = "";
        GetClassNameA(window, className, sizeof className);
        bool known = false;
        for (HWND answered : Answered)
            known |= answered == window;
        if (!known && strcmp(className, "#32770") == 0) {
            Answered.push_back(window);
            SeenWindow seen;
            char title[512];
            GetWindowTextA(window, title, sizeof title);
            seen.title = title;
            seen.owner = GetWindow(window, GW_OWNER);
            EnumChildWindows(window, RecordControl, (LPARAM)&seen);
            if (NextAction < Script.size()) {
                const UserAction &action = Script[NextAction++];
                if (!action.expectTitle.empty()) {
                    EXPECT_EQ(action.expectTitle, seen.title);
                }
                if (action.meanwhile)
                    action.meanwhile();
                PerformUserAction(window, action);
            } else {
                ADD_FAILURE() << "unexpected window \"" << seen.title << "\": "
                              << MessageBoxText(seen);
                PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
                PostMessageA(window, WM_COMMAND, IDNO, 0);
            }
            Seen.push_back(seen);
        }
    }
    return CallNextHookEx(Hook, code, wParam, lParam);
}

// Windows already open when the script starts are not the user's to answer.
static BOOL CALLBACK NoteOpenWindow(HWND window, LPARAM)
{
    Answered.push_back(window);
    return TRUE;
}

void ScriptUser(const std::vector<UserAction> &actions)
{
    Script = actions;
    NextAction = 0;
    Seen.clear();
    Answered.clear();
    EnumThreadWindows(GetCurrentThreadId(), NoteOpenWindow, 0);
    if (!Hook)
        Hook = SetWindowsHookExA(WH_CBT, WatchActivation, NULL, GetCurrentThreadId());
    ASSERT_NE(Hook, nullptr);
}

std::vector<SeenWindow> StopScriptedUser()
{
    if (Hook)
        UnhookWindowsHookEx(Hook);
    Hook = NULL;
    EXPECT_EQ(NextAction, Script.size()) << "the user was never asked for some actions";
    return Seen;
}

static HDDEDATA CALLBACK IgnoreTransaction(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR,
                                           ULONG_PTR)
{
    return NULL;
}

bool ProgramManagerAnswers(int attempts)
{
    CreateWindowA("STATIC", "", 0, 0, 0, 0, 0, NULL, NULL, NULL, NULL);  // starts the desktop
    DWORD instance = 0;
    DdeInitializeA(&instance, IgnoreTransaction, APPCMD_CLIENTONLY, 0);
    HSZ service = DdeCreateStringHandleA(instance, "PROGMAN", CP_WINANSI);
    bool answered = false;
    for (int attempt = 0; attempt < attempts && !answered; attempt++) {
        HCONV conversation = DdeConnect(instance, service, service, NULL);
        answered = conversation != NULL;
        if (conversation)
            DdeDisconnect(conversation);
        else
            Sleep(500);
    }
    DdeUninitialize(instance);
    return answered;
}

bool WaitForProgramManager()
{
    return ProgramManagerAnswers(600);
}

bool WaitAnsweringMessages(HANDLE process, DWORD patienceMs, DWORD lookMs,
                           const std::function<void()> &look)
{
    DWORD start = GetTickCount();
    while (patienceMs == INFINITE || GetTickCount() - start < patienceMs) {
        if (MsgWaitForMultipleObjects(1, &process, FALSE, lookMs, QS_ALLINPUT) == WAIT_OBJECT_0)
            return true;
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        if (look)
            look();
    }
    return false;
}

bool RunAnsweringMessages(std::string command, DWORD *exitCode)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return false;
    WaitAnsweringMessages(process.hProcess, INFINITE, 100, nullptr);
    GetExitCodeProcess(process.hProcess, exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

namespace {
struct DialogSearch {
    DWORD process;
    std::vector<HWND> *found;
};
}

static BOOL CALLBACK CollectDialog(HWND window, LPARAM parameter)
{
    DialogSearch *search = (DialogSearch *)parameter;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char className[32] = "";
    GetClassNameA(window, className, sizeof className);
    if (process == search->process && IsWindowVisible(window) && strcmp(className, "#32770") == 0)
        search->found->push_back(window);
    return TRUE;
}

std::vector<HWND> DialogsOfProcess(DWORD process)
{
    std::vector<HWND> windows;
    DialogSearch search = {process, &windows};
    EnumWindows(CollectDialog, (LPARAM)&search);
    return windows;
}

std::string EnvironmentBlock(bool keepTemp, const std::vector<std::string> &extra)
{
    std::string block;
    char *strings = GetEnvironmentStringsA();
    for (char *entry = strings; *entry; entry += strlen(entry) + 1)
        if (keepTemp || (_strnicmp(entry, "TEMP=", 5) != 0 && _strnicmp(entry, "TMP=", 4) != 0))
            block.append(entry, strlen(entry) + 1);
    FreeEnvironmentStringsA(strings);
    for (const std::string &entry : extra)
        block.append(entry.c_str(), entry.size() + 1);
    return block + '\0';
}
