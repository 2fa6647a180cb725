#include "support/UiDriver.h"

#include "framework/Peer.h"
#include "platform/text.h"

#include <windows.h>

#include <atomic>
#include <thread>
#include <vector>

namespace tw::test {
namespace {

HWND HandleOf(TControl *Control) { return static_cast<HWND>(Control->Peer()->Handle()); }

std::string ClassOf(HWND w) {
    wchar_t name[64] = {};
    GetClassNameW(w, name, 64);
    return tw::to_utf8(reinterpret_cast<const WCHAR *>(name));
}

std::string TextOf(HWND w) {
    const int n = GetWindowTextLengthW(w);
    std::wstring buf(static_cast<size_t>(n) + 1, L'\0');
    GetWindowTextW(w, buf.data(), n + 1);
    return tw::to_utf8(reinterpret_cast<const WCHAR *>(buf.c_str()));
}

// The visible, enabled top-level window of the thread that stands highest: while a modal box
// runs, that is the box (its owner is disabled and below it).
HWND TopWindowOf(DWORD thread) {
    HWND found = nullptr;
    EnumThreadWindows(
        thread,
        [](HWND w, LPARAM p) -> BOOL {
            if (!IsWindowVisible(w) || !IsWindowEnabled(w)) return TRUE;
            *reinterpret_cast<HWND *>(p) = w;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

std::vector<HWND> Descendants(HWND parent) {
    std::vector<HWND> all;
    EnumChildWindows(
        parent,
        [](HWND w, LPARAM p) -> BOOL {
            reinterpret_cast<std::vector<HWND> *>(p)->push_back(w);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&all));
    return all;
}

}  // namespace

void Pump() { tw::ui::ProcessMessages(); }

void UserClick(TControl *Control) {
    HWND w = HandleOf(Control);
    if (ClassOf(w) == "Button") {
        SendMessageW(w, BM_CLICK, 0, 0);
    } else {
        RECT r;
        GetClientRect(w, &r);
        const LPARAM at = MAKELPARAM(r.right / 2, r.bottom / 2);
        SendMessageW(w, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageW(w, WM_LBUTTONUP, 0, at);
    }
    Pump();
}

void UserSelect(TComboBox *Box, int Index) {
    HWND w = HandleOf(Box);
    SendMessageW(w, CB_SETCURSEL, static_cast<WPARAM>(Index), 0);
    // What a choice in the list sends to the parent.
    SendMessageW(GetParent(w), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(w), CBN_SELCHANGE), reinterpret_cast<LPARAM>(w));
    Pump();
}

void UserType(TMemo *Memo, const std::string &Text) {
    HWND w = HandleOf(Memo);
    SetFocus(w);
    SendMessageW(w, EM_SETSEL, 0, -1);
    SendMessageW(w, WM_CHAR, VK_BACK, 0);
    for (WCHAR c : tw::to_wide(Text)) SendMessageW(w, WM_CHAR, static_cast<WPARAM>(c), 1);
    Pump();
}

void UserMouse(TTrackBar *Bar, TMouseButton Button, bool Down, int X, int Y) {
    HWND w = HandleOf(Bar);
    UINT msg;
    WPARAM keys;
    switch (Button) {
        case mbRight: msg = Down ? WM_RBUTTONDOWN : WM_RBUTTONUP; keys = Down ? MK_RBUTTON : 0; break;
        case mbMiddle: msg = Down ? WM_MBUTTONDOWN : WM_MBUTTONUP; keys = Down ? MK_MBUTTON : 0; break;
        default: msg = Down ? WM_LBUTTONDOWN : WM_LBUTTONUP; keys = Down ? MK_LBUTTON : 0; break;
    }
    SendMessageW(w, msg, keys, MAKELPARAM(X, Y));
    Pump();
}

ModalSeen AnswerModal(const std::function<void()> &Action, ModalAnswer Answer, std::optional<std::string> Edit) {
    ModalSeen seen;
    std::atomic<bool> done{false};
    const DWORD ui = GetCurrentThreadId();
    HWND before = TopWindowOf(ui);
    // The box runs its own modal loop on this thread, so it is found and answered from another.
    std::thread answerer([&] {
        while (!done) {
            HWND box = TopWindowOf(ui);
            if (!box || box == before) {
                Sleep(10);
                continue;
            }
            seen.opened = true;
            seen.caption = TextOf(box);
            for (HWND child : Descendants(box)) {
                const std::string cls = ClassOf(child);
                const LONG style = GetWindowLongW(child, GWL_STYLE);
                if (cls == "Static" && (style & SS_TYPEMASK) == SS_ICON) seen.errorIcon = true;
                if (cls == "Static" && GetDlgCtrlID(child) == 0xFFFF && seen.text.empty()) seen.text = TextOf(child);
                if (cls == "Edit" && IsWindowVisible(child)) {
                    if (seen.text.empty()) seen.text = TextOf(child);
                    if (Edit) SendMessageW(child, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(tw::to_wide(*Edit).c_str()));
                    Edit.reset();
                }
            }
            if (Answer == ModalAnswer::Close)
                PostMessageW(box, WM_CLOSE, 0, 0);
            else
                PostMessageW(box, WM_COMMAND, MAKEWPARAM(Answer == ModalAnswer::Ok ? IDOK : IDCANCEL, BN_CLICKED), 0);
            return;
        }
    });
    Action();
    done = true;
    answerer.join();
    return seen;
}

}  // namespace tw::test
