#include "framework/Application.h"
#include "framework/MessageWindow.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

// Dispatches this thread's messages until done() holds or the queue has nothing more.
void PumpUntil(const std::function<bool()> &done) {
    MSG m;
    while (!done() && GetMessageA(&m, nullptr, 0, 0) > 0) DispatchMessageA(&m);
}

}  // namespace

TEST(MessageWindow, MessagesPostedFromAnotherThreadReachTheMethodOnItsThread) {
    std::vector<std::string> got;
    const auto owner = std::this_thread::get_id();
    HWND wnd = tw::AllocateHWnd([&](UINT msg, WPARAM w, LPARAM l) -> LRESULT {
        if (msg < WM_APP) return 0;
        EXPECT_EQ(std::this_thread::get_id(), owner);
        got.push_back(std::to_string(msg - WM_APP) + ":" + std::to_string(w) + ":" + std::to_string(l));
        return 0;
    });
    ASSERT_NE(wnd, nullptr);
    ASSERT_TRUE(IsWindow(wnd));
    std::thread poster([wnd] {
        for (int i = 1; i <= 3; ++i) PostMessageA(wnd, WM_APP + i, static_cast<WPARAM>(i * 10), -i);
    });
    poster.join();
    PumpUntil([&] { return got.size() == 3; });
    EXPECT_EQ(got, (std::vector<std::string>{"1:10:-1", "2:20:-2", "3:30:-3"}));
    EXPECT_EQ(SendMessageA(wnd, WM_APP + 9, 0, 0), 0);
    tw::DeallocateHWnd(wnd);
    EXPECT_FALSE(IsWindow(wnd));
    tw::DeallocateHWnd(nullptr);  // nothing
}

TEST(MessageWindow, MethodResultIsTheMessageResult) {
    HWND wnd = tw::AllocateHWnd([](UINT msg, WPARAM w, LPARAM) -> LRESULT {
        return msg == WM_APP ? static_cast<LRESULT>(w) * 2 : 0;
    });
    EXPECT_EQ(SendMessageA(wnd, WM_APP, 21, 0), 42);
    tw::DeallocateHWnd(wnd);
}

TEST(MessageWindow, WindowMayBeDestroyedFromInsideItsOwnMethod) {
    HWND wnd = nullptr;
    int calls = 0;
    std::string captured = "alive";
    wnd = tw::AllocateHWnd([&, captured](UINT msg, WPARAM, LPARAM) -> LRESULT {
        if (msg != WM_APP) return 0;
        ++calls;
        tw::DeallocateHWnd(wnd);
        // The callable, and what it captured, must outlive its own call.
        EXPECT_EQ(captured, "alive");
        return 7;
    });
    EXPECT_EQ(SendMessageA(wnd, WM_APP, 0, 0), 7);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(IsWindow(wnd));
}

TEST(MessageWindow, ExceptionFromTheMethodIsReportedNotPropagated) {
    std::vector<std::string> reports;
    Application->OnException = [&](TObject *, const std::string &m) { reports.push_back(m); };
    HWND wnd = tw::AllocateHWnd([](UINT msg, WPARAM, LPARAM) -> LRESULT {
        if (msg == WM_APP) throw std::runtime_error("window method failed");
        return 0;
    });
    EXPECT_EQ(SendMessageA(wnd, WM_APP, 0, 0), 0);
    Application->OnException = nullptr;
    tw::DeallocateHWnd(wnd);
    EXPECT_EQ(reports, std::vector<std::string>{"window method failed."});
}
