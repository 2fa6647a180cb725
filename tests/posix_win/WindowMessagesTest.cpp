// Hidden windows, message queues and timers of the Linux platform layer, on real threads.
#include "platform/win32.h"
#include "platform/queue_wake.h"

#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Seen {
    UINT msg;
    WPARAM wp;
    LPARAM lp;
    DWORD thread;
    bool window_valid;  // IsWindow() while the message was handled
};

// What a test window records; its address is the window's GWLP_USERDATA.
struct Log {
    std::vector<Seen> seen;
    LRESULT answer = 0;
    bool count(UINT m) const {
        for (auto &s : seen)
            if (s.msg == m) return true;
        return false;
    }
};

LRESULT CALLBACK logging_proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_NCCREATE) {
        auto *cs = reinterpret_cast<CREATESTRUCTA *>(l);
        SetWindowLongPtrA(h, GWLP_USERDATA, LONG_PTR(reinterpret_cast<intptr_t>(cs->lpCreateParams)));
    }
    auto *log = reinterpret_cast<Log *>(GetWindowLongPtrA(h, GWLP_USERDATA));
    if (log) log->seen.push_back({m, w, l, GetCurrentThreadId(), IsWindow(h) != FALSE});
    if (m >= WM_APP) return log ? log->answer : 0;
    return DefWindowProcA(h, m, w, l);
}

const char *kClass = "TwTestWindow";

class Messages : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = logging_proc;
        wc.cbWndExtra = 2 * sizeof(LONG_PTR);
        wc.lpszClassName = kClass;
        ASSERT_NE(0, RegisterClassExA(&wc));
    }
    HWND make(Log *log, HWND parent = HWND_MESSAGE) {
        return CreateWindowExA(0, kClass, "test", 0, 0, 0, 0, 0, parent, nullptr, nullptr, log);
    }
    // Pumps until the window procedure has seen `m` `times` times (or WM_QUIT).
    static void pump_until(const Log &log, UINT m, size_t times) {
        MSG msg;
        auto seen = [&] {
            size_t n = 0;
            for (auto &s : log.seen) n += s.msg == m;
            return n;
        };
        while (seen() < times && GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    }
};

TEST_F(Messages, ClassesWindowsAndWindowData) {
    WNDCLASSEXA dup{};
    dup.cbSize = sizeof dup;
    dup.lpfnWndProc = logging_proc;
    dup.lpszClassName = "twtestwindow";  // class names ignore case
    EXPECT_EQ(0, RegisterClassExA(&dup));
    EXPECT_EQ(ERROR_CLASS_ALREADY_EXISTS, GetLastError());
    EXPECT_EQ(nullptr, CreateWindowExA(0, "NoSuchClass", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_CANNOT_FIND_WND_CLASS, GetLastError());

    Log log;
    HWND h = make(&log);
    ASSERT_NE(nullptr, h);
    EXPECT_TRUE(IsWindow(h));
    ASSERT_GE(log.seen.size(), 1u);
    EXPECT_EQ(UINT(WM_CREATE), log.seen.back().msg) << "WM_NCCREATE then WM_CREATE";
    DWORD pid = 0;
    EXPECT_EQ(GetCurrentThreadId(), GetWindowThreadProcessId(h, &pid));
    EXPECT_EQ(GetCurrentProcessId(), pid);

    // Extra window bytes, the window procedure, and indexes that do not exist.
    EXPECT_EQ(0, SetWindowLongPtrA(h, sizeof(LONG_PTR), 1234));
    EXPECT_EQ(1234, GetWindowLongPtrA(h, sizeof(LONG_PTR)));
    SetLastError(0);
    EXPECT_EQ(0, GetWindowLongPtrA(h, 2 * sizeof(LONG_PTR)));
    EXPECT_NE(0u, GetLastError());
    auto old = SetWindowLongPtrA(h, GWLP_WNDPROC, LONG_PTR(reinterpret_cast<intptr_t>(&DefWindowProcA)));
    EXPECT_EQ(reinterpret_cast<intptr_t>(&logging_proc), old);
    EXPECT_EQ(0, SendMessageA(h, WM_APP, 0, 0));
    EXPECT_FALSE(log.count(WM_APP)) << "the new procedure handles it";
    SetWindowLongPtrA(h, GWLP_WNDPROC, old);
    log.answer = 77;
    EXPECT_EQ(77, SendMessageA(h, WM_APP, 5, 6)) << "same thread: called directly";

    // DestroyWindow: WM_DESTROY while the window is still valid, then the handle is dead.
    EXPECT_TRUE(DestroyWindow(h));
    bool destroy_seen_valid = false;
    for (auto &s : log.seen)
        if (s.msg == WM_DESTROY) destroy_seen_valid = s.window_valid;
    EXPECT_TRUE(destroy_seen_valid);
    EXPECT_TRUE(log.count(WM_NCDESTROY));
    EXPECT_FALSE(IsWindow(h));
    EXPECT_FALSE(DestroyWindow(h));
    EXPECT_EQ(ERROR_INVALID_WINDOW_HANDLE, GetLastError());
    EXPECT_FALSE(PostMessageA(h, WM_APP, 0, 0));
    EXPECT_EQ(ERROR_INVALID_WINDOW_HANDLE, GetLastError());
    MSG msg;
    EXPECT_EQ(-1, GetMessageA(&msg, h, 0, 0));
}

TEST_F(Messages, CloseDestroysThroughDefWindowProcAndTakesChildren) {
    Log parent_log, child_log;
    HWND parent = make(&parent_log, nullptr);
    HWND child = make(&child_log, parent);
    ASSERT_TRUE(parent && child);
    EXPECT_EQ(nullptr, make(&child_log, reinterpret_cast<HWND>(intptr_t(0x7777))));
    EXPECT_EQ(ERROR_INVALID_WINDOW_HANDLE, GetLastError());
    ASSERT_TRUE(PostMessageA(parent, WM_CLOSE, 0, 0));
    pump_until(parent_log, WM_CLOSE, 1);
    EXPECT_FALSE(IsWindow(parent));
    EXPECT_FALSE(IsWindow(child));
    EXPECT_TRUE(child_log.count(WM_DESTROY));
}

TEST_F(Messages, PeekFiltersAndOrder) {
    Log log;
    HWND h = make(&log);
    ASSERT_TRUE(PostMessageA(h, WM_APP + 1, 1, 10));
    ASSERT_TRUE(PostMessageA(h, WM_APP + 2, 2, 20));
    ASSERT_TRUE(PostMessageA(nullptr, WM_APP + 3, 3, 30));  // a thread message
    ASSERT_TRUE(PostMessageA(h, WM_USER, 4, 40));

    MSG m;
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(UINT(WM_APP + 1), m.message);
    EXPECT_EQ(h, m.hwnd);
    ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_USER, WM_USER, PM_REMOVE)) << "range filter skips ahead";
    EXPECT_EQ(4u, m.wParam);
    ASSERT_TRUE(PeekMessageA(&m, reinterpret_cast<HWND>(intptr_t(-1)), 0, 0, PM_REMOVE)) << "thread messages only";
    EXPECT_EQ(UINT(WM_APP + 3), m.message);
    EXPECT_EQ(nullptr, m.hwnd);
    EXPECT_EQ(0, DispatchMessageA(&m)) << "no window to dispatch to";
    EXPECT_FALSE(PeekMessageA(&m, nullptr, WM_APP + 3, WM_APP + 3, PM_REMOVE));

    log.answer = 5;
    ASSERT_EQ(TRUE, GetMessageA(&m, h, 0, 0));
    EXPECT_EQ(UINT(WM_APP + 1), m.message);
    EXPECT_EQ(5, DispatchMessageA(&m));
    EXPECT_EQ(10, log.seen.back().lp);
    ASSERT_EQ(TRUE, GetMessageA(&m, nullptr, 0, 0));
    EXPECT_EQ(UINT(WM_APP + 2), m.message);
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_FALSE(TranslateMessage(&m));
    DestroyWindow(h);
}

TEST_F(Messages, QuitComesAfterPostedMessagesAndEndsGetMessage) {
    PostQuitMessage(7);
    ASSERT_TRUE(PostMessageA(nullptr, WM_APP, 1, 0));  // posted after the quit, still first
    MSG m;
    ASSERT_EQ(TRUE, GetMessageA(&m, nullptr, 0, 0));
    EXPECT_EQ(UINT(WM_APP), m.message);
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(UINT(WM_QUIT), m.message);
    EXPECT_EQ(FALSE, GetMessageA(&m, nullptr, 0, 0));
    EXPECT_EQ(UINT(WM_QUIT), m.message);
    EXPECT_EQ(7u, m.wParam);
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) << "the quit is taken once";
}

TEST_F(Messages, PostsFromFourThreadsArriveInEachThreadsOrder) {
    Log log;
    HWND h = make(&log);
    constexpr int kThreads = 4, kEach = 500;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i)
                if (!PostMessageA(h, WM_APP + 10, WPARAM(t), LPARAM(i))) ++failures;
            if (!PostMessageA(h, WM_APP + 11, WPARAM(t), 0)) ++failures;
        });
    int done = 0;
    std::vector<int> next(kThreads, 0);
    int out_of_order = 0;
    MSG m;
    while (done < kThreads && GetMessageA(&m, nullptr, 0, 0) > 0) {
        DispatchMessageA(&m);
        if (m.message == WM_APP + 10) {
            if (m.lParam != next[m.wParam]) ++out_of_order;
            next[m.wParam] = int(m.lParam) + 1;
        } else if (m.message == WM_APP + 11) {
            ++done;
        }
    }
    for (auto &t : threads) t.join();
    EXPECT_EQ(0, failures.load());
    EXPECT_EQ(0, out_of_order);
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(kEach, next[t]);
    size_t dispatched = 0;
    for (auto &s : log.seen) dispatched += s.msg == WM_APP + 10 && s.thread == GetCurrentThreadId();
    EXPECT_EQ(size_t(kThreads * kEach), dispatched) << "every message handled on the owner thread";
    DestroyWindow(h);
}

TEST_F(Messages, DestroyingAWindowDropsItsMessagesAndTimers) {
    Log doomed_log, other_log;
    HWND doomed = make(&doomed_log);
    HWND other = make(&other_log);
    ASSERT_TRUE(PostMessageA(doomed, WM_APP, 1, 0));
    ASSERT_TRUE(PostMessageA(doomed, WM_APP, 2, 0));
    ASSERT_NE(0u, SetTimer(doomed, 1, 10, nullptr));
    ASSERT_TRUE(DestroyWindow(doomed));
    EXPECT_FALSE(KillTimer(doomed, 1));
    EXPECT_EQ(ERROR_INVALID_WINDOW_HANDLE, GetLastError());

    // Until a timer on the other window has fired three times (well past the dead timer's
    // period), nothing may arrive for the destroyed window.
    ASSERT_NE(0u, SetTimer(other, 9, 30, nullptr));
    int for_doomed = 0, ticks = 0;
    MSG m;
    while (ticks < 3 && GetMessageA(&m, nullptr, 0, 0) > 0) {
        if (m.hwnd == doomed) ++for_doomed;
        if (m.hwnd == other && m.message == WM_TIMER) ++ticks;
        DispatchMessageA(&m);
    }
    EXPECT_EQ(0, for_doomed);
    EXPECT_FALSE(doomed_log.count(WM_APP));
    DestroyWindow(other);
}

TEST_F(Messages, TimerPeriodReplacementAndKill) {
    Log log;
    HWND h = make(&log);
    ASSERT_EQ(1u, SetTimer(h, 1, 5000, nullptr));
    const auto start = Clock::now();
    ASSERT_EQ(1u, SetTimer(h, 1, 40, nullptr)) << "same id: replaces the period";
    std::vector<Clock::time_point> at;
    MSG m;
    while (at.size() < 6 && GetMessageA(&m, nullptr, 0, 0) > 0) {
        if (m.message == WM_TIMER && m.hwnd == h) {
            EXPECT_EQ(1u, m.wParam);
            at.push_back(Clock::now());
        }
        DispatchMessageA(&m);
    }
    ASSERT_EQ(6u, at.size());
    const auto first = std::chrono::duration_cast<milliseconds>(at[0] - start).count();
    const auto span = std::chrono::duration_cast<milliseconds>(at[5] - at[0]).count();
    EXPECT_GE(first, 38) << "not before the first period";
    EXPECT_LT(first, 1000) << "the 5 s period was replaced";
    EXPECT_GE(span, 5 * 40 - 5);
    EXPECT_LE(span, 5 * 40 + 150);
    EXPECT_TRUE(log.count(WM_TIMER)) << "dispatched to the window procedure";

    // After KillTimer, no WM_TIMER for id 1 until a second timer has fired twice.
    ASSERT_TRUE(KillTimer(h, 1));
    EXPECT_FALSE(KillTimer(h, 1));
    ASSERT_EQ(2u, SetTimer(h, 2, 60, nullptr));
    int ones = 0, twos = 0;
    while (twos < 2 && GetMessageA(&m, nullptr, 0, 0) > 0) {
        if (m.message == WM_TIMER) (m.wParam == 1 ? ones : twos)++;
    }
    EXPECT_EQ(0, ones);
    KillTimer(h, 2);
    DestroyWindow(h);
}

TEST_F(Messages, ADueTimerGivesOneCoalescedMessage) {
    Log log;
    HWND h = make(&log);
    ASSERT_NE(0u, SetTimer(h, 3, 10, nullptr));
    // Leave the queue alone for about ten periods.
    const auto until = Clock::now() + milliseconds(105);
    while (Clock::now() < until) {
    }
    MSG m;
    int timers = 0;
    while (PeekMessageA(&m, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE)) ++timers;
    EXPECT_EQ(1, timers) << "missed periods do not pile up";
    ASSERT_TRUE(PostMessageA(h, WM_APP, 0, 0));
    while (Clock::now() < until + milliseconds(25)) {
    }
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(UINT(WM_APP), m.message) << "posted messages come before timers";
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(UINT(WM_TIMER), m.message);
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) << "PM_NOREMOVE left it due";
    EXPECT_EQ(UINT(WM_TIMER), m.message);
    DestroyWindow(h);
}

std::atomic<int> g_timer_calls{0};
HWND g_timer_hwnd = reinterpret_cast<HWND>(intptr_t(1));
void CALLBACK timer_proc(HWND h, UINT msg, UINT_PTR, DWORD) {
    if (msg == WM_TIMER) ++g_timer_calls;
    g_timer_hwnd = h;
}

TEST_F(Messages, ThreadTimersCallTheirProcedure) {
    UINT_PTR id = SetTimer(nullptr, 0, 15, timer_proc);
    ASSERT_NE(0u, id);
    UINT_PTR id2 = SetTimer(nullptr, 0, 15, timer_proc);
    EXPECT_NE(id, id2) << "each new thread timer gets its own id";
    ASSERT_TRUE(KillTimer(nullptr, id2));
    MSG m;
    while (g_timer_calls.load() < 2 && GetMessageA(&m, nullptr, 0, 0) > 0) {
        EXPECT_EQ(nullptr, m.hwnd);
        EXPECT_EQ(id, m.wParam);
        DispatchMessageA(&m);
    }
    EXPECT_EQ(nullptr, g_timer_hwnd);
    ASSERT_TRUE(KillTimer(nullptr, id));

    // A WM_TIMER naming a procedure no live timer has is not followed.
    MSG forged{nullptr, WM_TIMER, id, LPARAM(reinterpret_cast<intptr_t>(timer_proc)), 0, {0, 0}};
    const int before = g_timer_calls.load();
    EXPECT_EQ(0, DispatchMessageA(&forged));
    EXPECT_EQ(before, g_timer_calls.load());
    EXPECT_EQ(0u, SetTimer(reinterpret_cast<HWND>(intptr_t(0x5555)), 1, 10, nullptr));
    EXPECT_EQ(ERROR_INVALID_WINDOW_HANDLE, GetLastError());
}

TEST_F(Messages, SendMessageFromAnotherThreadRunsOnTheOwnerThread) {
    Log log;
    log.answer = 42;
    HWND h = make(&log);
    LRESULT result = 0;
    std::thread sender([&] {
        result = SendMessageA(h, WM_APP + 5, 1, 2);
        PostMessageA(h, WM_APP + 6, 0, 0);
    });
    pump_until(log, WM_APP + 6, 1);
    sender.join();
    EXPECT_EQ(42, result);
    ASSERT_TRUE(log.count(WM_APP + 5));
    for (auto &s : log.seen) {
        if (s.msg == WM_APP + 5) {
            EXPECT_EQ(GetCurrentThreadId(), s.thread);
        }
    }

    // A window whose thread has ended is gone, and so is its queue.
    HWND orphan = nullptr;
    DWORD tid = 0;
    std::thread owner([&] {
        orphan = make(nullptr);
        tid = GetCurrentThreadId();
    });
    owner.join();
    ASSERT_NE(nullptr, orphan);
    EXPECT_FALSE(IsWindow(orphan));
    EXPECT_EQ(0, SendMessageA(orphan, WM_APP, 0, 0));
    EXPECT_FALSE(PostThreadMessageA(tid, WM_APP, 0, 0));
    EXPECT_EQ(ERROR_INVALID_THREAD_ID, GetLastError());
    DestroyWindow(h);
}

TEST_F(Messages, ThreadMessagesAndTheQueueQuota) {
    std::mutex lock;
    std::condition_variable cv;
    DWORD tid = 0;
    MSG got{};
    std::thread receiver([&] {
        MSG m;
        PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE);  // makes the queue
        {
            std::lock_guard<std::mutex> g(lock);
            tid = GetCurrentThreadId();
        }
        cv.notify_all();
        if (GetMessageA(&m, nullptr, 0, 0) > 0) got = m;
    });
    {
        std::unique_lock<std::mutex> lk(lock);
        cv.wait(lk, [&] { return tid != 0; });
    }
    ASSERT_TRUE(PostThreadMessageA(tid, WM_APP + 7, 3, 4));
    receiver.join();
    EXPECT_EQ(UINT(WM_APP + 7), got.message);
    EXPECT_EQ(nullptr, got.hwnd);
    EXPECT_EQ(4, got.lParam);

    Log log;
    HWND h = make(&log);
    int posted = 0;
    while (posted < 20000 && PostMessageA(h, WM_APP, 0, 0)) ++posted;
    EXPECT_EQ(10000, posted);
    EXPECT_EQ(ERROR_NOT_ENOUGH_QUOTA, GetLastError());
    DestroyWindow(h);
    MSG m;
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) << "the destroyed window's messages are gone";
}

LRESULT CALLBACK throwing_proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_APP || m == WM_DESTROY) throw std::runtime_error("handler failed");
    return DefWindowProcA(h, m, w, l);
}

TEST_F(Messages, AThrowingProcedureReleasesSendersAndStillDestroys) {
    HWND h = make(nullptr);
    SetWindowLongPtrA(h, GWLP_WNDPROC, LONG_PTR(reinterpret_cast<intptr_t>(&throwing_proc)));
    LRESULT result = -5;
    std::thread sender([&] { result = SendMessageA(h, WM_APP, 0, 0); });
    bool thrown = false;
    MSG m;
    while (!thrown) {
        try {
            GetMessageA(&m, nullptr, 0, 0);
        } catch (const std::runtime_error &) {
            thrown = true;
        }
    }
    sender.join();  // would never return if the sender were left waiting
    EXPECT_EQ(0, result);
    EXPECT_THROW(DestroyWindow(h), std::runtime_error);
    EXPECT_FALSE(IsWindow(h));
    EXPECT_FALSE(PostMessageA(h, WM_APP, 0, 0));
}

}  // namespace

// A loop of another toolkit waits on the queue's descriptor instead of GetMessageA: every
// post, from any thread, and every timer set must make it readable, and reading resets it.
TEST_F(Messages, WakeDescriptorSignalsPostsAndTimersForAForeignLoop) {
    Log log;
    HWND w = make(&log);
    const int fd = tw::posix::QueueWakeFd();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(fd, tw::posix::QueueWakeFd());
    auto readable = [fd](int timeout_ms) {
        pollfd p{fd, POLLIN, 0};
        return poll(&p, 1, timeout_ms) == 1 && (p.revents & POLLIN);
    };
    auto reset = [fd] {
        uint64_t n;
        return read(fd, &n, sizeof n) == ssize_t(sizeof n);
    };
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
    reset();
    EXPECT_FALSE(readable(0));
    EXPECT_EQ(tw::posix::NextTimerDueMs(), -1);

    std::thread([w] { PostMessageA(w, WM_APP + 1, 0, 0); }).join();
    EXPECT_TRUE(readable(5000));
    EXPECT_TRUE(reset());
    EXPECT_FALSE(readable(0));
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, UINT(WM_APP + 1));

    ASSERT_NE(0u, SetTimer(w, 7, 5000, nullptr));
    EXPECT_TRUE(readable(0));
    reset();
    const int due = tw::posix::NextTimerDueMs();
    EXPECT_GT(due, 4000);
    EXPECT_LE(due, 5000);
    ASSERT_NE(0u, SetTimer(w, 8, USER_TIMER_MINIMUM, nullptr));
    EXPECT_LE(tw::posix::NextTimerDueMs(), int(USER_TIMER_MINIMUM));
    KillTimer(w, 8);
    KillTimer(w, 7);
    EXPECT_EQ(tw::posix::NextTimerDueMs(), -1);

    PostQuitMessage(3);
    EXPECT_TRUE(readable(0));
    reset();
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, UINT(WM_QUIT));
    DestroyWindow(w);
}
