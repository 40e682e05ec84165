// Plays the user for the modal dialogs and message boxes that code under test shows on
// the test thread: it sees each window as it activates, records its title and texts, can
// type into an edit field, and presses a button. A window the script did not expect fails
// the test and is closed, so a test never hangs on it.
#ifndef TEST_SCRIPTED_USER_H
#define TEST_SCRIPTED_USER_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// What the user does with one window. `press` is a command id (IDOK, IDYES, a button of
// the dialog) sent with `notification` in the high word, or one of the gestures below.
// PRESS_NOTHING only looks: for the modeless progress window, which activates too.
enum UserGesture { PRESS_ESCAPE = -1, PRESS_ENTER = -2, PRESS_CLOSE_BOX = -3, PRESS_NOTHING = -4 };

struct UserAction {
    std::string expectTitle;  // the window's title; empty accepts any
    int press;
    int editId = 0;           // an edit field to fill before pressing, 0 for none
    std::string editText;
    WORD notification = BN_CLICKED;
    std::function<void()> meanwhile;  // something the test does while the window is up
};

struct SeenWindow {
    std::string title;
    HWND owner;
    std::vector<std::string> texts;  // "id:text" of each static, edit and button, in order
    std::string Text(int id) const;  // the text of control id, empty when there is none
};

// Types into the action's edit field and presses its button, or makes its gesture, by
// posting to the window (of this process or another).
void PerformUserAction(HWND window, const UserAction &action);

// Starts playing the actions, one per window that activates, in order.
void ScriptUser(const std::vector<UserAction> &actions);
// Stops, and fails the test when actions were left unplayed. The windows seen, in order.
std::vector<SeenWindow> StopScriptedUser();

// The message text of a message box (its static control 65535).
std::string MessageBoxText(const SeenWindow &window);

// Waits until Wine's Program Manager server, in the desktop process, answers DDE.
bool WaitForProgramManager();
// Whether a DDE server answers "PROGMAN" within the attempts, half a second apart, once
// the desktop has been started.
bool ProgramManagerAnswers(int attempts);

// Runs a command line to its end and gives its exit code, or false when it cannot start.
// Meanwhile it answers this thread's messages: setup.exe's DDE start-up sends a message to
// every top-level window, this program's too, and waits for the answers.
bool RunAnsweringMessages(std::string command, DWORD *exitCode);

// Waits until a process ends, answering this thread's messages as above and calling look
// every lookMs; false when it has not ended after patienceMs.
bool WaitAnsweringMessages(HANDLE process, DWORD patienceMs, DWORD lookMs,
                           const std::function<void()> &look);

// The visible dialogs and message boxes (class #32770) of a process, the top one first.
std::vector<HWND> DialogsOfProcess(DWORD process);

// This process's environment as a block for CreateProcessA, without TEMP and TMP unless
// keepTemp, with the extra "NAME=value" strings added.
std::string EnvironmentBlock(bool keepTemp, const std::vector<std::string> &extra = {});

#endif
