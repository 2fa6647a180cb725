// The Win32 peer driven as a user drives it (the real controls, under Wine in the test run),
// its modal dialogs answered from a second thread, and the loop serving the platform's
// windows while a box is open.
#include "framework/Application.h"
#include "framework/ComCtrls.h"
#include "framework/Dialogs.h"
#include "framework/Forms.h"
#include "framework/MessageWindow.h"
#include "framework/StdCtrls.h"
#include "framework/Win32Driver.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace tw::test;

namespace {

HWND Wnd(TControl *C) { return static_cast<HWND>(C->Peer()->Handle()); }

struct Fixture : ::testing::Test {
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
    void ShowForm() {
        form->Show();
        UpdateWindow(Wnd(form.get()));
        tw::ui::ProcessMessages();
    }
    std::unique_ptr<TForm> form;
};

using Win32Peer = Fixture;

}  // namespace

TEST_F(Win32Peer, ButtonClickedByTheUserRaisesOnClickUnlessDisabled) {
    auto *button = Place<TButton>(376, 12, 25, 21);
    int clicks = 0;
    button->OnClick = [&](TObject *Sender) {
        EXPECT_EQ(Sender, button);
        ++clicks;
    };
    ShowForm();
    EXPECT_TRUE(Click(Wnd(button)));
    EXPECT_EQ(clicks, 1);
    SetFocus(Wnd(button));
    EXPECT_TRUE(Key(Wnd(button), VK_SPACE));
    EXPECT_EQ(clicks, 2);
    button->SetEnabled(false);
    EXPECT_FALSE(Click(Wnd(button)));
    EXPECT_EQ(clicks, 2);
}

TEST_F(Win32Peer, ComboBoxRaisesOnChangeForTheUsersChoiceOnly) {
    auto *box = Place<TComboBox>(68, 48, 173, 20);
    box->SetItems({"wmp_V80_255VideoPDA", "wmp_V80_150VideoPDA", "wmp_V80_28856VideoMBR"});
    int changes = 0, seen = -2;
    box->OnChange = [&](TObject *) {
        ++changes;
        seen = box->ItemIndex();
    };
    ShowForm();
    box->SetItemIndex(1);
    EXPECT_EQ(changes, 0);
    // The arrow key on the closed list: the control moves its own selection and notifies.
    SetFocus(Wnd(box));
    EXPECT_TRUE(Key(Wnd(box), VK_DOWN));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(seen, 2);
    EXPECT_EQ(box->Text(), "wmp_V80_28856VideoMBR");
    EXPECT_TRUE(Choose(Wnd(box), 0));
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(seen, 0);
    box->SetEnabled(false);
    EXPECT_FALSE(Choose(Wnd(box), 1));
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(box->ItemIndex(), 0);
}

TEST_F(Win32Peer, MemoEditedByTheUserRaisesOnChangeUnlessReadOnly) {
    auto *memo = Place<TMemo>(68, 84, 300, 60);
    memo->SetText("C:\\temp.asf");
    int changes = 0;
    memo->OnChange = [&](TObject *) { ++changes; };
    ShowForm();
    HWND edit = Wnd(memo);
    SetFocus(edit);
    SendMessageW(edit, EM_SETSEL, 11, 11);  // the caret at the end, as a click there puts it
    EXPECT_TRUE(Type(edit, "\rx"));
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(memo->Text(), "C:\\temp.asf\r\nx");
    memo->SetReadOnly(true);
    EXPECT_TRUE(Type(edit, "y"));
    EXPECT_EQ(memo->Text(), "C:\\temp.asf\r\nx");
    EXPECT_EQ(changes, 2);
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
    ShowForm();
    EXPECT_EQ(GetFocus(), Wnd(memo));  // the first in tab order has the focus when shown
    EXPECT_TRUE(Key(Wnd(memo), VK_TAB));
    EXPECT_EQ(GetFocus(), Wnd(button));
    EXPECT_TRUE(Key(Wnd(button), VK_TAB));
    EXPECT_EQ(GetFocus(), Wnd(box));
    EXPECT_TRUE(Key(Wnd(box), VK_TAB));
    EXPECT_EQ(GetFocus(), Wnd(memo));
    EXPECT_EQ(memo->Text(), "");
}

TEST_F(Win32Peer, TrackBarReportsMousePressAndReleaseWithButtonShiftAndPlace) {
    auto *bar = Place<TTrackBar>(60, 112, 150, 25);
    bar->SetMax(90);
    bar->SetPosition(30);
    struct Hit {
        bool down;
        TMouseButton button;
        TShiftState shift;
        int x, y;
        int position;
    };
    std::vector<Hit> hits;
    bar->OnMouseDown = [&](TObject *, TMouseButton b, TShiftState s, int x, int y) {
        hits.push_back({true, b, s, x, y, bar->Position()});
    };
    bar->OnMouseUp = [&](TObject *, TMouseButton b, TShiftState s, int x, int y) {
        hits.push_back({false, b, s, x, y, bar->Position()});
    };
    int changes = 0;
    bar->OnChange = [&](TObject *) { ++changes; };
    ShowForm();
    HWND track = Wnd(bar);
    EXPECT_TRUE(Press(track, mbLeft, ssShift, 140, 12));
    EXPECT_TRUE(Release(track, mbLeft, ssShift, 140, 12));
    EXPECT_TRUE(Press(track, mbRight, ssCtrl, 3, 4));
    EXPECT_TRUE(Release(track, mbRight, ssCtrl, 3, 4));
    ASSERT_EQ(hits.size(), 4u);
    EXPECT_TRUE(hits[0].down);
    EXPECT_EQ(hits[0].button, mbLeft);
    EXPECT_EQ(hits[0].shift, ssShift | ssLeft);
    EXPECT_EQ(hits[0].x, 140);
    EXPECT_EQ(hits[0].y, 12);
    EXPECT_FALSE(hits[1].down);
    EXPECT_EQ(hits[1].shift, ssShift);  // the button is up by then
    // The press on the channel moved the thumb towards it before the release was reported.
    EXPECT_GT(hits[1].position, 30);
    EXPECT_GE(changes, 1);
    EXPECT_EQ(hits[2].button, mbRight);
    EXPECT_EQ(hits[2].shift, ssCtrl | ssRight);
    EXPECT_EQ(hits[3].x, 3);
    EXPECT_EQ(hits[3].y, 4);

    const int before = bar->Position();
    changes = 0;
    SetFocus(track);
    EXPECT_TRUE(Key(track, VK_RIGHT));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(bar->Position(), before + 1);

    bar->SetEnabled(false);
    EXPECT_FALSE(Press(track, mbLeft, 0, 10, 12));
    EXPECT_EQ(hits.size(), 4u);
}

TEST_F(Win32Peer, FormIsCentredNotResizableAndRefusesAWindowCloseItsQueryDenies) {
    form->SetCaption("录制声音和图像!");
    bool allow = false;
    form->OnCloseQuery = [&](TObject *, bool &CanClose) { CanClose = allow; };
    ShowForm();
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
    const LRESULT corner = SendMessageW(w, WM_NCHITTEST, 0, MAKELPARAM(outer.right - 1, outer.bottom - 1));
    EXPECT_NE(corner, HTBOTTOMRIGHT);
    RECT area;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    EXPECT_LE(std::abs((outer.left + outer.right) - (area.left + area.right)), 2);
    EXPECT_LE(std::abs((outer.top + outer.bottom) - (area.top + area.bottom)), 2);

    SendMessageW(w, WM_SYSCOMMAND, SC_CLOSE, 0);  // the close box
    EXPECT_TRUE(IsWindowVisible(w));
    EXPECT_TRUE(form->Showing());
    allow = true;
    SendMessageW(w, WM_SYSCOMMAND, SC_CLOSE, 0);
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
    ShowForm();
    HWND w = Wnd(form.get());
    RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    HDC dc = GetDC(w);
    auto at = [&](int x, int y) {
        const COLORREF c = GetPixel(dc, x, y);
        return RGBColor(GetRValue(c), GetGValue(c), GetBValue(c));
    };
    EXPECT_EQ(at(200, 70), tw::ui::ColorToRGB(clBtnFace));      // the form
    EXPECT_EQ(at(360, 25), clSkyBlue);                          // the read-only box, past its text
    EXPECT_EQ(at(360, 97), clSkyBlue);                          // the editable one
    const TRect label = status->BoundsRect();
    EXPECT_EQ(at(label.Right - 1, label.Top), tw::ui::ColorToRGB(clActiveCaption));
    // Somewhere in the text, the font's red.
    bool redSeen = false;
    for (int x = label.Left; x < label.Right && !redSeen; ++x)
        for (int y = label.Top; y < label.Bottom && !redSeen; ++y) redSeen = at(x, y) == clRed;
    EXPECT_TRUE(redSeen);
    ReleaseDC(w, dc);
}

// ---- Dialogs.

TEST(Win32Dialogs, InputBoxOkCancelCloseAndLength) {
    tw::ui::InitializeToolkit();
    std::string prompt, selected;
    {
        // OK: the field starts with the default, all of it selected; typing replaces it.
        WhenBoxOpens box("Tarnwick", [&](const BoxAccess &b) {
            prompt = b.Message();
            const DWORD sel = DWORD(SendMessageW(b.Edit(), EM_GETSEL, 0, 0));
            wchar_t text[64] = {};
            SendMessageW(b.Edit(), WM_GETTEXT, 64, reinterpret_cast<LPARAM>(text));
            selected = std::to_string(LOWORD(sel)) + ".." + std::to_string(HIWORD(sel)) + " of " +
                       std::to_string(wcslen(text));
            b.Type("http://host/片");
            b.Press(IDOK);
        });
        std::string value = "C:\\默认.asf";
        EXPECT_TRUE(InputQuery("Tarnwick", "媒体来源:", value));
        EXPECT_TRUE(box.Wait());
        EXPECT_EQ(value, "http://host/片");
    }
    EXPECT_EQ(prompt, "媒体来源:");
    EXPECT_EQ(selected, "0..9 of 9");
    {
        WhenBoxOpens box("T", [](const BoxAccess &b) {
            b.Type("changed");
            b.Press(IDCANCEL);
        });
        EXPECT_EQ(InputBox("T", "P", "default"), "default");
        EXPECT_TRUE(box.Wait());
    }
    {
        WhenBoxOpens box("T", [](const BoxAccess &b) {
            b.Type("changed");
            b.CloseBox();
        });
        std::string value = "kept";
        EXPECT_FALSE(InputQuery("T", "P", value));
        EXPECT_TRUE(box.Wait());
        EXPECT_EQ(value, "kept");
    }
    {
        WhenBoxOpens box("T", [](const BoxAccess &b) {
            b.Type(std::string(200, 'x'));
            std::string many;
            for (int i = 0; i < 100; ++i) many += "录";
            b.Type(many);
            b.Press(IDOK);
        });
        std::string value;
        EXPECT_TRUE(InputQuery("T", "P", value));
        EXPECT_TRUE(box.Wait());
        std::string expected(200, 'x');
        for (int i = 0; i < 55; ++i) expected += "录";
        EXPECT_EQ(value, expected);
    }
}

TEST(Win32Dialogs, SaveDialogGivesAFullPathWithTheDefaultExtension) {
    tw::ui::InitializeToolkit();
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    const std::wstring dir = std::wstring(temp) + L"tw-save-" + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    auto utf8 = [](const std::wstring &S) {
        std::string out(size_t(WideCharToMultiByte(CP_UTF8, 0, S.c_str(), -1, nullptr, 0, nullptr, nullptr)), '\0');
        WideCharToMultiByte(CP_UTF8, 0, S.c_str(), -1, out.data(), int(out.size()), nullptr, nullptr);
        out.pop_back();
        return out;
    };
    TSaveDialog save(nullptr);
    save.Title = "保存录像";
    save.DefaultExt = "ASF";
    save.Filter = "ASF|*.ASF";
    save.InitialDir = utf8(dir);
    auto answer = [](const std::string &Name) {
        return [Name](const BoxAccess &b) {
            SendMessageW(b.Edit(), WM_SETTEXT, 0, 0);
            b.Type(Name);
            b.Press(IDOK);
        };
    };
    {
        WhenBoxOpens box("保存录像", answer("录音"));
        ASSERT_TRUE(save.Execute());
        EXPECT_TRUE(box.Wait());
    }
    // The default extension is added; its case is the dialog's to choose (Wine's takes the
    // filter's in lower case), and the file system does not tell one from the other.
    ASSERT_GE(save.FileName.size(), 4u);
    EXPECT_EQ(save.FileName.substr(0, save.FileName.size() - 4), utf8(dir) + "\\录音");
    EXPECT_EQ(_stricmp(save.FileName.substr(save.FileName.size() - 4).c_str(), ".asf"), 0) << save.FileName;

    // An existing file is taken as it is: no overwrite prompt by default.
    const std::wstring old = dir + L"\\old.asf";
    HANDLE f = CreateFileW(old.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    CloseHandle(f);
    {
        WhenBoxOpens box("保存录像", answer("old.asf"));
        ASSERT_TRUE(save.Execute());
        EXPECT_TRUE(box.Wait());
    }
    EXPECT_EQ(save.FileName, utf8(old));

    {
        WhenBoxOpens box("保存录像", [](const BoxAccess &b) { b.Press(IDCANCEL); });
        save.FileName = "unchanged";
        EXPECT_FALSE(save.Execute());
        EXPECT_TRUE(box.Wait());
    }
    EXPECT_EQ(save.FileName, "unchanged");
    DeleteFileW(old.c_str());
    RemoveDirectoryW(dir.c_str());
}

TEST(Win32Dialogs, ErrorReportIsCaptionedWithTheTitleWithAnErrorIconAndThePeriodRule) {
    Application->Initialize();
    Application->SetTitle("Tarnwick0.02bu");
    std::vector<std::string> texts;
    std::vector<bool> errorIcons;
    for (const char *message : {"Unspecified error", "已停止!"}) {
        WhenBoxOpens box("Tarnwick0.02bu", [&](const BoxAccess &b) {
            texts.push_back(b.Message());
            errorIcons.push_back(b.Icon() == LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_ERROR)));
            b.Press(IDOK);
        });
        try {
            throw std::runtime_error(message);
        } catch (...) {
            Application->HandleException(nullptr);
        }
        EXPECT_TRUE(box.Wait());
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"Unspecified error.", "已停止!"}));
    EXPECT_EQ(errorIcons, (std::vector<bool>{true, true}));
}

TEST(Win32Dialogs, MessageBoxAnswersWithThePlatformsIds) {
    tw::ui::InitializeToolkit();
    {
        WhenBoxOpens box("T", [](const BoxAccess &b) { b.CloseBox(); });
        EXPECT_EQ(tw::ui::MessageBox(nullptr, "Stop?", "T", MB_OKCANCEL | MB_ICONQUESTION), IDCANCEL);
    }
    {
        WhenBoxOpens box("T", [](const BoxAccess &b) { b.Press(IDNO); });
        EXPECT_EQ(tw::ui::MessageBox(nullptr, "Stop?", "T", MB_YESNO), IDNO);
    }
}

// ---- The loop.

TEST(Win32Loop, RunLoopDispatchesAMessagePostedFromAnotherThread) {
    tw::ui::InitializeToolkit();
    const DWORD ui = GetCurrentThreadId();
    std::vector<LPARAM> got;
    HWND wnd = tw::AllocateHWnd([&](UINT Msg, WPARAM, LPARAM l) -> LRESULT {
        if (Msg != WM_APP) return 0;
        EXPECT_EQ(GetCurrentThreadId(), ui);
        got.push_back(l);
        if (got.size() == 3) tw::ui::QuitLoop();
        return 0;
    });
    std::thread poster([wnd] {
        for (LPARAM i = 1; i <= 3; ++i) PostMessageA(wnd, WM_APP, 0, i);
    });
    tw::ui::RunLoop();
    poster.join();
    EXPECT_EQ(got, (std::vector<LPARAM>{1, 2, 3}));
    tw::DeallocateHWnd(wnd);
}

// A graph event whose handler opens a modal box (the error report) does so from inside the
// dispatch; while that box is open, timer ticks and messages from a streaming thread still
// arrive.
TEST(Win32Loop, ModalBoxKeepsDispatchingTimersAndPostedMessages) {
    tw::ui::InitializeToolkit();
    int ticks = 0, posts = 0;
    bool boxOpen = false;
    HANDLE served = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    bool closedByWatchdog = false;
    std::thread poster;
    HWND wnd = nullptr;
    wnd = tw::AllocateHWnd([&](UINT Msg, WPARAM, LPARAM) -> LRESULT {
        if (Msg == WM_APP) {
            WhenBoxOpens box("Graph", [&](const BoxAccess &b) {
                // Only if the box is never served: close it rather than hang.
                closedByWatchdog = WaitForSingleObject(served, 10000) != WAIT_OBJECT_0;
                b.Press(IDOK);
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

// The program's whole life: Run shows the main form and loops; a handler's exception is
// reported in a box and the loop goes on; the user closing the main form ends Run.
TEST(Win32Loop, RunReportsAHandlersExceptionAndEndsWhenTheMainFormCloses) {
    Application->Initialize();
    Application->SetTitle("Tarnwick0.02bu");
    TForm *form = nullptr;
    Application->CreateForm(form);
    auto *button = new TButton(form);
    button->SetParent(form);
    button->OnClick = [](TObject *) { throw std::runtime_error("Not now"); };
    std::string reported;
    HWND formWnd = static_cast<HWND>(form->Peer()->Handle());
    HWND buttonWnd = static_cast<HWND>(button->Peer()->Handle());
    WhenBoxOpens box("Tarnwick0.02bu", [&](const BoxAccess &b) {
        reported = b.Message();
        b.Press(IDOK);
        // Back in the main loop: the user closes the window.
        SendMessageW(formWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    });
    // The user's click, once the loop runs.
    HWND clicker = tw::AllocateHWnd([&](UINT Msg, WPARAM, LPARAM) -> LRESULT {
        if (Msg == WM_APP) Click(buttonWnd);
        return 0;
    });
    PostMessageA(clicker, WM_APP, 0, 0);
    Application->Run();
    EXPECT_TRUE(box.Wait());
    tw::DeallocateHWnd(clicker);
    EXPECT_EQ(reported, "Not now.");
    EXPECT_FALSE(form->Showing());
    Application->Done();
    EXPECT_EQ(Application->MainForm(), nullptr);
}
