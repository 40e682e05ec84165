// Plays the user for the modal dialogs and message boxes that code under test shows on
// the test thread: it sees each window as it activates, records its title and texts, can
// type into an edit field, and presses a button. A window the script did not expect fails
// the test and is closed, so a test never hangs on it.
#ifndef TEST_SCRIPTED_USER_H
#define TEST_SCRIPTED_USER_H

#include <windows.h>

#include <string>
#include <vector>

// What the user does with one window. `press` is a command id (IDOK, IDYES, a button of
// the dialog) sent with `notification` in the high word, or one of the gestures below.
enum UserGesture { PRESS_ESCAPE = -1, PRESS_ENTER = -2, PRESS_CLOSE_BOX = -3 };

struct UserAction {
    std::string expectTitle;  // the window's title; empty accepts any
    int press;
    int editId = 0;           // an edit field to fill before pressing, 0 for none
    std::string editText;
    WORD notification = BN_CLICKED;
};

struct SeenWindow {
    std::string title;
    std::vector<std::string> texts;  // "id:text" of each static, edit and button, in order
    std::string Text(int id) const;  // the text of control id, empty when there is none
};

// Starts playing the actions, one per window that activates, in order.
void ScriptUser(const std::vector<UserAction> &actions);
// Stops, and fails the test when actions were left unplayed. The windows seen, in order.
std::vector<SeenWindow> StopScriptedUser();

// The message text of a message box (its static control 65535).
std::string MessageBoxText(const SeenWindow &window);

#endif
