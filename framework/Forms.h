// TForm: a top-level window with a fixed single border, holding controls.
//
// The form's own size is its client area (ClientWidth x ClientHeight, laid out for 96 pixels
// per inch); the border and caption come on top. It is shown centred on the screen. Closing
// it, by the user or by Close, asks OnCloseQuery first; when the main form closes, the
// application's message loop ends.
//
// Threads: the user-interface thread only.
#pragma once

#include "framework/Controls.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

using TCloseQueryEvent = std::function<void(TObject *Sender, bool &CanClose)>;

enum TPosition { poDesigned, poScreenCenter };
enum TFormBorderStyle { bsSingle };
using TBorderIcons = unsigned;
constexpr TBorderIcons biSystemMenu = 1, biMinimize = 2, biMaximize = 4;

class TForm : public TControl {
public:
    explicit TForm(TComponent *AOwner);
    ~TForm() override;

    std::string Caption() const { return Text(); }
    void SetCaption(const std::string &Value) { SetText(Value); }
    int ClientWidth() const { return Width(); }
    int ClientHeight() const { return Height(); }
    void SetClientWidth(int Value) { SetWidth(Value); }
    void SetClientHeight(int Value) { SetHeight(Value); }
    TPosition Position() const { return position_; }
    void SetPosition(TPosition Value) { position_ = Value; }
    TBorderIcons BorderIcons() const { return borderIcons_; }
    void SetBorderIcons(TBorderIcons Value);

    TNotifyEvent OnCreate;
    TCloseQueryEvent OnCloseQuery;

    // Shows the form (centred when Position is poScreenCenter) / hides it.
    void Show();
    void Hide();
    bool Showing() const { return showing_; }
    // Closes the form as the user would: OnCloseQuery first, and nothing when it says no.
    void Close();

    // The controls placed on the form, in the order they were placed.
    const std::vector<TControl *> &Controls() const { return controls_; }
    // The controls in the order the Tab key visits them: by TabOrder, labels left out.
    std::vector<TControl *> TabOrderList() const;

    tw::ui::FormPeer *FormPeer() const { return formPeer_; }

    bool ReadProperty(TReader &Reader, const std::string &Name) override;
    void Loaded() override;

    // Runs OnCreate (guarded): the form calls it once its description has been read.
    void DoCreate();

protected:
    tw::ui::PeerKind Kind() const override { return tw::ui::PeerKind::Form; }
    bool PeerCloseQuery() override;

private:
    friend class TControl;
    void InsertControl(TControl *Control);
    void RemoveControl(TControl *Control);
    void UpdateTabOrder();

    tw::ui::FormPeer *formPeer_ = nullptr;  // the peer_ of the base, as its form interface
    std::vector<TControl *> controls_;     // not owned: each control removes itself
    TPosition position_ = poScreenCenter;
    TBorderIcons borderIcons_ = biSystemMenu | biMinimize | biMaximize;
    bool showing_ = false;
};
