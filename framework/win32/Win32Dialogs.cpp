// The modal dialogs: message boxes, the input box and the save-file dialog.
//
// Each runs the system's modal loop, which dispatches every message of the thread (the
// platform's hidden windows, timers, posts from other threads) while the box is open.
#include "framework/win32/Win32Common.h"

#include <commdlg.h>

#include <vector>

namespace tw::ui {
namespace {

using win32::Utf8;
using win32::Wide;

HWND OwnerWindow(FormPeer *Owner) {
    if (Owner) {
        auto *wnd = static_cast<HWND>(Owner->Handle());
        if (wnd && IsWindowVisible(wnd)) return wnd;
    }
    return GetActiveWindow();
}

// ---- The input box, from a dialog template built in memory.

// Control identifiers of the input box besides IDOK and IDCANCEL.
constexpr WORD kPromptId = 100, kEditId = 101;

// Writes a DLGTEMPLATE and its items: WORDs, DWORD-aligned items, zero-terminated UTF-16.
class DialogTemplate {
public:
    DialogTemplate(DWORD Style, short Cx, short Cy, const wchar_t *FontFace, WORD PointSize) {
        Dword(Style);
        Dword(0);  // extended style
        countAt_ = words_.size();
        Word(0);  // number of items, counted as they are added
        Word(0);  // x, y: the dialog centres itself
        Word(0);
        Word(WORD(Cx));
        Word(WORD(Cy));
        Word(0);  // no menu
        Word(0);  // the standard dialog class
        Word(0);  // no title: set when the dialog starts
        Word(PointSize);
        String(FontFace);
    }
    // Class: the predefined atom (0x0080 button, 0x0081 edit, 0x0082 static).
    void Item(DWORD Style, short X, short Y, short Cx, short Cy, WORD Id, WORD ClassAtom, const wchar_t *Text) {
        if (words_.size() % 2) Word(0);  // items start on a DWORD boundary
        Dword(Style | WS_CHILD | WS_VISIBLE);
        Dword(0);
        Word(WORD(X));
        Word(WORD(Y));
        Word(WORD(Cx));
        Word(WORD(Cy));
        Word(Id);
        Word(0xFFFF);
        Word(ClassAtom);
        String(Text);
        Word(0);  // no creation data
        ++words_[countAt_];
    }
    const DLGTEMPLATE *Get() const { return reinterpret_cast<const DLGTEMPLATE *>(words_.data()); }

private:
    void Word(WORD W) { words_.push_back(W); }
    void Dword(DWORD D) {
        Word(LOWORD(D));
        Word(HIWORD(D));
    }
    void String(const wchar_t *S) {
        for (; *S; ++S) Word(WORD(*S));
        Word(0);
    }
    std::vector<WORD> words_;  // WORD-aligned as a vector's storage is; the template starts DWORD-aligned
    size_t countAt_ = 0;
};

struct InputState {
    std::wstring caption, prompt, value;
    int maxLength;
};

INT_PTR CALLBACK InputProc(HWND Dlg, UINT Msg, WPARAM wParam, LPARAM lParam) {
    switch (Msg) {
    case WM_INITDIALOG: {
        auto *s = reinterpret_cast<InputState *>(lParam);
        SetWindowLongPtrW(Dlg, DWLP_USER, lParam);
        SetWindowTextW(Dlg, s->caption.c_str());
        SetDlgItemTextW(Dlg, kPromptId, s->prompt.c_str());
        HWND edit = GetDlgItem(Dlg, kEditId);
        SendMessageW(edit, EM_LIMITTEXT, WPARAM(s->maxLength), 0);
        SetWindowTextW(edit, s->value.c_str());
        SendMessageW(edit, EM_SETSEL, 0, -1);
        SetFocus(edit);
        return FALSE;  // the focus is set
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            auto *s = reinterpret_cast<InputState *>(GetWindowLongPtrW(Dlg, DWLP_USER));
            HWND edit = GetDlgItem(Dlg, kEditId);
            std::vector<wchar_t> text(size_t(GetWindowTextLengthW(edit)) + 1);
            const int n = GetWindowTextW(edit, text.data(), int(text.size()));
            s->value.assign(text.data(), size_t(n));
            EndDialog(Dlg, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(Dlg, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        EndDialog(Dlg, IDCANCEL);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

int MessageBox(FormPeer *Owner, const std::string &Text, const std::string &Caption, unsigned Flags) {
    InitializeToolkit();
    return MessageBoxW(OwnerWindow(Owner), Wide(Text).c_str(), Wide(Caption).c_str(), Flags);
}

bool InputQuery(const std::string &Caption, const std::string &Prompt, std::string &Value, int MaxLength) {
    InitializeToolkit();
    // In dialog units of the 8-point dialog font.
    DialogTemplate t(DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU, 180, 63,
                     L"MS Shell Dlg", 8);
    t.Item(SS_LEFT | SS_NOPREFIX, 7, 7, 166, 10, kPromptId, 0x0082, L"");
    t.Item(ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 7, 20, 166, 12, kEditId, 0x0081, L"");
    t.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 68, 42, 50, 14, IDOK, 0x0080, L"OK");
    t.Item(BS_PUSHBUTTON | WS_TABSTOP, 123, 42, 50, 14, IDCANCEL, 0x0080, L"Cancel");
    InputState state{Wide(Caption), Wide(Prompt), Wide(Value), MaxLength};
    const INT_PTR r = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), t.Get(), GetActiveWindow(), InputProc,
                                              reinterpret_cast<LPARAM>(&state));
    if (r != IDOK) return false;
    Value = Utf8(state.value.c_str(), int(state.value.size()));
    return true;
}

bool SaveFileDialog(FormPeer *Owner, SaveDialogRequest &Request) {
    InitializeToolkit();
    // "Name|*.a|Name2|*.b" becomes "Name\0*.a\0Name2\0*.b\0\0".
    std::wstring filter = Wide(Request.Filter);
    for (wchar_t &c : filter)
        if (c == L'|') c = L'\0';
    if (!filter.empty()) filter.append(2, L'\0');
    const std::wstring initialDir = Wide(Request.InitialDir), title = Wide(Request.Title),
                       defaultExt = Wide(Request.DefaultExt), initial = Wide(Request.FileName);
    std::vector<wchar_t> file(32768, L'\0');
    if (initial.size() < file.size()) std::copy(initial.begin(), initial.end(), file.begin());

    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = OwnerWindow(Owner);
    ofn.lpstrFilter = filter.empty() ? nullptr : filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = DWORD(file.size());
    ofn.lpstrInitialDir = initialDir.empty() ? nullptr : initialDir.c_str();
    ofn.lpstrTitle = title.empty() ? nullptr : title.c_str();
    ofn.lpstrDefExt = defaultExt.empty() ? nullptr : defaultExt.c_str();
    // The process keeps its working directory: relative paths typed elsewhere keep meaning
    // what they meant.
    ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_NOCHANGEDIR;
    if (Request.OverwritePrompt) ofn.Flags |= OFN_OVERWRITEPROMPT;
    if (!GetSaveFileNameW(&ofn)) return false;  // cancelled, or the dialog could not start
    Request.FileName = Utf8(file.data());
    return true;
}

}  // namespace tw::ui
