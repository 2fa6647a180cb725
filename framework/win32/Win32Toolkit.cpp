// The message loop, the common controls, colours, fonts and texts of the Win32 peer.
//
// One loop serves everything on the user-interface thread: the forms, the hidden windows of
// the platform (graph events, timers) and whatever other threads post. Keys of a form go
// through IsDialogMessageW first, which gives the Tab key its meaning among the controls.
// A modal box (MessageBoxW, the input box, the save dialog) runs the system's own loop, which
// dispatches the same messages.
#include "framework/win32/Win32Common.h"

#include "framework/Application.h"

#include <commctrl.h>

#include <stdexcept>
#include <vector>

namespace tw::ui {
namespace win32 {

std::wstring Wide(const std::string &Utf8Text) {
    if (Utf8Text.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, Utf8Text.data(), int(Utf8Text.size()), nullptr, 0);
    std::wstring out(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, Utf8Text.data(), int(Utf8Text.size()), out.data(), n);
    return out;
}

std::string Utf8(const wchar_t *Text, int Length) {
    if (!Text) return {};
    if (Length < 0) Length = int(wcslen(Text));
    if (Length == 0) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, Text, Length, nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, Text, Length, out.data(), n, nullptr, nullptr);
    return out;
}

std::string WindowText(HWND Wnd) {
    const int length = GetWindowTextLengthW(Wnd);
    if (length <= 0) return {};
    std::vector<wchar_t> buffer(size_t(length) + 1);
    const int got = GetWindowTextW(Wnd, buffer.data(), length + 1);
    return Utf8(buffer.data(), got);
}

COLORREF ToColorRef(TColor Color) {
    const TColor c = ColorToRGB(Color);
    return RGB(RedOf(c), GreenOf(c), BlueOf(c));
}

HFONT MakeFont(const TFont &Font) {
    const std::wstring face = Wide(Font.Name);
    return CreateFontW(Font.Height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, Font.Charset, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face.c_str());
}

TRect MeasureText(HWND Wnd, const std::string &Text, const TFont &Font) {
    HDC dc = GetDC(Wnd);
    if (!dc) return {};
    GdiObject<HFONT> font(MakeFont(Font));
    HGDIOBJ old = SelectObject(dc, font.get());
    const std::wstring text = Wide(Text);
    RECT r{0, 0, 0, 0};
    DrawTextW(dc, text.c_str(), int(text.size()), &r, DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS | DT_LEFT);
    SelectObject(dc, old);
    ReleaseDC(Wnd, dc);
    return {0, 0, int(r.right - r.left), int(r.bottom - r.top)};
}

namespace {

// Hands a form's keyboard message to IsDialogMessageW (Tab, Shift+Tab, arrows between the
// controls). True when it took the message.
bool DialogMessage(MSG &Msg) {
    if (Msg.message < WM_KEYFIRST || Msg.message > WM_KEYLAST || !Msg.hwnd) return false;
    HWND root = GetAncestor(Msg.hwnd, GA_ROOT);
    return root && IsFormWindow(root) && IsDialogMessageW(root, &Msg);
}

// One message of the loop. Nothing may unwind through the system's dispatch: a window
// procedure of ours catches what its handlers throw, and whatever still comes out here (a
// procedure outside the framework) is reported.
void Deliver(MSG &Msg) {
    try {
        if (DialogMessage(Msg)) return;
        TranslateMessage(&Msg);
        DispatchMessageW(&Msg);
    } catch (...) {
        Application->HandleException(nullptr);
    }
}

}  // namespace
}  // namespace win32

void InitializeToolkit() {
    static const bool ready = [] {
        INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_BAR_CLASSES | ICC_WIN95_CLASSES};
        InitCommonControlsEx(&icc);
        return win32::RegisterFormClass();
    }();
    if (!ready) throw std::runtime_error("Cannot register the form window class");
}

void RunLoop() {
    InitializeToolkit();
    MSG msg;
    for (;;) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1) break;  // WM_QUIT, or a loop that can no longer read
        win32::Deliver(msg);
    }
}

void QuitLoop() { PostQuitMessage(0); }

void ProcessMessages() {
    InitializeToolkit();
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // Not ours to take: the loop that runs (or the next one) ends on it.
            PostQuitMessage(int(msg.wParam));
            break;
        }
        win32::Deliver(msg);
    }
}

TColor ColorToRGB(TColor Color) {
    if (!IsSystemColor(Color)) return Color;
    const COLORREF c = GetSysColor(SystemColorIndex(Color));
    return RGBColor(GetRValue(c), GetGValue(c), GetBValue(c));
}

}  // namespace tw::ui
