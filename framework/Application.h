// The application object: its title and the standard error report.
//
// An exception that leaves a handler of the user interface does not end the program: whoever
// catches it (the message loop, a hidden window's procedure) calls HandleException, which
// reports it and lets the program go on.
#pragma once

#include "framework/Component.h"

#include <exception>
#include <functional>
#include <string>

class TApplication : public TComponent {
public:
    explicit TApplication(TComponent *AOwner = nullptr);

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
};

// The program's application object; exists from static initialisation to the end.
extern TApplication *Application;
