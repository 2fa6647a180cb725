// Console helpers for the command-line programs: interruption and terminal detection.
#pragma once

#include "platform/win32.h"

namespace tw {

// From now on, an interruption of the program (Ctrl-C, SIGINT, SIGTERM; on Windows also the
// console being closed) posts `msg` to `hwnd` instead of ending the process, with the signal or
// console event number in wParam. The window's thread decides what to do; a second
// interruption is posted the same way. Call it once, early, from the thread that owns `hwnd`
// and before other threads are started (on Linux the signals are blocked for the threads
// started afterwards and taken by a watcher thread of their own).
bool watch_interrupts(HWND hwnd, UINT msg);

// True when standard output / standard error is an interactive terminal.
bool stdout_is_terminal();
bool stderr_is_terminal();

}  // namespace tw
