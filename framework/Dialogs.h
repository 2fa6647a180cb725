// Modal dialogs: the input box, the save-file dialog and the plain message dialog. Message
// boxes owned by the main window are Application->MessageBox.
//
// Every dialog here runs a modal loop that keeps dispatching the thread's own messages and
// timers (graph events, hidden windows), so nothing else waits while a box is open.
// Threads: the user-interface thread only.
#pragma once

#include "framework/Component.h"

#include <string>

// The input box: title, prompt, the field pre-filled with Default (all of it selected, at
// most 255 characters), OK and Cancel. OK gives the text as typed; Cancel or closing the box
// gives Default.
std::string InputBox(const std::string &ACaption, const std::string &APrompt, const std::string &ADefault);
// The same, telling whether OK was pressed; Value is changed only then.
bool InputQuery(const std::string &ACaption, const std::string &APrompt, std::string &Value);

// A message dialog captioned with the application's title, with an OK button.
void ShowMessage(const std::string &Msg);

using TOpenOptions = unsigned;
constexpr TOpenOptions ofOverwritePrompt = 1, ofHideReadOnly = 2, ofEnableSizing = 4;

class TSaveDialog : public TComponent {
public:
    explicit TSaveDialog(TComponent *AOwner);

    std::string DefaultExt;  // without the dot, added when the name typed has no extension
    std::string Filter;      // "Name|*.ext|..."
    std::string FileName;    // in: the initial name; after Execute: the full path chosen
    std::string InitialDir;
    std::string Title;
    TOpenOptions Options = ofHideReadOnly | ofEnableSizing;

    // Shows the dialog; true when the user confirmed (FileName is then a full path).
    bool Execute();
    bool ReadProperty(TReader &Reader, const std::string &Name) override;
};
