// Driving the framework's controls as a user does, through the real native peer of the
// target (Qt widgets on Linux, Win32 controls on Windows), for tests.
//
// Every call runs on the user-interface thread and returns once the native side has
// delivered the action's events.
#pragma once

#include "framework/ComCtrls.h"
#include "framework/StdCtrls.h"

#include <functional>
#include <optional>
#include <string>

namespace tw::test {

// A click with the left mouse button in the middle of the control.
void UserClick(TControl *Control);
// The user's choice of an item in a drop-down list.
void UserSelect(TComboBox *Box, int Index);
// The user replacing the whole text of an edit box by typing.
void UserType(TMemo *Memo, const std::string &Text);
// A mouse button pressed and released over a track bar at (X, Y) of its client area.
void UserMouse(TTrackBar *Bar, TMouseButton Button, bool Down, int X, int Y);

// What a modal box showed.
struct ModalSeen {
    bool opened = false;
    std::string caption;
    std::string text;    // a message box's message, or an input box's field as it was
    bool errorIcon = false;
};

enum class ModalAnswer { Ok, Cancel, Close };

// Runs Action, answering the first modal box it opens: sets the box's edit field to Edit (an
// input box's field, a save dialog's file name) when given, then presses OK or Cancel, or
// closes it with its close box. Action runs on this thread; the box is found and answered from
// inside its own modal loop.
ModalSeen AnswerModal(const std::function<void()> &Action, ModalAnswer Answer,
                      std::optional<std::string> Edit = std::nullopt);

// Processes what is waiting on this thread: native events and the platform's messages.
void Pump();

}  // namespace tw::test
