#include "framework/Application.h"

#include <cstdio>

namespace {
TApplication &DefaultApplication() {
    static TApplication app;
    return app;
}
}  // namespace

TApplication *Application = &DefaultApplication();

TApplication::TApplication(TComponent *AOwner) : TComponent(AOwner) {}

std::string TApplication::WithPeriod(const std::string &Message) {
    if (!Message.empty() && static_cast<unsigned char>(Message.back()) > static_cast<unsigned char>('.'))
        return Message + ".";
    return Message;
}

std::string TApplication::ReportText(const std::exception_ptr &E) {
    if (!E) return {};
    try {
        std::rethrow_exception(E);
    } catch (const std::exception &e) {
        return WithPeriod(e.what());
    } catch (...) {
        return WithPeriod("Unknown exception");
    }
}

void TApplication::HandleException(TObject *Sender) {
    std::exception_ptr e = std::current_exception();
    if (!e) return;
    const std::string text = ReportText(e);
    if (OnException) {
        try {
            OnException(Sender, text);
            return;
        } catch (...) {
            // The report itself failed: fall back to stderr so the original is not lost.
        }
    }
    if (boxReport_) {
        try {
            boxReport_(text);
            return;
        } catch (...) {
        }
    }
    std::fprintf(stderr, "%s: %s\n", title_.c_str(), text.c_str());
}
