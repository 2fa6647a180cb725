#include "platform/console.h"

#include "platform/text.h"

#include <io.h>
#include <stdio.h>

namespace tw {

namespace {
// The console control handler runs on a thread of its own, where PostMessage is safe. Written
// once by watch_interrupts before the handler is installed, read only by the handler.
HWND g_window = nullptr;
UINT g_message = 0;
InterruptHook g_hook = nullptr;
void *g_context = nullptr;
// Written by the handler only; Windows may run it on a new thread for each event.
volatile LONG g_count = 0;

BOOL WINAPI on_console_event(DWORD event) {
    if (!g_window) return FALSE;
    const LONG count = InterlockedIncrement(&g_count);
    if (g_hook) g_hook(g_context, static_cast<int>(count));
    PostMessageW(g_window, g_message, static_cast<WPARAM>(event), 0);
    // For a closing console Windows ends the process once the handler returns; give the
    // window's thread a moment to finish the file first.
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) Sleep(4000);
    return TRUE;
}
}  // namespace

bool watch_interrupts(HWND hwnd, UINT msg, InterruptHook hook, void *context) {
    g_window = hwnd;
    g_message = msg;
    g_hook = hook;
    g_context = context;
    return SetConsoleCtrlHandler(on_console_event, TRUE) != FALSE;
}

bool stdout_is_terminal() { return _isatty(_fileno(stdout)) != 0; }
bool stderr_is_terminal() { return _isatty(_fileno(stderr)) != 0; }

// A write to a closed pipe fails with ERROR_NO_DATA here; nothing ends the process.
void survive_closed_output() {}

// DirectShow's and Windows Media's components report through HRESULTs and events only.
void show_library_diagnostics(bool) {}

namespace {
bool file_identity(const std::string &name, BY_HANDLE_FILE_INFORMATION *info) {
    // No access asked: only the file's identity is read, whoever holds it open.
    HANDLE h = CreateFileW(tw::to_wide(name).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool ok = GetFileInformationByHandle(h, info) != FALSE;
    CloseHandle(h);
    return ok;
}
}  // namespace

bool same_file(const std::string &a, const std::string &b) {
    BY_HANDLE_FILE_INFORMATION ia{}, ib{};
    return file_identity(a, &ia) && file_identity(b, &ib) && ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

}  // namespace tw
