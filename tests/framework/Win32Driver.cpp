#include "framework/Win32Driver.h"

#include "framework/Peer.h"

#include <vector>

namespace tw::test {
namespace {

std::wstring Wide(const std::string &S) {
    if (S.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, S.data(), int(S.size()), nullptr, 0);
    std::wstring out(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, S.data(), int(S.size()), out.data(), n);
    return out;
}

std::string Utf8(const std::wstring &S) {
    if (S.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, S.data(), int(S.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, S.data(), int(S.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring TextOf(HWND Wnd) {
    // WM_GETTEXT works across threads, where GetWindowTextW would not ask the window.
    const LRESULT n = SendMessageW(Wnd, WM_GETTEXTLENGTH, 0, 0);
    std::vector<wchar_t> buffer(size_t(n) + 1);
    const LRESULT got = SendMessageW(Wnd, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()));
    return std::wstring(buffer.data(), size_t(got));
}

WPARAM MouseKeys(TShiftState Shift) {
    WPARAM k = 0;
    if (Shift & ssShift) k |= MK_SHIFT;
    if (Shift & ssCtrl) k |= MK_CONTROL;
    return k;
}

WPARAM ButtonKey(TMouseButton Button) {
    return Button == mbLeft ? MK_LBUTTON : Button == mbRight ? MK_RBUTTON : MK_MBUTTON;
}

}  // namespace

bool Reachable(HWND Wnd) {
    if (!IsWindowVisible(Wnd)) return false;
    for (HWND w = Wnd; w; w = GetParent(w))
        if (!IsWindowEnabled(w)) return false;
    return true;
}

bool Click(HWND Button) {
    if (!Reachable(Button)) return false;
    SendMessageW(Button, BM_CLICK, 0, 0);
    return true;
}

bool Choose(HWND ComboBox, int Index) {
    if (!Reachable(ComboBox)) return false;
    SendMessageW(ComboBox, CB_SETCURSEL, WPARAM(Index), 0);
    SendMessageW(GetParent(ComboBox), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(ComboBox), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(ComboBox));
    return true;
}

bool Key(HWND Wnd, UINT VirtualKey) {
    if (!Reachable(Wnd)) return false;
    const UINT scan = MapVirtualKeyW(VirtualKey, MAPVK_VK_TO_VSC);
    PostMessageW(Wnd, WM_KEYDOWN, VirtualKey, LPARAM(1 | scan << 16));
    PostMessageW(Wnd, WM_KEYUP, VirtualKey, LPARAM(1 | scan << 16 | 3u << 30));
    tw::ui::ProcessMessages();
    return true;
}

bool Type(HWND Wnd, const std::string &Text) {
    if (!Reachable(Wnd)) return false;
    for (wchar_t c : Wide(Text)) PostMessageW(Wnd, WM_CHAR, WPARAM(c), 1);
    tw::ui::ProcessMessages();
    return true;
}

bool Press(HWND Wnd, TMouseButton Button, TShiftState Shift, int X, int Y) {
    if (!Reachable(Wnd)) return false;
    const UINT msg = Button == mbLeft ? WM_LBUTTONDOWN : Button == mbRight ? WM_RBUTTONDOWN : WM_MBUTTONDOWN;
    PostMessageW(Wnd, msg, MouseKeys(Shift) | ButtonKey(Button), MAKELPARAM(X, Y));
    tw::ui::ProcessMessages();
    return true;
}

bool Release(HWND Wnd, TMouseButton Button, TShiftState Shift, int X, int Y) {
    if (!Reachable(Wnd)) return false;
    const UINT msg = Button == mbLeft ? WM_LBUTTONUP : Button == mbRight ? WM_RBUTTONUP : WM_MBUTTONUP;
    PostMessageW(Wnd, msg, MouseKeys(Shift), MAKELPARAM(X, Y));
    tw::ui::ProcessMessages();
    return true;
}

// ---- Modal boxes.

std::string BoxAccess::Caption() const { return Utf8(TextOf(box)); }

std::string BoxAccess::Message() const {
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        wchar_t cls[32];
        if (!GetClassNameW(c, cls, 32) || _wcsicmp(cls, L"Static") != 0) continue;
        if ((GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) continue;
        const std::wstring text = TextOf(c);
        if (!text.empty()) return Utf8(text);
    }
    return {};
}

HICON BoxAccess::Icon() const {
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        wchar_t cls[32];
        if (GetClassNameW(c, cls, 32) && _wcsicmp(cls, L"Static") == 0 &&
            (GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            return reinterpret_cast<HICON>(SendMessageW(c, STM_GETICON, 0, 0));
    }
    return nullptr;
}

namespace {

BOOL CALLBACK FindEdit(HWND Child, LPARAM Found) {
    wchar_t cls[32];
    if (GetClassNameW(Child, cls, 32) && _wcsicmp(cls, L"Edit") == 0 && (GetWindowLongW(Child, GWL_STYLE) & WS_VISIBLE)) {
        *reinterpret_cast<HWND *>(Found) = Child;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND BoxAccess::Edit() const {
    HWND found = nullptr;
    EnumChildWindows(box, FindEdit, reinterpret_cast<LPARAM>(&found));
    return found;
}

void BoxAccess::Type(const std::string &Text) const {
    HWND edit = Edit();
    for (wchar_t c : Wide(Text)) SendMessageW(edit, WM_CHAR, WPARAM(c), 1);
}

void BoxAccess::Press(int ButtonId) const { SendMessageW(GetDlgItem(box, ButtonId), BM_CLICK, 0, 0); }

void BoxAccess::CloseBox() const { SendMessageW(box, WM_SYSCOMMAND, SC_CLOSE, 0); }

namespace {

const wchar_t kDialogClass[] = L"#32770";
constexpr DWORD kWaitMs = 20000;

// The waiter of this thread, told by the CBT hook of every window activated on the thread.
thread_local WhenBoxOpens *t_waiter = nullptr;

}  // namespace

LRESULT CALLBACK WhenBoxOpens::CbtProc(int Code, WPARAM wParam, LPARAM lParam) {
    if (Code == HCBT_ACTIVATE && t_waiter && !t_waiter->box_) {
        // A dialog is activated once it is made and initialised, right before its loop runs.
        auto box = reinterpret_cast<HWND>(wParam);
        wchar_t cls[16];
        if (GetClassNameW(box, cls, 16) && wcscmp(cls, kDialogClass) == 0 && TextOf(box) == t_waiter->caption_) {
            t_waiter->box_ = box;
            SetEvent(t_waiter->opened_);
        }
    }
    return CallNextHookEx(nullptr, Code, wParam, lParam);
}

WhenBoxOpens::WhenBoxOpens(const std::string &Caption, std::function<void(const BoxAccess &)> Act)
    : caption_(Wide(Caption)), opened_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    t_waiter = this;
    hook_ = SetWindowsHookExW(WH_CBT, CbtProc, nullptr, GetCurrentThreadId());
    thread_ = std::thread([this, Act = std::move(Act)] {
        if (WaitForSingleObject(opened_, kWaitMs) == WAIT_OBJECT_0) {
            found_ = true;
            // The box is being shown: a first round trip returns once its thread takes
            // messages again, in the box's own loop. Whatever Act sends then waits for that
            // loop to handle it.
            SendMessageW(box_, WM_NULL, 0, 0);
            Act(BoxAccess{box_});
        }
        SetEvent(done_);
    });
}

bool WhenBoxOpens::Wait() {
    if (waited_) return found_;
    waited_ = true;
    // Act may still send to a window of this thread: keep handling sent messages until it ends.
    while (MsgWaitForMultipleObjects(1, &done_, FALSE, INFINITE, QS_SENDMESSAGE) != WAIT_OBJECT_0) {
        MSG m;
        PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    thread_.join();
    UnhookWindowsHookEx(hook_);
    t_waiter = nullptr;
    CloseHandle(opened_);
    CloseHandle(done_);
    return found_;
}

}  // namespace tw::test
