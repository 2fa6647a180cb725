#include "framework/MessageWindow.h"

#include "framework/Application.h"

#include <stdexcept>
#include <string>

namespace tw {
namespace {

const char kClassName[] = "TwMessageWindow";

// What a window's GWLP_USERDATA points at. `depth` counts the calls of `method` in progress,
// so that a window destroyed from inside its own method frees the callable only once the
// outermost call has returned.
struct Slot {
    WndMethod method;
    int depth = 0;
    bool released = false;
};

LRESULT CALLBACK SlotWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto *slot = reinterpret_cast<Slot *>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
    if (!slot || slot->released) return DefWindowProcA(wnd, msg, wParam, lParam);
    ++slot->depth;
    LRESULT result = 0;
    try {
        result = slot->method(msg, wParam, lParam);
    } catch (...) {
        // An exception must not unwind through the system's message dispatch.
        Application->HandleException(nullptr);
    }
    if (--slot->depth == 0 && slot->released) delete slot;
    return result;
}

bool RegisterSlotClass() {
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = SlotWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kClassName;
    if (RegisterClassExA(&wc)) return true;
    return GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

HWND AllocateHWnd(WndMethod Method) {
    static const bool registered = RegisterSlotClass();
    if (!registered) throw std::runtime_error("Cannot register the message window class");
    HWND wnd = CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleA(nullptr),
                               nullptr);
    if (!wnd)
        throw std::runtime_error("Cannot create a message window (error " + std::to_string(GetLastError()) + ")");
    auto *slot = new Slot{std::move(Method)};
    SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(slot));
    return wnd;
}

void DeallocateHWnd(HWND Wnd) {
    if (!Wnd) return;
    auto *slot = reinterpret_cast<Slot *>(GetWindowLongPtrA(Wnd, GWLP_USERDATA));
    SetWindowLongPtrA(Wnd, GWLP_USERDATA, 0);
    DestroyWindow(Wnd);
    if (!slot) return;
    if (slot->depth > 0)
        slot->released = true;
    else
        delete slot;
}

}  // namespace tw
