// The standard controls: label, push button, multi-line edit box, drop-down list.
//
// Threads: the user-interface thread only.
#pragma once

#include "framework/Controls.h"

#include <string>
#include <vector>

// A label sizes itself to its text in its font and paints its own background (its Color, the
// form's while ParentColor). An empty label still covers the width of one blank.
class TLabel : public TControl {
public:
    explicit TLabel(TComponent *AOwner);
    std::string Caption() const { return Text(); }
    void SetCaption(const std::string &Value) { SetText(Value); }
    bool AutoSize() const { return autoSize_; }
    void SetAutoSize(bool Value);
    bool TabStop() const override { return false; }
    bool ReadProperty(TReader &Reader, const std::string &Name) override;

protected:
    tw::ui::PeerKind Kind() const override { return tw::ui::PeerKind::Label; }
    void AdjustSize() override;

private:
    bool autoSize_ = true;
};

class TButton : public TControl {
public:
    explicit TButton(TComponent *AOwner);
    std::string Caption() const { return Text(); }
    void SetCaption(const std::string &Value) { SetText(Value); }
    TNotifyEvent OnClick;
    bool ReadProperty(TReader &Reader, const std::string &Name) override;

protected:
    tw::ui::PeerKind Kind() const override { return tw::ui::PeerKind::Button; }
    void Click() override;
};

// A multi-line edit box. Text joins the lines with "\r\n", as the platform's edit control
// keeps them; Lines splits them again.
class TMemo : public TControl {
public:
    explicit TMemo(TComponent *AOwner);
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool Value);
    std::vector<std::string> Lines() const;
    void SetLines(const std::vector<std::string> &Value);
    TNotifyEvent OnChange;  // the user edited the text
    bool ReadProperty(TReader &Reader, const std::string &Name) override;

protected:
    tw::ui::PeerKind Kind() const override { return tw::ui::PeerKind::Memo; }
    void InitPeer(tw::ui::ControlPeer &Peer) override;
    void Change() override;

private:
    bool readOnly_ = false;
};

enum TComboBoxStyle { csDropDownList };

// A drop-down list without editing. OnChange is raised when the user picks an item, never
// when the program sets ItemIndex.
class TComboBox : public TControl {
public:
    explicit TComboBox(TComponent *AOwner);
    const std::vector<std::string> &Items() const { return items_; }
    void SetItems(const std::vector<std::string> &Value);
    int ItemHeight() const { return itemHeight_; }
    void SetItemHeight(int Value);
    // -1: no selection.
    int ItemIndex() const;
    void SetItemIndex(int Value);
    TComboBoxStyle Style() const { return csDropDownList; }
    TNotifyEvent OnChange;
    bool ReadProperty(TReader &Reader, const std::string &Name) override;

protected:
    tw::ui::PeerKind Kind() const override { return tw::ui::PeerKind::ComboBox; }
    void InitPeer(tw::ui::ControlPeer &Peer) override;
    void Change() override;

private:
    std::vector<std::string> items_;
    int itemHeight_ = 13;
    int itemIndex_ = -1;  // the program's last choice; the peer's is read back
};
