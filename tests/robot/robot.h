// A robot user for the real setup.exe and uninst.exe: starts one as its own process, finds
// each dialog and message box it shows, reads their texts and presses their buttons from
// outside, as a person at the screen would.
#ifndef TEST_ROBOT_H
#define TEST_ROBOT_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "scripted_user.h"

struct RobotRun {
    std::vector<SeenWindow> seen;  // every window the program showed, in order
    DWORD exitCode = 0;
    bool finished = false;
};

// Runs setup.exe from directory with the argument text (may be empty), without TEMP in
// its environment unless keepTemp, answering one window per action in order. An action
// of PRESS_NOTHING only looks (the progress window); its `meanwhile` runs each time the
// robot looks around while that window is open, with the window's handle in RobotWindow;
// on any other action it runs once, before the robot answers the window.
RobotRun RunSetup(const std::string &directory, const std::string &argument,
                  const std::vector<UserAction> &actions, bool keepTemp = false);
// The same for any command line, with a layer of the tests loaded into the program when one
// is named (StartWithLayer).
RobotRun RunRobot(const std::string &command, const std::vector<UserAction> &actions,
                  bool keepTemp = false, const std::string &layer = "");

// Lays out the first distribution disk in directory: the two programs, wizunz32.dll, the
// packing list and the four archives from beside the test program.
void LayOutDisk(const std::string &directory);

// The progress window, only looked at.
extern const UserAction WatchProgress;

// The window a `meanwhile` step belongs to.
extern HWND RobotWindow;

// Keeps a picture of the window as BMP in the directory named by ROBOT_SCREENSHOTS, when
// it is set; the robot photographs every window it sees.
void Photograph(HWND window, const std::string &title);

// The text of a control of another process's window.
std::string ControlText(HWND window, int id);

// Whether a progress log ends in the marker of a failed extraction, "unzip error".
bool EndsInUnzipError(const std::string &log);

#endif
