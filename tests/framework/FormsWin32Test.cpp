// What only the Win32 peer shows: the form's window styles, the colours as painted, the Tab
// key among the controls, and the system's modal loop serving the platform's windows.
#include "framework/Application.h"
#include "framework/ComCtrls.h"
#include "framework/Forms.h"
#include "framework/MessageWindow.h"
#include "framework/StdCtrls.h"
#include "support/UiDriver.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <thread>

using namespace tw::test;

namespace {

HWND Wnd(TControl *C) { return static_cast<HWND>(C->Peer()->Handle()); }

struct Win32Peer : ::testing::Test {
    void SetUp() override {
        tw::ui::InitializeToolkit();
        form = std::make_unique<TForm>(nullptr);
        form->SetClientWidth(404);
        form->SetClientHeight(141);
    }
    template <class T>
    T *Place(int Left, int Top, int Width, int Height) {
        auto *c = new T(form.get());
        c->SetParent(form.get());
        c->SetBounds(Left, Top, Width, Height);
        return c;
    }
    std::unique_ptr<TForm> form;
};

}  // namespace

TEST_F(Win32Peer, FormIsCentredNotResizableAndRefusesAWindowCloseItsQueryDenies) {
    form->SetCaption("录制声音和图像!");
    bool allow = false;
    form->OnCloseQuery = [&](TObject *, bool &CanClose) { CanClose = allow; };
    ASSERT_TRUE(ShowForm(form.get()));
    HWND w = Wnd(form.get());
    wchar_t caption[64];
    GetWindowTextW(w, caption, 64);
    EXPECT_STREQ(caption, L"录制声音和图像!");
    RECT client;
    GetClientRect(w, &client);
    EXPECT_EQ(client.right, 404);
    EXPECT_EQ(client.bottom, 141);
    const LONG style = GetWindowLongW(w, GWL_STYLE);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_TRUE(style & WS_MAXIMIZEBOX);
    RECT outer;
    GetWindowRect(w, &outer);
    // The border offers no handle to drag.
    EXPECT_NE(SendMessageW(w, WM_NCHITTEST, 0, MAKELPARAM(outer.right - 1, outer.bottom - 1)), HTBOTTOMRIGHT);
    RECT area;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    EXPECT_LE(std::abs((outer.left + outer.right) - (area.left + area.right)), 2);
    EXPECT_LE(std::abs((outer.top + outer.bottom) - (area.top + area.bottom)), 2);

    CloseByUser(form.get());
    EXPECT_TRUE(IsWindowVisible(w));
    EXPECT_TRUE(form->Showing());
    allow = true;
    CloseByUser(form.get());
    EXPECT_FALSE(IsWindowVisible(w));
    EXPECT_FALSE(form->Showing());
}

TEST_F(Win32Peer, ColoursArePaintedAsSet) {
    TFont red;
    red.Name = "宋体";
    red.Height = -12;
    red.Charset = GB2312_CHARSET;
    red.Color = clRed;
    auto *status = Place<TLabel>(8, 120, 6, 12);
    status->SetFont(red);
    status->SetColor(clActiveCaption);
    auto *memo = Place<TMemo>(68, 12, 300, 21);
    memo->SetReadOnly(true);
    memo->SetColor(clSkyBlue);
    auto *editable = Place<TMemo>(68, 84, 300, 21);
    editable->SetColor(clSkyBlue);
    status->SetCaption("正在录制...");
    ASSERT_TRUE(ShowForm(form.get()));
    HWND w = Wnd(form.get());
    RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    HDC dc = GetDC(w);
    auto at = [&](int x, int y) {
        const COLORREF c = GetPixel(dc, x, y);
        return RGBColor(GetRValue(c), GetGValue(c), GetBValue(c));
    };
    EXPECT_EQ(at(200, 70), tw::ui::ColorToRGB(clBtnFace));  // the form
    EXPECT_EQ(at(360, 25), clSkyBlue);                      // the read-only box, past its text
    EXPECT_EQ(at(360, 97), clSkyBlue);                      // the editable one
    const TRect label = status->BoundsRect();
    EXPECT_EQ(at(label.Right - 1, label.Top), tw::ui::ColorToRGB(clActiveCaption));
    // Somewhere in the text, the font's red.
    bool redSeen = false;
    for (int x = label.Left; x < label.Right && !redSeen; ++x)
        for (int y = label.Top; y < label.Bottom && !redSeen; ++y) redSeen = at(x, y) == clRed;
    EXPECT_TRUE(redSeen);
    ReleaseDC(w, dc);
}

TEST_F(Win32Peer, TabVisitsTheControlsInTabOrderAndLeavesMemosUntouched) {
    auto *label = Place<TLabel>(8, 16, 54, 12);
    label->SetCaption("媒体来源:");
    auto *button = Place<TButton>(376, 12, 25, 21);
    auto *memo = Place<TMemo>(68, 12, 300, 21);
    auto *box = Place<TComboBox>(68, 48, 173, 20);
    memo->SetTabOrder(0);
    button->SetTabOrder(1);
    box->SetTabOrder(2);
    ASSERT_TRUE(ShowForm(form.get()));
    EXPECT_EQ(GetFocus(), Wnd(memo));  // the first in tab order has the focus when shown
    EXPECT_TRUE(PressKey(memo, Key::Tab));
    EXPECT_EQ(GetFocus(), Wnd(button));
    EXPECT_TRUE(PressKey(button, Key::Tab));
    EXPECT_EQ(GetFocus(), Wnd(box));
    EXPECT_TRUE(PressKey(box, Key::Tab));
    EXPECT_EQ(GetFocus(), Wnd(memo));
    EXPECT_EQ(memo->Text(), "");
}

// A graph event whose handler opens a modal box (the error report) does so from inside the
// dispatch; while that box is open, timer ticks and messages from a streaming thread still
// arrive. The box is closed from the second thread once they have.
TEST(Win32Loop, ModalBoxKeepsDispatchingTimersAndPostedMessages) {
    tw::ui::InitializeToolkit();
    int ticks = 0, posts = 0;
    bool boxOpen = false, closedByWatchdog = false;
    HANDLE served = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread poster;
    HWND wnd = nullptr;
    wnd = tw::AllocateHWnd([&](UINT Msg, WPARAM, LPARAM) -> LRESULT {
        if (Msg == WM_APP) {
            WhenBoxOpens box("Graph", [&](const BoxAccess &b) {
                // Only if the box is never served: close it rather than hang.
                closedByWatchdog = WaitForSingleObject(served, 10000) != WAIT_OBJECT_0;
                b.Press(Answer::Ok);
            });
            boxOpen = true;
            SetTimer(wnd, 1, 20, nullptr);
            poster = std::thread([target = wnd] { PostMessageA(target, WM_APP + 1, 0, 0); });
            tw::ui::MessageBox(nullptr, "Graph event failed", "Graph", MB_OK | MB_ICONERROR);
            boxOpen = false;
            KillTimer(wnd, 1);
            EXPECT_TRUE(box.Wait());
            tw::ui::QuitLoop();
            return 0;
        }
        if (!boxOpen) return 0;
        if (Msg == WM_APP + 1) ++posts;
        if (Msg == WM_TIMER) ++ticks;
        if (ticks >= 2 && posts >= 1) SetEvent(served);
        return 0;
    });
    PostMessageA(wnd, WM_APP, 0, 0);
    tw::ui::RunLoop();
    poster.join();
    EXPECT_FALSE(closedByWatchdog);
    EXPECT_GE(ticks, 2);
    EXPECT_EQ(posts, 1);
    tw::DeallocateHWnd(wnd);
    CloseHandle(served);
}
