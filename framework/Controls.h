// TControl: what every visible control of the framework has.
//
// A control is owned by a component (usually its form) and shown inside its parent form. It
// keeps its properties itself and mirrors them to its native peer, which exists while the
// control has a parent. Events (On...) are raised only by the user's actions, never by a
// setter called from the program. An exception leaving a handler is reported by Application
// and goes no further.
//
// Threads: the user-interface thread only.
#pragma once

#include "framework/Component.h"
#include "framework/Graphics.h"
#include "framework/Peer.h"

#include <functional>
#include <memory>
#include <string>

class TForm;

using TMouseEvent = std::function<void(TObject *Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;

class TControl : public TComponent, protected tw::ui::ControlSink {
public:
    explicit TControl(TComponent *AOwner);
    ~TControl() override;

    TForm *Parent() const { return parent_; }
    // Places the control on a form (or takes it off with null); the peer is made or dropped.
    void SetParent(TForm *Value);
    void SetParentComponent(TComponent *Value) override;

    int Left() const { return left_; }
    int Top() const { return top_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    void SetLeft(int Value) { SetBounds(Value, top_, width_, height_); }
    void SetTop(int Value) { SetBounds(left_, Value, width_, height_); }
    void SetWidth(int Value) { SetBounds(left_, top_, Value, height_); }
    void SetHeight(int Value) { SetBounds(left_, top_, width_, Value); }
    virtual void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);
    TRect BoundsRect() const { return {left_, top_, left_ + width_, top_ + height_}; }

    bool Enabled() const { return enabled_; }
    virtual void SetEnabled(bool Value);
    bool Visible() const { return visible_; }
    void SetVisible(bool Value);

    // The font, the parent's while ParentFont is true; setting one clears ParentFont.
    const TFont &Font() const;
    void SetFont(const TFont &Value);
    bool ParentFont() const { return parentFont_; }
    void SetParentFont(bool Value);
    // The background colour, the parent's while ParentColor is true; setting one clears it.
    TColor Color() const;
    void SetColor(TColor Value);
    bool ParentColor() const { return parentColor_; }
    void SetParentColor(bool Value);

    // Caption or text (UTF-8). Read from the native control, which the user may have edited.
    std::string Text() const;
    void SetText(const std::string &Value);

    int TabOrder() const { return tabOrder_; }
    void SetTabOrder(int Value);
    // Whether the Tab key stops at the control (labels never do).
    virtual bool TabStop() const { return true; }

    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;

    tw::ui::ControlPeer *Peer() const { return peer_.get(); }

    bool ReadProperty(TReader &Reader, const std::string &Name) override;
    void Loaded() override;

    // Called by the parent form when its font or colour changes.
    void ParentChanged();

protected:
    virtual tw::ui::PeerKind Kind() const = 0;
    // Pushes the kind's own properties to a new peer (the common ones are pushed already).
    virtual void InitPeer(tw::ui::ControlPeer &) {}
    // A control whose size follows its text (a label) recomputes it.
    virtual void AdjustSize() {}

    // The base behaviour of the user's actions: raise the events. Derived classes override
    // them and call the base first.
    virtual void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
    virtual void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
    virtual void Click() {}
    virtual void Change() {}

    // Runs Action; an exception from it goes to Application->HandleException(this).
    void Guarded(const std::function<void()> &Action);

    // ControlSink.
    void PeerClick() override;
    void PeerChange() override;
    void PeerMouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    void PeerMouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    bool PeerCloseQuery() override { return true; }

    // The text as stored; Text() prefers the peer's.
    const std::string &StoredText() const { return text_; }
    void CreatePeer();

    std::unique_ptr<tw::ui::ControlPeer> peer_;

private:
    TForm *parent_ = nullptr;  // not owned; the form removes its controls before it dies
    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    bool enabled_ = true;
    bool visible_ = true;
    TFont font_;
    bool parentFont_ = true;
    TColor color_ = clDefault;
    bool parentColor_ = false;
    std::string text_;
    int tabOrder_ = -1;
};

// Reads the font properties (Font.Name, Font.Height, Font.Charset, Font.Color, Font.Style)
// into Font. False for another name.
bool ReadFontProperty(TReader &Reader, const std::string &Name, TFont &Font);
