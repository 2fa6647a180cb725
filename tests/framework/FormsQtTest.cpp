// What only the Qt peer shows: the form's window flags and size constraints, and Qt's loop
// dispatching the platform's messages and timers, in a modal box too, with nothing unwinding
// through it. The user-driven tests common to both peers are in FormsUserTest.cpp.
#include "framework/Application.h"
#include "framework/Forms.h"
#include "framework/MessageWindow.h"

#include <QApplication>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Fixture : ::testing::Test {
    void SetUp() override {
        tw::ui::InitializeToolkit();
        form = std::make_unique<TForm>(nullptr);
        form->SetClientWidth(404);
        form->SetClientHeight(141);
    }
    void ShowForm() {
        form->Show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(static_cast<QWidget *>(form->Peer()->Handle())));
    }
    std::unique_ptr<TForm> form;
};

using QtPeer = Fixture;

}  // namespace

TEST_F(QtPeer, FormIsCentredNotResizableAndRefusesAWindowCloseItsQueryDenies) {
    form->SetCaption("录制声音和图像!");
    bool allow = false;
    form->OnCloseQuery = [&](TObject *, bool &CanClose) { CanClose = allow; };
    ShowForm();
    auto *w = static_cast<QWidget *>(form->Peer()->Handle());
    EXPECT_EQ(w->windowTitle().toStdString(), "录制声音和图像!");
    EXPECT_EQ(w->minimumSize(), QSize(404, 141));
    EXPECT_EQ(w->maximumSize(), QSize(404, 141));
    w->resize(600, 400);
    EXPECT_EQ(w->size(), QSize(404, 141));
    const QRect screen = w->screen()->availableGeometry();
    const QRect frame = w->frameGeometry();
    EXPECT_LE(std::abs(frame.center().x() - screen.center().x()), 1);
    EXPECT_LE(std::abs(frame.center().y() - screen.center().y()), 1);
    const Qt::WindowFlags f = w->windowFlags();
    EXPECT_TRUE(f & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(f & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(f & Qt::WindowSystemMenuHint);

    EXPECT_FALSE(w->close());  // as the window manager's close button asks
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(form->Showing());
    allow = true;
    EXPECT_TRUE(w->close());
    EXPECT_FALSE(w->isVisible());
    EXPECT_FALSE(form->Showing());
}

// ---- One loop for Qt and the platform.

// A graph event whose handler opens a modal box (the error report) does so from inside the
// dispatch; while that box is open, timer ticks and messages from a streaming thread still
// arrive.
TEST(QtLoop, ModalBoxKeepsDispatchingTimersAndPostedMessages) {
    tw::ui::InitializeToolkit();
    int ticks = 0, posts = 0;
    bool boxOpen = false, closedByWatchdog = false;
    std::thread poster;
    HWND wnd = nullptr;
    auto closeBox = [] {
        if (QWidget *box = QApplication::activeModalWidget()) QTest::keyClick(box, Qt::Key_Return);
    };
    wnd = tw::AllocateHWnd([&](UINT Msg, WPARAM, LPARAM) -> LRESULT {
        if (Msg == WM_APP) {
            boxOpen = true;
            SetTimer(wnd, 1, 20, nullptr);
            poster = std::thread([target = wnd] { PostMessageA(target, WM_APP + 1, 0, 0); });
            tw::ui::MessageBox(nullptr, "Graph event failed", "T", MB_OK | MB_ICONERROR);
            boxOpen = false;
            KillTimer(wnd, 1);
            tw::ui::QuitLoop();
            return 0;
        }
        if (!boxOpen) return 0;
        if (Msg == WM_APP + 1) ++posts;
        if (Msg == WM_TIMER) ++ticks;
        if (ticks >= 2 && posts >= 1) QTimer::singleShot(0, closeBox);
        return 0;
    });
    // Only if the box is never served: fail rather than hang.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        closedByWatchdog = true;
        closeBox();
    });
    watchdog.start(10000);
    PostMessageA(wnd, WM_APP, 0, 0);
    tw::ui::RunLoop();
    poster.join();
    EXPECT_FALSE(closedByWatchdog);
    EXPECT_GE(ticks, 2);
    EXPECT_EQ(posts, 1);
    tw::DeallocateHWnd(wnd);
}

// A window procedure of the platform layer that throws (not one guarded by AllocateHWnd)
// must not unwind through Qt's loop: the exception is reported and the loop goes on.
TEST(QtLoop, AThrowingWindowProcedureIsReportedAndTheLoopGoesOn) {
    tw::ui::InitializeToolkit();
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = [](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
        if (m == WM_APP) throw std::runtime_error("Procedure failed");
        if (m == WM_APP + 1) tw::ui::QuitLoop();
        return DefWindowProcA(h, m, w, l);
    };
    wc.lpszClassName = "TwThrowingWindow";
    ASSERT_NE(0, RegisterClassExA(&wc));
    HWND wnd = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(wnd, nullptr);
    std::vector<std::string> reports;
    Application->OnException = [&](TObject *, const std::string &m) { reports.push_back(m); };
    PostMessageA(wnd, WM_APP, 0, 0);
    PostMessageA(wnd, WM_APP + 1, 0, 0);
    tw::ui::RunLoop();
    Application->OnException = nullptr;
    EXPECT_EQ(reports, (std::vector<std::string>{"Procedure failed."}));
    DestroyWindow(wnd);
}
