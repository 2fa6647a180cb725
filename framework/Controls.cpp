#include "framework/Controls.h"

#include "framework/Application.h"
#include "framework/Forms.h"
#include "framework/Reader.h"

TControl::TControl(TComponent *AOwner) : TComponent(AOwner) {}

TControl::~TControl() {
    BeginDestruction();
    SetParent(nullptr);
}

void TControl::SetParent(TForm *Value) {
    if (Value == parent_) return;
    if (parent_) {
        parent_->RemoveControl(this);
        peer_.reset();
    }
    parent_ = Value;
    if (parent_) {
        parent_->InsertControl(this);
        CreatePeer();
    }
}

void TControl::SetParentComponent(TComponent *Value) {
    // A form is never placed on another form.
    if (Kind() == tw::ui::PeerKind::Form) return;
    SetParent(dynamic_cast<TForm *>(Value));
}

void TControl::CreatePeer() {
    if (!parent_ || !parent_->FormPeer()) return;
    peer_ = tw::ui::CreateControlPeer(Kind(), this, parent_->FormPeer());
    peer_->SetFont(Font());
    peer_->SetColor(Color());
    peer_->SetText(text_);
    InitPeer(*peer_);
    peer_->SetBounds(left_, top_, width_, height_);
    peer_->SetEnabled(enabled_);
    peer_->SetVisible(visible_);
    AdjustSize();
}

void TControl::Loaded() {
    TComponent::Loaded();
    AdjustSize();
}

void TControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
    left_ = ALeft;
    top_ = ATop;
    width_ = AWidth;
    height_ = AHeight;
    if (peer_) peer_->SetBounds(left_, top_, width_, height_);
}

void TControl::SetEnabled(bool Value) {
    enabled_ = Value;
    if (peer_) peer_->SetEnabled(Value);
}

void TControl::SetVisible(bool Value) {
    visible_ = Value;
    if (peer_ && Kind() != tw::ui::PeerKind::Form) peer_->SetVisible(Value);
}

const TFont &TControl::Font() const {
    if (parentFont_ && parent_) return parent_->Font();
    return font_;
}

void TControl::SetFont(const TFont &Value) {
    font_ = Value;
    parentFont_ = false;
    if (peer_) {
        peer_->SetFont(font_);
        AdjustSize();
    }
    if (auto *form = dynamic_cast<TForm *>(this))
        for (TControl *c : form->Controls()) c->ParentChanged();
}

void TControl::SetParentFont(bool Value) {
    parentFont_ = Value;
    if (peer_) {
        peer_->SetFont(Font());
        AdjustSize();
    }
}

TColor TControl::Color() const {
    if (parentColor_ && parent_) return parent_->Color();
    return color_;
}

void TControl::SetColor(TColor Value) {
    color_ = Value;
    parentColor_ = false;
    if (peer_) peer_->SetColor(color_);
    if (auto *form = dynamic_cast<TForm *>(this))
        for (TControl *c : form->Controls()) c->ParentChanged();
}

void TControl::SetParentColor(bool Value) {
    parentColor_ = Value;
    if (peer_) peer_->SetColor(Color());
}

void TControl::ParentChanged() {
    if (!peer_) return;
    if (parentFont_) {
        peer_->SetFont(Font());
        AdjustSize();
    }
    if (parentColor_) peer_->SetColor(Color());
}

std::string TControl::Text() const { return peer_ ? peer_->Text() : text_; }

void TControl::SetText(const std::string &Value) {
    text_ = Value;
    if (peer_) {
        peer_->SetText(text_);
        AdjustSize();
    }
}

void TControl::SetTabOrder(int Value) {
    tabOrder_ = Value;
    if (parent_) parent_->UpdateTabOrder();
}

void TControl::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
    if (OnMouseDown) OnMouseDown(this, Button, Shift, X, Y);
}

void TControl::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
    if (OnMouseUp) OnMouseUp(this, Button, Shift, X, Y);
}

void TControl::Guarded(const std::function<void()> &Action) {
    try {
        Action();
    } catch (...) {
        Application->HandleException(this);
    }
}

void TControl::PeerClick() {
    Guarded([this] { Click(); });
}

void TControl::PeerChange() {
    Guarded([this] { Change(); });
}

void TControl::PeerMouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
    Guarded([&] { MouseDown(Button, Shift, X, Y); });
}

void TControl::PeerMouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
    Guarded([&] { MouseUp(Button, Shift, X, Y); });
}

bool ReadFontProperty(TReader &Reader, const std::string &Name, TFont &Font) {
    if (Name == "Font.Name") {
        Font.Name = Reader.ReadString();
    } else if (Name == "Font.Height") {
        Font.Height = Reader.ReadInteger();
    } else if (Name == "Font.Charset") {
        if (!IdentToCharset(Reader.ReadIdent(), Font.Charset)) throw Reader.Error("Invalid property value");
    } else if (Name == "Font.Color") {
        if (!IdentToColor(Reader.ReadIdent(), Font.Color)) throw Reader.Error("Invalid property value");
    } else if (Name == "Font.Style") {
        if (!Reader.ReadSet().empty()) throw Reader.Error("Font styles are not supported");
    } else {
        return false;
    }
    return true;
}

bool TControl::ReadProperty(TReader &Reader, const std::string &Name) {
    if (Name == "Left") {
        SetLeft(Reader.ReadInteger());
    } else if (Name == "Top") {
        SetTop(Reader.ReadInteger());
    } else if (Name == "Width") {
        SetWidth(Reader.ReadInteger());
    } else if (Name == "Height") {
        SetHeight(Reader.ReadInteger());
    } else if (Name == "Enabled") {
        SetEnabled(Reader.ReadBool());
    } else if (Name == "Visible") {
        SetVisible(Reader.ReadBool());
    } else if (Name == "TabOrder") {
        SetTabOrder(Reader.ReadInteger());
    } else if (Name == "Color") {
        TColor c;
        if (Reader.Value().kind == TPropValue::Kind::Integer)
            c = Reader.ReadInteger();
        else if (!IdentToColor(Reader.ReadIdent(), c))
            throw Reader.Error("Invalid property value");
        SetColor(c);
    } else if (Name == "ParentColor") {
        SetParentColor(Reader.ReadBool());
    } else if (Name == "ParentFont") {
        SetParentFont(Reader.ReadBool());
    } else if (Name == "Caption" || Name == "Text") {
        SetText(Reader.ReadString());
    } else if (Name == "OnMouseDown") {
        OnMouseDown = Reader.ReadMethod<TMouseEvent>();
    } else if (Name == "OnMouseUp") {
        OnMouseUp = Reader.ReadMethod<TMouseEvent>();
    } else if (Name.rfind("Font.", 0) == 0) {
        TFont f = Font();
        if (!ReadFontProperty(Reader, Name, f)) return TComponent::ReadProperty(Reader, Name);
        SetFont(f);
    } else {
        return TComponent::ReadProperty(Reader, Name);
    }
    return true;
}
