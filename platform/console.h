// Console helpers for the command-line programs: interruption and terminal detection.
#pragma once

#include "platform/win32.h"

#include <string>

namespace tw {

// From now on, an interruption of the program (Ctrl-C, SIGINT, SIGTERM; on Windows also the
// console being closed) posts `msg` to `hwnd` instead of ending the process, with the signal or
// console event number in wParam. The window's thread decides what to do; a second
// interruption is posted the same way. Call it once, early, from the thread that owns `hwnd`
// and before other threads are started (on Linux the signals are blocked for the threads
// started afterwards and taken by a watcher thread of their own).
//
// `hook`, when given, is called for every interruption before the message is posted, on the
// thread that takes the interruption (Linux: the watcher thread; Windows: the console control
// handler's thread), with `context` and the number of interruptions so far (1 for the first).
// It is how a thread blocked in a long platform call is reached: the hook may call what is
// safe from another thread (IGraphBuilder::Abort, ending the process), nothing that waits on
// the window's thread.
using InterruptHook = void (*)(void *context, int count);
bool watch_interrupts(HWND hwnd, UINT msg, InterruptHook hook = nullptr, void *context = nullptr);

// True when standard output / standard error is an interactive terminal.
bool stdout_is_terminal();
bool stderr_is_terminal();

// Writing to a closed standard output or error (a pipe whose reader has gone) fails with an
// error from now on instead of ending the process; the program checks its writes. On Linux
// this ignores SIGPIPE; on Windows such a write fails already.
void survive_closed_output();

// The diagnostic lines of the media libraries under the platform (on Linux, FFmpeg's log)
// also go to standard error when `on`; otherwise only to a graph's log file, if one is set.
// The Windows platform components print no such lines.
void show_library_diagnostics(bool on);

// True when both names (UTF-8) lead to one existing file, whatever the spelling: relative or
// absolute, through a symbolic link, or a second hard link. Linux compares device and inode;
// Windows the volume serial number and file index.
bool same_file(const std::string &a, const std::string &b);

}  // namespace tw
