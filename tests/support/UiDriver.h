// Drives the framework's controls and modal boxes as a user would, through the target's real
// peer: Qt's synthesized input on Linux (UiDriverQt.cpp); on Windows the messages the real
// Win32 controls get from the system (UiDriverWin32.cpp): BM_CLICK, keys and mouse buttons
// posted to the control, a choice from a drop-down list as the selection plus the
// notification the list sends.
//
// Input reaches only what a user could reach: a control that is hidden or disabled (itself or
// its form) gets nothing, and the call returns false.
// Threads: the user-interface thread, except BoxAccess (below).
#pragma once

#include "framework/Forms.h"
#include "framework/StdCtrls.h"

#include <functional>
#include <memory>
#include <string>

namespace tw::test {

enum class Key { Space, Up, Down, Right, End, Tab };

// Shows the form and waits until it is on the screen; false if it did not get there.
bool ShowForm(TForm *Form);
bool Click(TControl *Control);              // a click with the left mouse button
bool PressKey(TControl *Control, Key Which);  // the focus to the control, a key pressed and released
bool Choose(TComboBox *Box, int Index);     // an item picked from the open list
// Characters typed at the caret; '\r' is the Return key. Chinese characters arrive as an
// input method commits them.
bool Type(TControl *Control, const std::string &Text);
// A mouse button pressed or released at (X, Y) of the control; ssShift and ssCtrl in Shift
// are the keys held.
bool MouseDown(TControl *Control, TMouseButton Button, TShiftState Shift, int X, int Y);
bool MouseUp(TControl *Control, TMouseButton Button, TShiftState Shift, int X, int Y);
// The close box of the form's caption. May be called from BoxAccess's thread.
void CloseByUser(TForm *Form);

enum class Answer { Ok, Cancel, Yes, No };

// An open modal box: a message box, the input box or the save dialog. On Windows it is used
// from a second thread, as a person at the screen, and every call waits until the box's loop
// has handled it; with Qt it is used inside the box's loop.
class BoxAccess {
public:
    virtual ~BoxAccess() = default;
    virtual std::string Caption() const = 0;
    virtual std::string Message() const = 0;  // a message box's text, the input box's prompt
    virtual bool ErrorIcon() const = 0;
    // The box's text field: the input box's, the save dialog's file name.
    virtual std::string Field() const = 0;
    virtual std::string SelectedText() const = 0;
    virtual void ClearField() const = 0;
    virtual void Type(const std::string &Text) const = 0;  // into the field, at its caret
    virtual void Press(Answer Button) const = 0;
    virtual void CloseBox() const = 0;  // the close box of its caption
};

// From construction on, waits for the next modal box captioned Caption, then runs Act with
// it. Act must close the box. One at a time.
class WhenBoxOpens {
public:
    WhenBoxOpens(const std::string &Caption, std::function<void(const BoxAccess &)> Act);
    WhenBoxOpens(const WhenBoxOpens &) = delete;
    WhenBoxOpens &operator=(const WhenBoxOpens &) = delete;
    ~WhenBoxOpens();
    // Waits until Act has ended. False when no such box opened.
    bool Wait();

    struct State;

private:
    std::unique_ptr<State> state_;
};

}  // namespace tw::test
