// wintool: reads and drives another program's window from outside, for the end-to-end test
// under Wine. Windows are found by caption; texts are UTF-8 on the command line and output.
//
//   wintool wait CAPTION [MS]            waits until a top-level window has that caption
//   wintool texts CAPTION                prints "class|enabled|text" for each child window
//   wintool click CAPTION TEXT [N]       clicks the Nth (from 0) button captioned TEXT
//   wintool settext CAPTION CLASS N TEXT sets the text of the Nth child of that class
//   wintool select CAPTION N             picks item N of the first combo box, as a user does
//   wintool close CAPTION                asks the window to close (the close box)
//
// Exit code 0 on success, 1 when the window or control is not there, 2 on bad usage.
#include "platform/text.h"

#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::wstring Wide(const char *s) {
    const tw::wstring w = tw::to_wide(s);
    return std::wstring(w.begin(), w.end());
}

std::string Utf8(const std::wstring &s) { return tw::to_utf8(reinterpret_cast<const WCHAR *>(s.c_str())); }

// A window whose thread has not answered within two seconds: the tool says so and ends.
[[noreturn]] void NotAnswering(HWND w) {
    std::fprintf(stderr, "wintool: window %p does not answer\n", static_cast<void *>(w));
    std::exit(3);
}

std::wstring TextOf(HWND w) {
    // WM_GETTEXT crosses processes; GetWindowText does not for other programs' controls.
    DWORD_PTR n = 0;
    if (!SendMessageTimeoutW(w, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &n)) NotAnswering(w);
    std::wstring buf(static_cast<size_t>(n) + 1, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(w, WM_GETTEXT, static_cast<WPARAM>(n + 1), reinterpret_cast<LPARAM>(buf.data()),
                             SMTO_ABORTIFHUNG, 2000, &got))
        NotAnswering(w);
    buf.resize(static_cast<size_t>(got));
    return buf;
}

std::wstring ClassOf(HWND w) {
    wchar_t name[64] = {};
    GetClassNameW(w, name, 64);
    return name;
}

HWND Find(const std::wstring &caption, DWORD ms) {
    for (DWORD waited = 0;; waited += 50) {
        if (HWND w = FindWindowW(nullptr, caption.c_str())) return w;
        if (waited >= ms) return nullptr;
        Sleep(50);
    }
}

BOOL CALLBACK CollectChild(HWND w, LPARAM p) {
    reinterpret_cast<std::vector<HWND> *>(p)->push_back(w);
    return TRUE;
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> all;
    EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&all));
    return all;
}

HWND Nth(HWND parent, const std::wstring &cls, const std::wstring *text, int n) {
    for (HWND c : Children(parent)) {
        if (_wcsicmp(ClassOf(c).c_str(), cls.c_str()) != 0) continue;
        if (text && TextOf(c) != *text) continue;
        if (n-- == 0) return c;
    }
    return nullptr;
}

int Usage() {
    std::fprintf(stderr, "usage: wintool wait|texts|click|settext|select|close CAPTION ...\n");
    return 2;
}

}  // namespace

int main() {
    // The arguments as the system has them in UTF-16: the C runtime's argv would pass them
    // through the ANSI code page, which cannot hold the captions.
    int argc = 0;
    LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.push_back(Utf8(wide[i]));
    LocalFree(wide);
    _setmode(_fileno(stdout), _O_BINARY);  // lines end in "\n" alone, as the scripts read them
    std::vector<const char *> argv;
    for (const std::string &a : args) argv.push_back(a.c_str());
    if (argc < 3) return Usage();
    const std::string cmd = argv[1];
    const std::wstring caption = Wide(argv[2]);
    const DWORD ms = cmd == "wait" && argc > 3 ? static_cast<DWORD>(std::atoi(argv[3])) : 5000;
    HWND w = Find(caption, ms);
    if (!w) {
        std::fprintf(stderr, "wintool: no window captioned %s\n", argv[2]);
        return 1;
    }
    if (cmd == "wait") return 0;
    if (cmd == "texts") {
        for (HWND c : Children(w))
            std::printf("%s|%d|%s\n", Utf8(ClassOf(c)).c_str(), IsWindowEnabled(c) ? 1 : 0, Utf8(TextOf(c)).c_str());
        return 0;
    }
    if (cmd == "click" && argc >= 4) {
        const std::wstring text = Wide(argv[3]);
        HWND b = Nth(w, L"Button", &text, argc > 4 ? std::atoi(argv[4]) : 0);
        if (!b) return 1;
        PostMessageW(b, BM_CLICK, 0, 0);
        return 0;
    }
    if (cmd == "settext" && argc >= 6) {
        HWND c = Nth(w, Wide(argv[3]), nullptr, std::atoi(argv[4]));
        if (!c) return 1;
        const std::wstring text = Wide(argv[5]);
        SendMessageW(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
        return 0;
    }
    if (cmd == "select" && argc >= 4) {
        HWND c = Nth(w, L"ComboBox", nullptr, 0);
        if (!c) return 1;
        SendMessageW(c, CB_SETCURSEL, static_cast<WPARAM>(std::atoi(argv[3])), 0);
        PostMessageW(GetParent(c), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(c), CBN_SELCHANGE), reinterpret_cast<LPARAM>(c));
        return 0;
    }
    if (cmd == "close") {
        PostMessageW(w, WM_CLOSE, 0, 0);
        return 0;
    }
    return Usage();
}
