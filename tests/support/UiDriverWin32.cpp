#include "support/UiDriver.h"

#include "framework/Peer.h"

#include <windows.h>

#include <thread>
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

HWND Wnd(TControl *C) { return static_cast<HWND>(C->Peer()->Handle()); }

// Whether input could reach Wnd: visible, and it and every window it sits in enabled.
bool Reachable(HWND Wnd) {
    if (!IsWindowVisible(Wnd)) return false;
    for (HWND w = Wnd; w; w = GetParent(w))
        if (!IsWindowEnabled(w)) return false;
    return true;
}

std::wstring TextOf(HWND Wnd) {
    // WM_GETTEXT works across threads, where GetWindowTextW would not ask the window.
    const LRESULT n = SendMessageW(Wnd, WM_GETTEXTLENGTH, 0, 0);
    std::vector<wchar_t> buffer(size_t(n) + 1);
    const LRESULT got = SendMessageW(Wnd, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()));
    return std::wstring(buffer.data(), size_t(got));
}

UINT VirtualKey(Key Which) {
    switch (Which) {
    case Key::Space: return VK_SPACE;
    case Key::Up: return VK_UP;
    case Key::Down: return VK_DOWN;
    case Key::Right: return VK_RIGHT;
    case Key::End: return VK_END;
    case Key::Tab: return VK_TAB;
    }
    return 0;
}

WPARAM MouseKeys(TShiftState Shift) {
    WPARAM k = 0;
    if (Shift & ssShift) k |= MK_SHIFT;
    if (Shift & ssCtrl) k |= MK_CONTROL;
    return k;
}

bool PostMouse(TControl *Control, UINT Msg, WPARAM Keys, int X, int Y) {
    HWND w = Wnd(Control);
    if (!Reachable(w)) return false;
    PostMessageW(w, Msg, Keys, MAKELPARAM(X, Y));
    tw::ui::ProcessMessages();
    return true;
}

}  // namespace

bool ShowForm(TForm *Form) {
    Form->Show();
    UpdateWindow(Wnd(Form));
    tw::ui::ProcessMessages();
    return IsWindowVisible(Wnd(Form));
}

bool Click(TControl *Control) {
    HWND w = Wnd(Control);
    if (!Reachable(w)) return false;
    SendMessageW(w, BM_CLICK, 0, 0);
    return true;
}

bool PressKey(TControl *Control, Key Which) {
    HWND w = Wnd(Control);
    if (!Reachable(w)) return false;
    SetFocus(w);
    const UINT vk = VirtualKey(Which);
    const UINT scan = MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
    PostMessageW(w, WM_KEYDOWN, vk, LPARAM(1 | scan << 16));
    PostMessageW(w, WM_KEYUP, vk, LPARAM(1 | scan << 16 | 3u << 30));
    tw::ui::ProcessMessages();  // through IsDialogMessageW, as the program's loop does
    return true;
}

bool Choose(TComboBox *Box, int Index) {
    HWND w = Wnd(Box);
    if (!Reachable(w)) return false;
    SendMessageW(w, CB_SETCURSEL, WPARAM(Index), 0);
    SendMessageW(GetParent(w), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(w), CBN_SELCHANGE), reinterpret_cast<LPARAM>(w));
    return true;
}

bool Type(TControl *Control, const std::string &Text) {
    HWND w = Wnd(Control);
    if (!Reachable(w)) return false;
    for (wchar_t c : Wide(Text)) PostMessageW(w, WM_CHAR, WPARAM(c), 1);
    tw::ui::ProcessMessages();
    return true;
}

bool MouseDown(TControl *Control, TMouseButton Button, TShiftState Shift, int X, int Y) {
    const UINT msg = Button == mbLeft ? WM_LBUTTONDOWN : Button == mbRight ? WM_RBUTTONDOWN : WM_MBUTTONDOWN;
    const WPARAM held = Button == mbLeft ? MK_LBUTTON : Button == mbRight ? MK_RBUTTON : MK_MBUTTON;
    return PostMouse(Control, msg, MouseKeys(Shift) | held, X, Y);
}

bool MouseUp(TControl *Control, TMouseButton Button, TShiftState Shift, int X, int Y) {
    const UINT msg = Button == mbLeft ? WM_LBUTTONUP : Button == mbRight ? WM_RBUTTONUP : WM_MBUTTONUP;
    return PostMouse(Control, msg, MouseKeys(Shift), X, Y);
}

void CloseByUser(TForm *Form) { SendMessageW(Wnd(Form), WM_SYSCOMMAND, SC_CLOSE, 0); }

// ---- Modal boxes.

namespace {

BOOL CALLBACK FindEdit(HWND Child, LPARAM Found) {
    wchar_t cls[32];
    if (GetClassNameW(Child, cls, 32) && _wcsicmp(cls, L"Edit") == 0 && (GetWindowLongW(Child, GWL_STYLE) & WS_VISIBLE)) {
        *reinterpret_cast<HWND *>(Found) = Child;
        return FALSE;
    }
    return TRUE;
}

class Win32Box : public BoxAccess {
public:
    explicit Win32Box(HWND Box) : box_(Box) {}

    std::string Caption() const override { return Utf8(TextOf(box_)); }
    std::string Message() const override {
        for (HWND c = GetWindow(box_, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            if (!IsStatic(c) || (GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) continue;
            const std::wstring text = TextOf(c);
            if (!text.empty()) return Utf8(text);
        }
        return {};
    }
    bool ErrorIcon() const override {
        for (HWND c = GetWindow(box_, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
            if (IsStatic(c) && (GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
                return reinterpret_cast<HICON>(SendMessageW(c, STM_GETICON, 0, 0)) ==
                       LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_ERROR));
        return false;
    }
    std::string Field() const override { return Utf8(TextOf(Edit())); }
    std::string SelectedText() const override {
        const DWORD sel = DWORD(SendMessageW(Edit(), EM_GETSEL, 0, 0));
        const std::wstring text = TextOf(Edit());
        const size_t from = LOWORD(sel), to = HIWORD(sel);
        return to > from && to <= text.size() ? Utf8(text.substr(from, to - from)) : std::string();
    }
    void ClearField() const override { SendMessageW(Edit(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"")); }
    void Type(const std::string &Text) const override {
        HWND edit = Edit();
        for (wchar_t c : Wide(Text)) SendMessageW(edit, WM_CHAR, WPARAM(c), 1);
    }
    void Press(Answer Button) const override {
        const int id = Button == Answer::Ok ? IDOK : Button == Answer::Cancel ? IDCANCEL : Button == Answer::Yes ? IDYES : IDNO;
        SendMessageW(GetDlgItem(box_, id), BM_CLICK, 0, 0);
    }
    void CloseBox() const override { SendMessageW(box_, WM_SYSCOMMAND, SC_CLOSE, 0); }

private:
    static bool IsStatic(HWND Wnd) {
        wchar_t cls[32];
        return GetClassNameW(Wnd, cls, 32) && _wcsicmp(cls, L"Static") == 0;
    }
    // The first edit control of the box, at any depth (the save dialog's file name sits in
    // a combo box).
    HWND Edit() const {
        HWND found = nullptr;
        EnumChildWindows(box_, FindEdit, reinterpret_cast<LPARAM>(&found));
        return found;
    }
    HWND box_;
};

const wchar_t kDialogClass[] = L"#32770";
constexpr DWORD kWaitMs = 20000;

}  // namespace

struct WhenBoxOpens::State {
    std::wstring caption;
    HANDLE opened = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HHOOK hook = nullptr;
    HWND box = nullptr;   // set on the user-interface thread before opened is signalled
    bool found = false;   // set by the second thread before done is signalled
    bool waited = false;
    std::thread thread;

    static LRESULT CALLBACK CbtProc(int Code, WPARAM wParam, LPARAM lParam);
};

namespace {
// The waiter of this thread, told by the CBT hook of every window activated on the thread.
thread_local WhenBoxOpens::State *t_waiter = nullptr;
}  // namespace

LRESULT CALLBACK WhenBoxOpens::State::CbtProc(int Code, WPARAM wParam, LPARAM lParam) {
    if (Code == HCBT_ACTIVATE && t_waiter && !t_waiter->box) {
        // A dialog is activated once it is made and initialised, as it is shown.
        auto box = reinterpret_cast<HWND>(wParam);
        wchar_t cls[16];
        if (GetClassNameW(box, cls, 16) && wcscmp(cls, kDialogClass) == 0 && TextOf(box) == t_waiter->caption) {
            t_waiter->box = box;
            SetEvent(t_waiter->opened);
        }
    }
    return CallNextHookEx(nullptr, Code, wParam, lParam);
}

WhenBoxOpens::WhenBoxOpens(const std::string &Caption, std::function<void(const BoxAccess &)> Act)
    : state_(std::make_unique<State>()) {
    State *s = state_.get();
    s->caption = Wide(Caption);
    t_waiter = s;
    s->hook = SetWindowsHookExW(WH_CBT, State::CbtProc, nullptr, GetCurrentThreadId());
    s->thread = std::thread([s, Act = std::move(Act)] {
        if (WaitForSingleObject(s->opened, kWaitMs) == WAIT_OBJECT_0) {
            s->found = true;
            // The box is being shown: this round trip returns once its thread takes messages
            // again, in the box's own loop.
            SendMessageW(s->box, WM_NULL, 0, 0);
            Act(Win32Box(s->box));
        }
        SetEvent(s->done);
    });
}

WhenBoxOpens::~WhenBoxOpens() { Wait(); }

bool WhenBoxOpens::Wait() {
    State *s = state_.get();
    if (s->waited) return s->found;
    s->waited = true;
    // Act may still send to a window of this thread: keep handling sent messages until it ends.
    while (MsgWaitForMultipleObjects(1, &s->done, FALSE, INFINITE, QS_SENDMESSAGE) != WAIT_OBJECT_0) {
        MSG m;
        PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    s->thread.join();
    UnhookWindowsHookEx(s->hook);
    t_waiter = nullptr;
    CloseHandle(s->opened);
    CloseHandle(s->done);
    return s->found;
}

}  // namespace tw::test
