#include "framework/Dialogs.h"

#include "framework/Application.h"
#include "framework/Forms.h"
#include "framework/Peer.h"
#include "framework/Reader.h"

namespace {
constexpr int kInputMaxLength = 255;
}

bool InputQuery(const std::string &ACaption, const std::string &APrompt, std::string &Value) {
    std::string edited = Value;
    if (!tw::ui::InputQuery(ACaption, APrompt, edited, kInputMaxLength)) return false;
    Value = edited;
    return true;
}

std::string InputBox(const std::string &ACaption, const std::string &APrompt, const std::string &ADefault) {
    std::string value = ADefault;
    InputQuery(ACaption, APrompt, value);
    return value;
}

void ShowMessage(const std::string &Msg) { Application->MessageBox(Msg, Application->Title(), MB_OK); }

TSaveDialog::TSaveDialog(TComponent *AOwner) : TComponent(AOwner) {}

bool TSaveDialog::Execute() {
    tw::ui::SaveDialogRequest r;
    r.Title = Title;
    r.DefaultExt = DefaultExt;
    r.Filter = Filter;
    r.InitialDir = InitialDir;
    r.FileName = FileName;
    r.OverwritePrompt = (Options & ofOverwritePrompt) != 0;
    TForm *owner = Application->MainForm();
    if (!tw::ui::SaveFileDialog(owner ? owner->FormPeer() : nullptr, r)) return false;
    FileName = r.FileName;
    return true;
}

bool TSaveDialog::ReadProperty(TReader &Reader, const std::string &Name) {
    if (Name == "DefaultExt") {
        DefaultExt = Reader.ReadString();
    } else if (Name == "Filter") {
        Filter = Reader.ReadString();
    } else if (Name == "FileName") {
        FileName = Reader.ReadFileName();
    } else if (Name == "InitialDir") {
        InitialDir = Reader.ReadFileName();
    } else if (Name == "Title") {
        Title = Reader.ReadString();
    } else if (Name == "Options") {
        TOpenOptions o = 0;
        for (const std::string &i : Reader.ReadSet()) {
            if (i == "ofOverwritePrompt") o |= ofOverwritePrompt;
            else if (i == "ofHideReadOnly") o |= ofHideReadOnly;
            else if (i == "ofEnableSizing") o |= ofEnableSizing;
            else throw Reader.Error("Invalid property value");
        }
        Options = o;
    } else {
        return TComponent::ReadProperty(Reader, Name);
    }
    return true;
}
