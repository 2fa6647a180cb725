// What the Win32 peer's files share: text conversion, colours, fonts and the form's window
// class.
//
// Every text the framework hands over is UTF-8; the peer speaks to the system through the wide
// API only, so Chinese texts show whatever the system code page.
// Threads: the user-interface thread only.
#pragma once

#include "framework/Peer.h"

#include <windows.h>

#include <string>

namespace tw::ui::win32 {

std::wstring Wide(const std::string &Utf8);
std::string Utf8(const wchar_t *Text, int Length = -1);  // Length -1: up to the terminating NUL
// The window's text (a caption, a control's text), as UTF-8.
std::string WindowText(HWND Wnd);

COLORREF ToColorRef(TColor Color);
// A font for the control's LOGFONT: Height as the platform takes it (negative: character
// height in pixels), the face, the character set. The caller deletes it.
HFONT MakeFont(const TFont &Font);
// The size Text needs when drawn in Font on Wnd's screen, as a static control draws it.
TRect MeasureText(HWND Wnd, const std::string &Text, const TFont &Font);

// A GDI object that is deleted with its holder.
template <class H>
class GdiObject {
public:
    GdiObject() = default;
    explicit GdiObject(H Handle) : handle_(Handle) {}
    GdiObject(const GdiObject &) = delete;
    GdiObject &operator=(const GdiObject &) = delete;
    ~GdiObject() { reset(); }
    void reset(H Handle = nullptr) {
        if (handle_) DeleteObject(handle_);
        handle_ = Handle;
    }
    H get() const { return handle_; }

private:
    H handle_ = nullptr;
};

// The window class of every form, registered by InitializeToolkit.
inline const wchar_t kFormClass[] = L"TwForm";
// True for a top-level window of that class (the loop hands its keys to IsDialogMessageW).
bool IsFormWindow(HWND Wnd);
// Registers that class once (Win32Peers.cpp); false if the system refused.
bool RegisterFormClass();

}  // namespace tw::ui::win32
