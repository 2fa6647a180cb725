// The application object: its title, its forms and message loop, and the standard error
// report.
//
// An exception that leaves a handler of the user interface does not end the program: whoever
// catches it (the message loop, a control's event, a hidden window's procedure) calls
// HandleException, which reports it and lets the program go on.
//
// Initialize, CreateForm, Run, Done, MessageBox and ShowException need the window framework
// (library tw_forms); programs without a window use the title and HandleException alone.
#pragma once

#include "framework/Component.h"

#include <exception>
#include <functional>
#include <string>

class TForm;

class TApplication : public TComponent {
public:
    explicit TApplication(TComponent *AOwner = nullptr);

    // Initialises COM for this thread as a single-threaded apartment (remembering whether that
    // succeeded), prepares the native toolkit, and makes the standard error report the modal
    // box of ShowException.
    void Initialize();
    // Creates a form owned by the application; the first one becomes the main form.
    template <class T>
    void CreateForm(T *&Reference) {
        Reference = new T(this);
        if (!mainForm_) mainForm_ = Reference;
    }
    TForm *MainForm() const { return mainForm_; }
    // Shows the main form and runs the message loop until it closes. An exception leaving a
    // handler is reported and the loop goes on.
    void Run();
    // Ends the loop of Run.
    void Terminate();
    // The end: destroys the forms and components the application owns, then uninitialises
    // COM if Initialize initialised it.
    void Done();

    // A modal box owned by the main form: Text, Caption, the platform's MB_ flags; returns
    // IDOK, IDCANCEL, ...
    int MessageBox(const std::string &Text, const std::string &Caption, unsigned Flags);
    // The standard error report: captioned with Title, error icon, OK, the message as given.
    void ShowException(const std::string &Message);

    const std::string &Title() const { return title_; }
    void SetTitle(const std::string &Value) { title_ = Value; }

    // Shows the report for an exception. A front end sets it to its modal error box (caption:
    // Title, error icon, OK); unassigned, the report goes to stderr as "<Title>: <Message>".
    // Message already carries the period of ReportText.
    std::function<void(TObject *Sender, const std::string &Message)> OnException;

    // Reports the exception being handled (call it from a catch block). Sender is the component
    // whose work raised it. An exception thrown by OnException itself goes to stderr.
    void HandleException(TObject *Sender);

    // The report for one exception: its message, with a period appended when the last
    // character sorts after '.' (so ".", "!", "," or a blank at the end get none).
    static std::string ReportText(const std::exception_ptr &E);
    static std::string WithPeriod(const std::string &Message);

private:
    std::string title_;
    TForm *mainForm_ = nullptr;  // owned as a component of the application
    bool comInitialized_ = false;
    // The modal report, once Initialize has prepared the window framework.
    std::function<void(const std::string &Message)> boxReport_;
};

// The program's application object; exists from static initialisation to the end.
extern TApplication *Application;
