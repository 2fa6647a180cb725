// Drives the Win32 peer's controls as a user would, through the real controls: a click is
// BM_CLICK, keys and mouse buttons are the messages the system would post to the control
// under the pointer or with the focus, a choice from a drop-down list is the selection plus
// the CBN_SELCHANGE the list sends. Input only reaches what a user could reach: a control that
// is hidden or disabled (itself or its form) gets nothing, and the call says so.
//
// Modal boxes are answered from a second thread, as a person at the screen would: it finds the
// box by its caption once the box's loop runs, and presses its buttons or types into it.
#pragma once

#include "framework/Graphics.h"

#include <windows.h>

#include <functional>
#include <string>
#include <thread>

namespace tw::test {

// Whether input could reach Wnd: visible, and it and every window it sits in enabled.
bool Reachable(HWND Wnd);

// Each returns false, having sent nothing, when Wnd is not reachable.
bool Click(HWND Button);
bool Choose(HWND ComboBox, int Index);
// A key pressed and released on the window with the focus (Wnd), through the loop.
bool Key(HWND Wnd, UINT VirtualKey);
// Characters typed into Wnd (one WM_CHAR per UTF-16 unit), through the loop.
bool Type(HWND Wnd, const std::string &Text);
// A mouse button pressed or released at (X, Y) of Wnd's client area; Shift's ssShift and
// ssCtrl are the keys held.
bool Press(HWND Wnd, TMouseButton Button, TShiftState Shift, int X, int Y);
bool Release(HWND Wnd, TMouseButton Button, TShiftState Shift, int X, int Y);

// The answers to a modal box, given on the second thread. Each sends to the box and so waits
// until the box's loop has handled it.
struct BoxAccess {
    HWND box;
    std::string Caption() const;
    // The box's message or prompt: the first non-empty static text that is not an icon.
    std::string Message() const;
    // The icon a message box shows (null for none).
    HICON Icon() const;
    // The first edit control of the box (the input box's field, the save dialog's file name).
    HWND Edit() const;
    void Type(const std::string &Text) const;
    void Press(int ButtonId) const;  // IDOK, IDCANCEL, IDYES, IDNO
    void CloseBox() const;           // the close box of the caption
};

// From construction on, waits for the next dialog captioned Caption to open on this (the
// user-interface) thread, then runs Act with it on a second thread. Act must close the box.
// The destructor waits for Act, handling what Act sends meanwhile. One at a time per thread.
class WhenBoxOpens {
public:
    WhenBoxOpens(const std::string &Caption, std::function<void(const BoxAccess &)> Act);
    WhenBoxOpens(const WhenBoxOpens &) = delete;
    WhenBoxOpens &operator=(const WhenBoxOpens &) = delete;
    ~WhenBoxOpens() { Wait(); }
    // Waits for Act to end, handling what it sends meanwhile. False when no such box opened.
    bool Wait();

private:
    static LRESULT CALLBACK CbtProc(int Code, WPARAM wParam, LPARAM lParam);
    std::wstring caption_;
    HANDLE opened_, done_;
    HHOOK hook_ = nullptr;
    bool waited_ = false;
    HWND box_ = nullptr;  // set on this thread before opened_ is signalled
    bool found_ = false;  // written by the second thread before done_ is signalled
    std::thread thread_;
};

}  // namespace tw::test
