#include "framework/Forms.h"

#include "framework/Application.h"
#include "framework/Reader.h"

#include <algorithm>

TForm::TForm(TComponent *AOwner) : TControl(AOwner) {
    TFont f;  // "MS Sans Serif", 11 px, the default character set, window text
    SetFont(f);
    SetColor(clBtnFace);
    SetBounds(0, 0, 320, 240);
    auto peer = tw::ui::CreateFormPeer(this);
    formPeer_ = peer.get();
    peer_ = std::move(peer);
    peer_->SetFont(Font());
    peer_->SetColor(Color());
    peer_->SetBounds(Left(), Top(), Width(), Height());
    formPeer_->SetBorderIcons(borderIcons_ & biSystemMenu, borderIcons_ & biMinimize, borderIcons_ & biMaximize);
}

TForm::~TForm() {
    BeginDestruction();
    // The controls' peers live inside the form's: take them off first. The controls
    // themselves are components and go with their owner.
    while (!controls_.empty()) controls_.back()->SetParent(nullptr);
    formPeer_ = nullptr;
    peer_.reset();
}

void TForm::SetBorderIcons(TBorderIcons Value) {
    borderIcons_ = Value;
    formPeer_->SetBorderIcons(Value & biSystemMenu, Value & biMinimize, Value & biMaximize);
}

void TForm::InsertControl(TControl *Control) { controls_.push_back(Control); }

void TForm::RemoveControl(TControl *Control) {
    controls_.erase(std::remove(controls_.begin(), controls_.end(), Control), controls_.end());
    UpdateTabOrder();
}

std::vector<TControl *> TForm::TabOrderList() const {
    std::vector<TControl *> order;
    for (TControl *c : controls_)
        if (c->TabStop()) order.push_back(c);
    // Controls without a tab order of their own keep their placing order, after the others.
    std::stable_sort(order.begin(), order.end(), [](TControl *a, TControl *b) {
        const unsigned ta = static_cast<unsigned>(a->TabOrder()), tb = static_cast<unsigned>(b->TabOrder());
        return ta < tb;
    });
    return order;
}

void TForm::UpdateTabOrder() {
    if (!formPeer_ || Loading()) return;
    std::vector<tw::ui::ControlPeer *> peers;
    for (TControl *c : TabOrderList())
        if (c->Peer()) peers.push_back(c->Peer());
    formPeer_->SetTabOrder(peers);
}

void TForm::Loaded() {
    TControl::Loaded();
    UpdateTabOrder();
    for (TControl *c : controls_) c->ParentChanged();
}

void TForm::DoCreate() {
    if (OnCreate) Guarded([this] { OnCreate(this); });
}

void TForm::Show() {
    showing_ = true;
    UpdateTabOrder();
    formPeer_->ShowCentred();
}

void TForm::Hide() {
    showing_ = false;
    formPeer_->Hide();
}

void TForm::Close() { formPeer_->RequestClose(); }

bool TForm::PeerCloseQuery() {
    bool canClose = true;
    try {
        if (OnCloseQuery) OnCloseQuery(this, canClose);
    } catch (...) {
        // A failing close query keeps the form open.
        canClose = false;
        Application->HandleException(this);
    }
    if (!canClose) return false;
    Hide();
    if (Application->MainForm() == this) Application->Terminate();
    return true;
}

bool TForm::ReadProperty(TReader &Reader, const std::string &Name) {
    if (Name == "ClientWidth") {
        SetClientWidth(Reader.ReadInteger());
    } else if (Name == "ClientHeight") {
        SetClientHeight(Reader.ReadInteger());
    } else if (Name == "Left" || Name == "Top") {
        // The stored position; a centred form does not use it.
        TControl::ReadProperty(Reader, Name);
    } else if (Name == "Position") {
        const std::string v = Reader.ReadIdent();
        if (v == "poScreenCenter") SetPosition(poScreenCenter);
        else if (v == "poDesigned") SetPosition(poDesigned);
        else throw Reader.Error("Invalid property value");
    } else if (Name == "BorderStyle") {
        if (Reader.ReadIdent() != "bsSingle") throw Reader.Error("Invalid property value");
    } else if (Name == "BorderIcons") {
        TBorderIcons icons = 0;
        for (const std::string &i : Reader.ReadSet()) {
            if (i == "biSystemMenu") icons |= biSystemMenu;
            else if (i == "biMinimize") icons |= biMinimize;
            else if (i == "biMaximize") icons |= biMaximize;
            else throw Reader.Error("Invalid property value");
        }
        SetBorderIcons(icons);
    } else if (Name == "PixelsPerInch") {
        if (Reader.ReadInteger() != 96) throw Reader.Error("Only 96 pixels per inch is supported");
    } else if (Name == "TextHeight") {
        Reader.ReadInteger();  // a designer's measure; the controls carry their own sizes
    } else if (Name == "OnCreate") {
        OnCreate = Reader.ReadMethod<TNotifyEvent>();
    } else if (Name == "OnCloseQuery") {
        OnCloseQuery = Reader.ReadMethod<TCloseQueryEvent>();
    } else {
        return TControl::ReadProperty(Reader, Name);
    }
    return true;
}

// ---- The application's window side.

void TApplication::Initialize() {
    comInitialized_ = SUCCEEDED(CoInitialize(nullptr));
    tw::ui::InitializeToolkit();
    boxReport_ = [this](const std::string &Message) { ShowException(Message); };
}

void TApplication::Run() {
    if (!mainForm_) return;
    mainForm_->Show();
    tw::ui::RunLoop();
}

void TApplication::Terminate() { tw::ui::QuitLoop(); }

void TApplication::Done() {
    mainForm_ = nullptr;
    while (ComponentCount() > 0) delete Components(0);
    boxReport_ = nullptr;
    if (comInitialized_) {
        CoUninitialize();
        comInitialized_ = false;
    }
}

int TApplication::MessageBox(const std::string &Text, const std::string &Caption, unsigned Flags) {
    return tw::ui::MessageBox(mainForm_ ? mainForm_->FormPeer() : nullptr, Text, Caption, Flags);
}

void TApplication::ShowException(const std::string &Message) {
    MessageBox(Message, Title(), MB_OK | MB_ICONERROR);
}
