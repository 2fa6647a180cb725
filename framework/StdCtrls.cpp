#include "framework/StdCtrls.h"

#include "framework/Reader.h"

#include <algorithm>

// ---- TLabel

TLabel::TLabel(TComponent *AOwner) : TControl(AOwner) {
    SetParentColor(true);
    SetBounds(0, 0, 6, 13);
}

void TLabel::SetAutoSize(bool Value) {
    autoSize_ = Value;
    AdjustSize();
}

void TLabel::AdjustSize() {
    if (!autoSize_ || !peer_ || Loading()) return;
    const std::string text = StoredText();
    // An empty label keeps the room of one blank, so its background still shows.
    const TRect r = peer_->TextExtent(text.empty() ? " " : text, Font());
    TControl::SetBounds(Left(), Top(), r.Width(), r.Height());
}

bool TLabel::ReadProperty(TReader &Reader, const std::string &Name) {
    if (Name == "AutoSize") {
        SetAutoSize(Reader.ReadBool());
        return true;
    }
    if (Name == "Transparent") {
        // A label always paints its own background.
        if (Reader.ReadBool()) throw Reader.Error("Transparent labels are not supported");
        return true;
    }
    return TControl::ReadProperty(Reader, Name);
}

// ---- TButton

TButton::TButton(TComponent *AOwner) : TControl(AOwner) { SetBounds(0, 0, 75, 25); }

void TButton::Click() {
    if (OnClick) OnClick(this);
}

bool TButton::ReadProperty(TReader &Reader, const std::string &Name) {
    if (Name == "OnClick") {
        OnClick = Reader.ReadMethod<TNotifyEvent>();
        return true;
    }
    return TControl::ReadProperty(Reader, Name);
}

// ---- TMemo

TMemo::TMemo(TComponent *AOwner) : TControl(AOwner) {
    SetBounds(0, 0, 185, 89);
    SetColor(clWindow);
}

void TMemo::SetReadOnly(bool Value) {
    readOnly_ = Value;
    if (peer_) peer_->SetReadOnly(Value);
}

void TMemo::InitPeer(tw::ui::ControlPeer &Peer) { Peer.SetReadOnly(readOnly_); }

std::vector<std::string> TMemo::Lines() const {
    std::vector<std::string> lines;
    const std::string text = Text();
    if (text.empty()) return lines;
    size_t start = 0;
    for (;;) {
        const size_t nl = text.find('\n', start);
        if (nl == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        size_t end = nl;
        if (end > start && text[end - 1] == '\r') --end;
        lines.push_back(text.substr(start, end - start));
        start = nl + 1;
        if (start == text.size()) break;  // a final line break ends the last line, adds none
    }
    return lines;
}

void TMemo::SetLines(const std::vector<std::string> &Value) {
    std::string text;
    for (const std::string &l : Value) text += l + "\r\n";
    SetText(text);
}

void TMemo::Change() {
    if (OnChange) OnChange(this);
}

bool TMemo::ReadProperty(TReader &Reader, const std::string &Name) {
    if (Name == "ReadOnly") {
        SetReadOnly(Reader.ReadBool());
    } else if (Name == "Lines.Strings") {
        SetLines(Reader.ReadStrings());
    } else if (Name == "OnChange") {
        OnChange = Reader.ReadMethod<TNotifyEvent>();
    } else if (Name == "ScrollBars" || Name == "WordWrap") {
        // Fixed: no scroll bars, words wrap.
        Reader.Value();
    } else {
        return TControl::ReadProperty(Reader, Name);
    }
    return true;
}

// ---- TComboBox

TComboBox::TComboBox(TComponent *AOwner) : TControl(AOwner) {
    SetBounds(0, 0, 145, 21);
    SetColor(clWindow);
}

void TComboBox::SetItems(const std::vector<std::string> &Value) {
    items_ = Value;
    itemIndex_ = -1;
    if (peer_) peer_->SetItems(items_);
}

void TComboBox::SetItemHeight(int Value) {
    itemHeight_ = Value;
    if (peer_) peer_->SetItemHeight(Value);
}

int TComboBox::ItemIndex() const { return peer_ ? peer_->ItemIndex() : itemIndex_; }

void TComboBox::SetItemIndex(int Value) {
    if (Value < -1 || Value >= static_cast<int>(items_.size())) Value = -1;
    itemIndex_ = Value;
    if (peer_) peer_->SetItemIndex(Value);
}

void TComboBox::InitPeer(tw::ui::ControlPeer &Peer) {
    Peer.SetItems(items_);
    Peer.SetItemHeight(itemHeight_);
    Peer.SetItemIndex(itemIndex_);
}

void TComboBox::Change() {
    if (OnChange) OnChange(this);
}

bool TComboBox::ReadProperty(TReader &Reader, const std::string &Name) {
    if (Name == "Items.Strings") {
        SetItems(Reader.ReadStrings());
    } else if (Name == "ItemHeight") {
        SetItemHeight(Reader.ReadInteger());
    } else if (Name == "ItemIndex") {
        SetItemIndex(Reader.ReadInteger());
    } else if (Name == "Style") {
        if (Reader.ReadIdent() != "csDropDownList") throw Reader.Error("Invalid property value");
    } else if (Name == "OnChange") {
        OnChange = Reader.ReadMethod<TNotifyEvent>();
    } else {
        return TControl::ReadProperty(Reader, Name);
    }
    return true;
}
