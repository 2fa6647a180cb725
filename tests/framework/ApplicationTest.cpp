#include "framework/Application.h"

#include <gtest/gtest.h>

#include <stdexcept>

TEST(Application, PeriodIsAppendedOnlyAfterCharactersSortingAfterThePeriod) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"Failed", "Failed."},
        {"Failed.", "Failed."},
        {"Failed!", "Failed!"},
        {"Failed,", "Failed,"},
        {"Failed ", "Failed "},
        {"Code ($80004005)", "Code ($80004005)"},  // ')' sorts before '.'
        {"Code ($80004005).", "Code ($80004005)."},
        {"a-", "a-"},   // '-' sorts before '.'
        {"a/", "a/."},  // '/' sorts after '.'
        {"a9", "a9."},
        {"", ""},
        {"\xE5\xBD\x95\xE5\x88\xB6", "\xE5\xBD\x95\xE5\x88\xB6."},  // bytes above 0x7F sort after '.'
    };
    for (const auto &c : cases) EXPECT_EQ(TApplication::WithPeriod(c.in), c.out) << "input \"" << c.in << "\"";
}

TEST(Application, HandleExceptionReportsTheCurrentExceptionWithItsSender) {
    TApplication app;
    app.SetTitle("Tarnwick0.02bu");
    std::vector<TObject *> senders;
    std::vector<std::string> got;
    app.OnException = [&](TObject *s, const std::string &m) {
        senders.push_back(s);
        got.push_back(m);
    };
    TComponent sender(nullptr);
    try {
        throw std::runtime_error("Unspecified error");
    } catch (...) {
        app.HandleException(&sender);
    }
    try {
        throw 42;
    } catch (...) {
        app.HandleException(nullptr);
    }
    app.HandleException(&sender);  // no exception in flight: nothing to report
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], "Unspecified error.");
    EXPECT_EQ(got[1], "Unknown exception.");
    EXPECT_EQ(senders, (std::vector<TObject *>{&sender, nullptr}));
}

TEST(Application, ReportGoesToStderrWithoutHookOrWhenTheHookFails) {
    TApplication app;
    app.SetTitle("T");
    testing::internal::CaptureStderr();
    try {
        throw std::runtime_error("first");
    } catch (...) {
        app.HandleException(nullptr);
    }
    app.OnException = [](TObject *, const std::string &) { throw std::runtime_error("hook"); };
    try {
        throw std::runtime_error("second!");
    } catch (...) {
        app.HandleException(nullptr);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "T: first.\nT: second!\n");
}

TEST(Application, GlobalApplicationExists) {
    ASSERT_NE(Application, nullptr);
}
