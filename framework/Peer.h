// The contract between the framework's controls and the native side that draws them.
//
// Each control owns one peer while it has a parent with a peer (a form has one from its
// construction). The control keeps every property and pushes it to the peer when the peer is
// made and on every change; the peer reports the user's actions back through ControlSink.
// Exactly one peer library is linked into a program: framework/win32 (Win32 controls) on
// Windows, framework/qt (Qt Widgets) on Linux. The classes above this header never ask which.
//
// Threads: peers, sinks and every function here run on the user-interface thread only.
#pragma once

#include "framework/Graphics.h"

#include <memory>
#include <string>
#include <vector>

namespace tw::ui {

enum class PeerKind { Form, Label, Button, Memo, ComboBox, TrackBar };

// What a peer reports. The control behind a sink guards each call: an exception from the
// user's handler is reported by the application and never reaches the native side. Only the
// user's actions are reported, never the effect of a setter called by the program.
class ControlSink {
public:
    virtual void PeerClick() = 0;   // a button was pressed and released with the mouse or keyboard
    virtual void PeerChange() = 0;  // the user changed the selection, the text, or moved the thumb
    virtual void PeerMouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) = 0;
    virtual void PeerMouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) = 0;
    // A request to close the form (the close box, Alt+F4, the system menu). True: close it.
    virtual bool PeerCloseQuery() = 0;

protected:
    ~ControlSink() = default;
};

class ControlPeer {
public:
    virtual ~ControlPeer() = default;

    // In pixels, relative to the parent's client area. For a form: Width and Height are the
    // client size; Left and Top are the stored position, which a centred form ignores.
    virtual void SetBounds(int Left, int Top, int Width, int Height) = 0;
    // The rectangle the native control really has, relative to its parent's client area (for
    // a form: its client area on the screen).
    virtual TRect NativeBounds() const = 0;
    virtual void SetText(const std::string &Text) = 0;  // caption, label or memo text (UTF-8)
    virtual std::string Text() const = 0;
    virtual void SetEnabled(bool Enabled) = 0;
    virtual bool NativeEnabled() const = 0;
    virtual void SetVisible(bool Visible) = 0;
    virtual void SetFont(const TFont &Font) = 0;
    virtual void SetColor(TColor Color) = 0;  // background; clDefault: the platform's own
    // The size that Text needs in Font (a label sizing itself).
    virtual TRect TextExtent(const std::string &Text, const TFont &Font) const = 0;
    // HWND on Windows, QWidget * on Linux: for tests and for code that drives the control.
    virtual void *Handle() const = 0;

    // Kind-specific; a peer of another kind does not receive them.
    virtual void SetReadOnly(bool) {}                          // memo
    virtual void SetItems(const std::vector<std::string> &) {}  // combo box
    virtual void SetItemHeight(int) {}                          // combo box
    virtual void SetItemIndex(int) {}                           // combo box: raises no PeerChange
    virtual int ItemIndex() const { return -1; }                // combo box
    virtual void SetRange(int /*Min*/, int /*Max*/) {}          // track bar
    virtual void SetPosition(int) {}                            // track bar: raises no PeerChange
    virtual int Position() const { return 0; }                  // track bar
};

class FormPeer : public ControlPeer {
public:
    // Single fixed border with the system menu, minimise and maximise boxes.
    virtual void SetBorderIcons(bool SystemMenu, bool Minimize, bool Maximize) = 0;
    // The controls in the order the Tab key visits them.
    virtual void SetTabOrder(const std::vector<ControlPeer *> &Order) = 0;
    virtual void ShowCentred() = 0;  // shows the form centred on the screen
    virtual void Hide() = 0;
    // Asks to close as the user would: the form's close query runs first.
    virtual void RequestClose() = 0;
};

// Made by the peer library. Parent is the form the control is placed on.
std::unique_ptr<FormPeer> CreateFormPeer(ControlSink *Sink);
std::unique_ptr<ControlPeer> CreateControlPeer(PeerKind Kind, ControlSink *Sink, FormPeer *Parent);

// ---- The application's side of the peer library.

// Prepares the native toolkit (the Qt application object; the common controls). Idempotent.
void InitializeToolkit();
// Runs the message loop until QuitLoop. The platform's own messages and timers of this thread
// (hidden windows, graph events, timers) are dispatched by the same loop, and by every modal
// loop below.
void RunLoop();
void QuitLoop();
// Dispatches what is waiting, then returns.
void ProcessMessages();

// The system's colour for a system colour; an RGB colour as it is.
TColor ColorToRGB(TColor Color);

// A modal message box owned by Owner (null: the active window). Flags are the platform's MB_
// buttons and icon; the result is IDOK, IDCANCEL, ...
int MessageBox(FormPeer *Owner, const std::string &Text, const std::string &Caption, unsigned Flags);

// The modal input box: OK gives true with Value as edited, Cancel or closing gives false and
// leaves Value. The field starts with Value, all of it selected, and takes MaxLength
// characters at most.
bool InputQuery(const std::string &Caption, const std::string &Prompt, std::string &Value, int MaxLength);

struct SaveDialogRequest {
    std::string Title;
    std::string DefaultExt;   // without the dot
    std::string Filter;       // "Name|*.ext|Name2|*.e2"
    std::string InitialDir;
    std::string FileName;     // in: the initial name; out: the full path chosen
    bool OverwritePrompt = false;
};
// The system's save-file dialog. True when the user confirmed.
bool SaveFileDialog(FormPeer *Owner, SaveDialogRequest &Request);

}  // namespace tw::ui
