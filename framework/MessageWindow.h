// Hidden message-only windows whose messages go to a callable.
//
// The window belongs to the thread that allocates it; its method runs on that thread while it
// dispatches messages. Other threads may post to it (PostMessageA).
#pragma once

#include "platform/win32.h"

#include <functional>

namespace tw {

using WndMethod = std::function<LRESULT(UINT Msg, WPARAM wParam, LPARAM lParam)>;

// Creates a hidden window (parent HWND_MESSAGE) whose messages call Method. Throws
// std::runtime_error when the window cannot be created. An exception that escapes Method is
// reported with Application->HandleException (it must not unwind through the system's message
// dispatch) and the message result is 0.
HWND AllocateHWnd(WndMethod Method);

// Destroys the window. Safe from inside its own method: the callable is freed when the
// outermost call returns. A null handle does nothing.
void DeallocateHWnd(HWND Wnd);

}  // namespace tw
