// The form and its controls as Win32 windows: a window class of our own for the form; the
// system's STATIC, BUTTON, EDIT and COMBOBOX classes and the common controls' track bar for
// the controls.
//
// The form's window procedure hands each control's notifications (WM_COMMAND, WM_NOTIFY,
// WM_HSCROLL) and colour requests (WM_CTLCOLOR...) to the peer of the control named in the
// message; a window property of the control leads to its peer. A handler run from there may
// destroy the form and its controls (a button whose click closes the program): after calling
// a sink, no procedure here touches its peer again.
#include "framework/win32/Win32Common.h"

#include "framework/Application.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <stdexcept>
#include <string>

namespace tw::ui {
namespace win32 {
namespace {

constexpr DWORD kFormExStyle = WS_EX_CONTROLPARENT;
// A drop-down list shows this many items before it scrolls.
constexpr int kDropDownCount = 8;
// The window property that leads from a control's window to its peer.
const wchar_t kPeerProperty[] = L"TwControlPeer";

HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

TShiftState ShiftOf(WPARAM Keys, bool Double) {
    TShiftState s = 0;
    if (Keys & MK_SHIFT) s |= ssShift;
    if (Keys & MK_CONTROL) s |= ssCtrl;
    if (GetKeyState(VK_MENU) < 0) s |= ssAlt;
    if (Keys & MK_LBUTTON) s |= ssLeft;
    if (Keys & MK_RBUTTON) s |= ssRight;
    if (Keys & MK_MBUTTON) s |= ssMiddle;
    if (Double) s |= ssDouble;
    return s;
}

class Win32FormPeer;

// One child window of a form and the sink it reports to.
class Win32ControlPeer : public ControlPeer {
public:
    Win32ControlPeer(ControlSink *Sink, Win32FormPeer *Form, const wchar_t *Class, DWORD Style, DWORD ExStyle);
    ~Win32ControlPeer() override {
        RemovePropW(wnd_, kPeerProperty);
        DestroyWindow(wnd_);
        if (font_) DeleteObject(font_);
    }

    // The peer of a control window of ours; null for any other window (a list that a combo
    // box drops down, a window of the system).
    static Win32ControlPeer *From(HWND Wnd) {
        if (!Wnd) return nullptr;
        return static_cast<Win32ControlPeer *>(GetPropW(Wnd, kPeerProperty));
    }

    void SetBounds(int Left, int Top, int Width, int Height) override {
        MoveWindow(wnd_, Left, Top, std::max(0, Width), std::max(0, Height), TRUE);
    }
    TRect NativeBounds() const override {
        RECT r;
        GetWindowRect(wnd_, &r);
        MapWindowPoints(HWND_DESKTOP, GetParent(wnd_), reinterpret_cast<POINT *>(&r), 2);
        return {int(r.left), int(r.top), int(r.right), int(r.bottom)};
    }
    void SetText(const std::string &Text) override { SetWindowTextW(wnd_, Wide(Text).c_str()); }
    std::string Text() const override { return WindowText(wnd_); }
    void SetEnabled(bool Enabled) override { EnableWindow(wnd_, Enabled); }
    bool NativeEnabled() const override { return IsWindowEnabled(wnd_); }
    void SetVisible(bool Visible) override { ShowWindow(wnd_, Visible ? SW_SHOWNA : SW_HIDE); }
    void SetFont(const TFont &Font) override {
        GdiObject<HFONT> old(font_);
        font_ = MakeFont(Font);
        SendMessageW(wnd_, WM_SETFONT, WPARAM(font_), TRUE);
        // The old font is deleted (by old) only now that the control no longer draws with it.
        textColor_ = Font.Color;
        InvalidateRect(wnd_, nullptr, TRUE);
    }
    void SetColor(TColor Color) override {
        color_ = Color;
        InvalidateRect(wnd_, nullptr, TRUE);
    }
    TRect TextExtent(const std::string &Text, const TFont &Font) const override { return MeasureText(wnd_, Text, Font); }
    void *Handle() const override { return wnd_; }

    // The control's notifications, as the form receives them.
    virtual void Command(WORD /*Code*/) {}
    virtual LRESULT Notify(const NMHDR & /*Header*/) { return 0; }
    virtual void Scroll(WORD /*Code*/) {}
    // WM_CTLCOLOR...: the brush of the control's background, with the text colour set on Dc.
    HBRUSH CtlColor(UINT Msg, HDC Dc);

protected:
    ControlSink *sink_;
    Win32FormPeer *form_;  // not owned: the form's peer outlives its controls' peers
    HWND wnd_;
    TColor color_ = clDefault;
    TColor textColor_ = clWindowText;

private:
    HFONT font_ = nullptr;
    GdiObject<HBRUSH> brush_;
    COLORREF brushColor_ = CLR_INVALID;
};

// ---- Form: a top-level window with a single fixed border and a client area of the size given.

class Win32FormPeer : public FormPeer {
public:
    explicit Win32FormPeer(ControlSink *Sink) : sink_(Sink) {
        wnd_ = CreateWindowExW(kFormExStyle, kFormClass, L"", Style(), CW_USEDEFAULT, CW_USEDEFAULT, 0, 0, nullptr,
                               nullptr, Instance(), this);
        if (!wnd_) throw std::runtime_error("Cannot create a form window (error " + std::to_string(GetLastError()) + ")");
    }
    ~Win32FormPeer() override {
        SetWindowLongPtrW(wnd_, GWLP_USERDATA, 0);
        DestroyWindow(wnd_);
    }

    static Win32FormPeer *From(HWND Wnd) {
        return reinterpret_cast<Win32FormPeer *>(GetWindowLongPtrW(Wnd, GWLP_USERDATA));
    }

    // Left and Top are the stored position, which a centred form does not use.
    void SetBounds(int, int, int Width, int Height) override {
        clientWidth_ = std::max(0, Width);
        clientHeight_ = std::max(0, Height);
        ApplyClientSize();
    }
    TRect NativeBounds() const override {
        RECT r;
        GetClientRect(wnd_, &r);
        MapWindowPoints(wnd_, HWND_DESKTOP, reinterpret_cast<POINT *>(&r), 2);
        return {int(r.left), int(r.top), int(r.right), int(r.bottom)};
    }
    void SetText(const std::string &Text) override { SetWindowTextW(wnd_, Wide(Text).c_str()); }
    std::string Text() const override { return WindowText(wnd_); }
    void SetEnabled(bool Enabled) override { EnableWindow(wnd_, Enabled); }
    bool NativeEnabled() const override { return IsWindowEnabled(wnd_); }
    void SetVisible(bool Visible) override {
        if (Visible)
            ShowCentred();
        else
            Hide();
    }
    // The form's own font serves nothing it draws: each control has its own.
    void SetFont(const TFont &) override {}
    void SetColor(TColor Color) override {
        color_ = Color;
        RedrawWindow(wnd_, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_ALLCHILDREN);
    }
    TRect TextExtent(const std::string &Text, const TFont &Font) const override { return MeasureText(wnd_, Text, Font); }
    void *Handle() const override { return wnd_; }

    void SetBorderIcons(bool SystemMenu, bool Minimize, bool Maximize) override {
        icons_ = (SystemMenu ? WS_SYSMENU : 0) | (Minimize ? WS_MINIMIZEBOX : 0) | (Maximize ? WS_MAXIMIZEBOX : 0);
        SetWindowLongPtrW(wnd_, GWL_STYLE, LONG_PTR((GetWindowLongPtrW(wnd_, GWL_STYLE) & ~kIconStyles) | icons_));
        ApplyClientSize();
    }
    void SetTabOrder(const std::vector<ControlPeer *> &Order) override {
        // IsDialogMessageW visits the tab stops in the order of the windows on top of one
        // another: lay the controls out in that order (they do not overlap).
        HWND after = HWND_TOP;
        for (ControlPeer *p : Order) {
            auto *wnd = static_cast<HWND>(p->Handle());
            SetWindowPos(wnd, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
            after = wnd;
        }
    }
    void ShowCentred() override {
        RECT outer;
        GetWindowRect(wnd_, &outer);
        RECT area{};
        MONITORINFO mi{};
        mi.cbSize = sizeof mi;
        if (GetMonitorInfoW(MonitorFromWindow(wnd_, MONITOR_DEFAULTTOPRIMARY), &mi))
            area = mi.rcWork;
        else
            SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
        const int w = outer.right - outer.left, h = outer.bottom - outer.top;
        SetWindowPos(wnd_, nullptr, area.left + (area.right - area.left - w) / 2,
                     area.top + (area.bottom - area.top - h) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        ShowWindow(wnd_, SW_SHOW);
        SetForegroundWindow(wnd_);
        if (!IsChild(wnd_, GetFocus())) FocusFirst();
    }
    void Hide() override { ShowWindow(wnd_, SW_HIDE); }
    void RequestClose() override { SendMessageW(wnd_, WM_CLOSE, 0, 0); }

    HBRUSH Brush() {
        const COLORREF c = ToColorRef(color_ == clDefault ? clBtnFace : color_);
        if (c != brushColor_) {
            brush_.reset(CreateSolidBrush(c));
            brushColor_ = c;
        }
        return brush_.get();
    }
    TColor Color() const { return color_ == clDefault ? clBtnFace : color_; }

    LRESULT Procedure(UINT Msg, WPARAM wParam, LPARAM lParam);
    // The window, known from its first message on (before CreateWindowExW returns).
    void Attach(HWND Wnd) { wnd_ = Wnd; }

private:
    static constexpr LONG_PTR kIconStyles = WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;

    DWORD Style() const { return WS_OVERLAPPED | WS_CAPTION | WS_CLIPCHILDREN | icons_; }

    void ApplyClientSize() {
        RECT r{0, 0, clientWidth_, clientHeight_};
        AdjustWindowRectEx(&r, DWORD(GetWindowLongPtrW(wnd_, GWL_STYLE)), FALSE, kFormExStyle);
        SetWindowPos(wnd_, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    }
    void FocusFirst() {
        if (HWND first = GetNextDlgTabItem(wnd_, nullptr, FALSE)) SetFocus(first);
    }

    ControlSink *sink_;
    HWND wnd_ = nullptr;
    DWORD icons_ = WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
    int clientWidth_ = 0, clientHeight_ = 0;
    TColor color_ = clDefault;
    GdiObject<HBRUSH> brush_;
    COLORREF brushColor_ = CLR_INVALID;
    HWND lastFocus_ = nullptr;  // the control that had the focus when the form was deactivated
};

LRESULT Win32FormPeer::Procedure(UINT Msg, WPARAM wParam, LPARAM lParam) {
    switch (Msg) {
    case WM_COMMAND:
        if (auto *c = Win32ControlPeer::From(reinterpret_cast<HWND>(lParam))) c->Command(HIWORD(wParam));
        return 0;
    case WM_NOTIFY: {
        const auto *h = reinterpret_cast<const NMHDR *>(lParam);
        if (auto *c = h ? Win32ControlPeer::From(h->hwndFrom) : nullptr) return c->Notify(*h);
        return 0;
    }
    case WM_HSCROLL:
    case WM_VSCROLL:
        if (auto *c = Win32ControlPeer::From(reinterpret_cast<HWND>(lParam))) c->Scroll(LOWORD(wParam));
        return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORLISTBOX:
        // lParam names the control asking; a list that a combo box drops down is none of ours.
        if (auto *c = Win32ControlPeer::From(reinterpret_cast<HWND>(lParam)))
            if (HBRUSH b = c->CtlColor(Msg, reinterpret_cast<HDC>(wParam))) return reinterpret_cast<LRESULT>(b);
        break;
    case WM_ERASEBKGND: {
        RECT r;
        GetClientRect(wnd_, &r);
        FillRect(reinterpret_cast<HDC>(wParam), &r, Brush());
        return 1;
    }
    case WM_CLOSE:
        // The close box, Alt+F4, the system menu: the form decides (and hides itself).
        sink_->PeerCloseQuery();
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) {
            HWND focus = GetFocus();
            if (focus && IsChild(wnd_, focus)) lastFocus_ = focus;
        } else if (!HIWORD(wParam)) {
            if (lastFocus_ && IsWindow(lastFocus_) && IsChild(wnd_, lastFocus_))
                SetFocus(lastFocus_);
            else
                FocusFirst();
        }
        return 0;
    default:
        break;
    }
    return DefWindowProcW(wnd_, Msg, wParam, lParam);
}

LRESULT CALLBACK FormWindowProc(HWND Wnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (Msg == WM_NCCREATE) {
        auto *cs = reinterpret_cast<const CREATESTRUCTW *>(lParam);
        auto *created = static_cast<Win32FormPeer *>(cs->lpCreateParams);
        created->Attach(Wnd);
        SetWindowLongPtrW(Wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
    }
    Win32FormPeer *peer = Win32FormPeer::From(Wnd);
    if (!peer) return DefWindowProcW(Wnd, Msg, wParam, lParam);
    try {
        return peer->Procedure(Msg, wParam, lParam);
    } catch (...) {
        // Nothing may unwind through the system's dispatch.
        Application->HandleException(nullptr);
        return 0;
    }
}

Win32ControlPeer::Win32ControlPeer(ControlSink *Sink, Win32FormPeer *Form, const wchar_t *Class, DWORD Style,
                                   DWORD ExStyle)
    : sink_(Sink), form_(Form) {
    static UINT_PTR nextId = 100;  // control identifiers; notifications are routed by handle
    wnd_ = CreateWindowExW(ExStyle, Class, L"", WS_CHILD | WS_CLIPSIBLINGS | Style, 0, 0, 0, 0,
                           static_cast<HWND>(Form->Handle()), reinterpret_cast<HMENU>(nextId++), Instance(), nullptr);
    if (!wnd_) throw std::runtime_error("Cannot create a control window (error " + std::to_string(GetLastError()) + ")");
    SetPropW(wnd_, kPeerProperty, this);
}

HBRUSH Win32ControlPeer::CtlColor(UINT Msg, HDC Dc) {
    // Without a colour of its own a control takes the platform's: the window colour for an
    // editable box or a list, the form's colour for the rest (labels, read-only boxes, the
    // track bar's background).
    TColor c = color_;
    if (c == clDefault || c == clNone) c = (Msg == WM_CTLCOLOREDIT || Msg == WM_CTLCOLORLISTBOX) ? clWindow : form_->Color();
    const COLORREF rgb = ToColorRef(c);
    SetTextColor(Dc, ToColorRef(textColor_));
    SetBkColor(Dc, rgb);
    if (rgb != brushColor_) {
        brush_.reset(CreateSolidBrush(rgb));
        brushColor_ = rgb;
    }
    return brush_.get();
}

// ---- Label.

class LabelPeer : public Win32ControlPeer {
public:
    LabelPeer(ControlSink *Sink, Win32FormPeer *Form)
        : Win32ControlPeer(Sink, Form, L"STATIC", SS_LEFT | SS_NOPREFIX, 0) {}
};

// ---- Button: BN_CLICKED comes from a press by mouse or keyboard, never from the program.

class ButtonPeer : public Win32ControlPeer {
public:
    ButtonPeer(ControlSink *Sink, Win32FormPeer *Form)
        : Win32ControlPeer(Sink, Form, L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 0) {}
    void Command(WORD Code) override {
        if (Code == BN_CLICKED) sink_->PeerClick();
    }
};

// ---- Memo: a multi-line edit box. Tab moves on to the next control, as in a dialog.

class MemoPeer : public Win32ControlPeer {
public:
    MemoPeer(ControlSink *Sink, Win32FormPeer *Form)
        : Win32ControlPeer(Sink, Form, L"EDIT", ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | WS_TABSTOP,
                           WS_EX_CLIENTEDGE) {
        SetWindowSubclass(wnd_, KeysProc, 0, 0);
    }
    // A multi-line edit box is documented to send no EN_CHANGE for WM_SETTEXT; should one come
    // all the same, it is the program's doing, not the user's.
    void SetText(const std::string &Text) override {
        const std::wstring text = Wide(Text);
        settingText_ = true;
        SetWindowTextW(wnd_, text.c_str());
        settingText_ = false;
    }
    void SetReadOnly(bool ReadOnly) override { SendMessageW(wnd_, EM_SETREADONLY, ReadOnly, 0); }
    void Command(WORD Code) override {
        if (Code == EN_CHANGE && !settingText_) sink_->PeerChange();
    }

private:
    static LRESULT CALLBACK KeysProc(HWND Wnd, UINT Msg, WPARAM wParam, LPARAM lParam, UINT_PTR Id, DWORD_PTR) {
        if (Msg == WM_NCDESTROY) RemoveWindowSubclass(Wnd, KeysProc, Id);
        LRESULT r = DefSubclassProc(Wnd, Msg, wParam, lParam);
        if (Msg == WM_GETDLGCODE) {
            // The edit box asks for every key; leave Tab to the dialog navigation.
            r &= ~LRESULT(DLGC_WANTTAB);
            const auto *m = reinterpret_cast<const MSG *>(lParam);
            if (m && (m->message == WM_KEYDOWN || m->message == WM_CHAR) && m->wParam == VK_TAB)
                r &= ~LRESULT(DLGC_WANTALLKEYS | DLGC_WANTMESSAGE);
        }
        return r;
    }
    bool settingText_ = false;
};

// ---- Combo box: a drop-down list. CB_SETCURSEL by the program sends no notification; the
// user's choice sends CBN_SELCHANGE.

class ComboBoxPeer : public Win32ControlPeer {
public:
    ComboBoxPeer(ControlSink *Sink, Win32FormPeer *Form)
        : Win32ControlPeer(Sink, Form, L"COMBOBOX", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 0) {
        SendMessageW(wnd_, CB_SETMINVISIBLE, kDropDownCount, 0);
    }
    // The height given is the closed box's; the window also spans the list it drops down. The
    // closed box's own height follows its font, as the system sizes it.
    void SetBounds(int Left, int Top, int Width, int Height) override {
        const int item = std::max(1, int(SendMessageW(wnd_, CB_GETITEMHEIGHT, 0, 0)));
        Win32ControlPeer::SetBounds(Left, Top, Width, std::max(0, Height) + kDropDownCount * item + 2);
    }
    // The box shows the chosen item; there is no text of its own to set.
    void SetText(const std::string &) override {}
    void SetItems(const std::vector<std::string> &Items) override {
        SendMessageW(wnd_, CB_RESETCONTENT, 0, 0);
        for (const std::string &i : Items) SendMessageW(wnd_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(i).c_str()));
    }
    void SetItemHeight(int Height) override { SendMessageW(wnd_, CB_SETITEMHEIGHT, 0, std::max(1, Height)); }
    void SetItemIndex(int Index) override { SendMessageW(wnd_, CB_SETCURSEL, WPARAM(Index), 0); }
    int ItemIndex() const override {
        const LRESULT i = SendMessageW(wnd_, CB_GETCURSEL, 0, 0);
        return i == CB_ERR ? -1 : int(i);
    }
    void Command(WORD Code) override {
        if (Code == CBN_SELCHANGE) sink_->PeerChange();
    }
};

// ---- Track bar: msctls_trackbar32. WM_HSCROLL reports the user's moves; the program's
// TBM_SETPOS is not one. Mouse presses and releases are reported after the control has
// handled them, so a release handler reads the position the thumb was let go at.

class TrackBarPeer : public Win32ControlPeer {
public:
    TrackBarPeer(ControlSink *Sink, Win32FormPeer *Form)
        : Win32ControlPeer(Sink, Form, TRACKBAR_CLASSW, TBS_HORZ | TBS_BOTTOM | TBS_AUTOTICKS | WS_TABSTOP, 0) {
        SendMessageW(wnd_, TBM_SETPAGESIZE, 0, 1);
        SendMessageW(wnd_, TBM_SETLINESIZE, 0, 1);
        SetWindowSubclass(wnd_, MouseProc, 0, reinterpret_cast<DWORD_PTR>(this));
    }
    void SetText(const std::string &) override {}
    void SetRange(int Min, int Max) override {
        SendMessageW(wnd_, TBM_SETRANGEMIN, FALSE, Min);
        SendMessageW(wnd_, TBM_SETRANGEMAX, TRUE, Max);
        last_ = Position();
    }
    void SetPosition(int Position) override {
        last_ = Position;  // a notification the move might send is then no change
        SendMessageW(wnd_, TBM_SETPOS, TRUE, Position);
        last_ = this->Position();
    }
    int Position() const override { return int(SendMessageW(wnd_, TBM_GETPOS, 0, 0)); }
    void Scroll(WORD) override {
        const int now = Position();
        if (now == last_) return;
        last_ = now;
        sink_->PeerChange();
    }

private:
    static LRESULT CALLBACK MouseProc(HWND Wnd, UINT Msg, WPARAM wParam, LPARAM lParam, UINT_PTR Id, DWORD_PTR Ref) {
        if (Msg == WM_NCDESTROY) {
            RemoveWindowSubclass(Wnd, MouseProc, Id);
            return DefSubclassProc(Wnd, Msg, wParam, lParam);
        }
        // The peer's property goes when the peer does: no report after that. A handler run
        // while the control handles the message (its WM_HSCROLL) may take the control away.
        auto *peer = reinterpret_cast<TrackBarPeer *>(Ref);
        const LRESULT r = DefSubclassProc(Wnd, Msg, wParam, lParam);
        if (Win32ControlPeer::From(Wnd) != peer) return r;
        TMouseButton button;
        bool down;
        switch (Msg) {
        case WM_LBUTTONDOWN: case WM_LBUTTONDBLCLK: button = mbLeft; down = true; break;
        case WM_RBUTTONDOWN: case WM_RBUTTONDBLCLK: button = mbRight; down = true; break;
        case WM_MBUTTONDOWN: case WM_MBUTTONDBLCLK: button = mbMiddle; down = true; break;
        case WM_LBUTTONUP: button = mbLeft; down = false; break;
        case WM_RBUTTONUP: button = mbRight; down = false; break;
        case WM_MBUTTONUP: button = mbMiddle; down = false; break;
        default: return r;
        }
        const bool dbl = Msg == WM_LBUTTONDBLCLK || Msg == WM_RBUTTONDBLCLK || Msg == WM_MBUTTONDBLCLK;
        const TShiftState shift = ShiftOf(wParam, dbl);
        const int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
        // The press may have moved the thumb: that is the user's change, reported first.
        peer->Scroll(0);
        if (Win32ControlPeer::From(Wnd) != peer) return r;  // the change handler took the control away
        try {
            if (down)
                peer->sink_->PeerMouseDown(button, shift, x, y);
            else
                peer->sink_->PeerMouseUp(button, shift, x, y);
        } catch (...) {
            Application->HandleException(nullptr);
        }
        return r;
    }
    int last_ = 0;
};

}  // namespace

bool IsFormWindow(HWND Wnd) {
    wchar_t name[16];
    return GetClassNameW(Wnd, name, 16) && wcscmp(name, kFormClass) == 0;
}

bool RegisterFormClass() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = FormWindowProc;
    wc.hInstance = Instance();
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    // The program's icon when it carries one; the system's otherwise.
    wc.hIcon = LoadIconW(Instance(), L"MAINICON");
    if (!wc.hIcon) wc.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    wc.lpszClassName = kFormClass;
    return RegisterClassExW(&wc) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace win32

std::unique_ptr<FormPeer> CreateFormPeer(ControlSink *Sink) {
    InitializeToolkit();
    return std::make_unique<win32::Win32FormPeer>(Sink);
}

std::unique_ptr<ControlPeer> CreateControlPeer(PeerKind Kind, ControlSink *Sink, FormPeer *Parent) {
    auto *form = static_cast<win32::Win32FormPeer *>(Parent);
    switch (Kind) {
    case PeerKind::Label: return std::make_unique<win32::LabelPeer>(Sink, form);
    case PeerKind::Button: return std::make_unique<win32::ButtonPeer>(Sink, form);
    case PeerKind::Memo: return std::make_unique<win32::MemoPeer>(Sink, form);
    case PeerKind::ComboBox: return std::make_unique<win32::ComboBoxPeer>(Sink, form);
    case PeerKind::TrackBar: return std::make_unique<win32::TrackBarPeer>(Sink, form);
    case PeerKind::Form: break;
    }
    return nullptr;
}

}  // namespace tw::ui
