// The framework over the target's real peer, driven as a user drives it (UiDriver.h): events
// come from the user's actions and not from the program, disabled controls take nothing, the
// modal dialogs answer as the platform's do, and the application's loop reports a handler's
// exception and goes on.
#include "framework/Application.h"
#include "framework/ComCtrls.h"
#include "framework/Dialogs.h"
#include "framework/Forms.h"
#include "framework/MessageWindow.h"
#include "framework/StdCtrls.h"
#include "support/UiDriver.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace tw::test;

namespace {

struct UserActions : ::testing::Test {
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

namespace fs = std::filesystem;

fs::path PathOf(const std::string &Utf8) {
    return fs::path(std::u8string(reinterpret_cast<const char8_t *>(Utf8.data()), Utf8.size()));
}

std::string Utf8Of(const fs::path &Path) {
    const std::u8string s = Path.u8string();
    return std::string(reinterpret_cast<const char *>(s.data()), s.size());
}

std::string Repeat(const std::string &S, int N) {
    std::string out;
    for (int i = 0; i < N; ++i) out += S;
    return out;
}

}  // namespace

TEST_F(UserActions, ButtonRaisesOnClickForMouseAndKeyboardUnlessDisabled) {
    auto *button = Place<TButton>(376, 12, 25, 21);
    int clicks = 0;
    button->OnClick = [&](TObject *Sender) {
        EXPECT_EQ(Sender, button);
        ++clicks;
    };
    ASSERT_TRUE(ShowForm(form.get()));
    EXPECT_TRUE(Click(button));
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(PressKey(button, Key::Space));
    EXPECT_EQ(clicks, 2);
    button->SetEnabled(false);
    EXPECT_FALSE(Click(button));
    EXPECT_EQ(clicks, 2);
}

TEST_F(UserActions, ComboBoxRaisesOnChangeForTheUsersChoiceOnly) {
    auto *box = Place<TComboBox>(68, 48, 173, 20);
    box->SetItems({"wmp_V80_255VideoPDA", "wmp_V80_150VideoPDA", "wmp_V80_28856VideoMBR"});
    int changes = 0, seen = -2;
    box->OnChange = [&](TObject *) {
        ++changes;
        seen = box->ItemIndex();
    };
    ASSERT_TRUE(ShowForm(form.get()));
    box->SetItemIndex(1);
    EXPECT_EQ(changes, 0);
    // The arrow key on the closed list: the control moves its own selection and says so.
    EXPECT_TRUE(PressKey(box, Key::Down));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(seen, 2);
    EXPECT_EQ(box->Text(), "wmp_V80_28856VideoMBR");
    EXPECT_TRUE(Choose(box, 0));
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(seen, 0);
    box->SetEnabled(false);
    EXPECT_FALSE(Choose(box, 1));
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(box->ItemIndex(), 0);
}

TEST_F(UserActions, MemoEditedByTheUserRaisesOnChangeUnlessReadOnly) {
    auto *memo = Place<TMemo>(68, 84, 300, 60);
    memo->SetText("C:\\temp.asf");
    int changes = 0;
    memo->OnChange = [&](TObject *) { ++changes; };
    ASSERT_TRUE(ShowForm(form.get()));
    EXPECT_TRUE(PressKey(memo, Key::End));
    EXPECT_TRUE(Type(memo, "\rx"));
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(memo->Text(), "C:\\temp.asf\r\nx");
    memo->SetReadOnly(true);
    EXPECT_TRUE(Type(memo, "y"));
    EXPECT_EQ(memo->Text(), "C:\\temp.asf\r\nx");
    EXPECT_EQ(changes, 2);
}

TEST_F(UserActions, TrackBarReportsMousePressAndReleaseWithButtonShiftAndPlace) {
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
    ASSERT_TRUE(ShowForm(form.get()));
    EXPECT_TRUE(MouseDown(bar, mbLeft, ssShift, 140, 12));
    EXPECT_TRUE(MouseUp(bar, mbLeft, ssShift, 140, 12));
    EXPECT_TRUE(MouseDown(bar, mbRight, ssCtrl, 3, 4));
    EXPECT_TRUE(MouseUp(bar, mbRight, ssCtrl, 3, 4));
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
    EXPECT_TRUE(PressKey(bar, Key::Right));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(bar->Position(), before + 1);

    bar->SetEnabled(false);
    EXPECT_FALSE(MouseDown(bar, mbLeft, 0, 10, 12));
    EXPECT_FALSE(PressKey(bar, Key::Right));
    EXPECT_EQ(hits.size(), 4u);
    EXPECT_EQ(changes, 1);
}

// A handler may close the program's window for good: the peers go while the native
// control that reported the action is still handling it.
TEST_F(UserActions, AHandlerMayDestroyTheFormOfTheControlThatRaisedIt) {
    auto *button = Place<TButton>(376, 12, 25, 21);
    button->OnClick = [&](TObject *) { form.reset(); };
    ASSERT_TRUE(ShowForm(form.get()));
    EXPECT_TRUE(Click(button));
    tw::ui::ProcessMessages();
    EXPECT_FALSE(form);

    form = std::make_unique<TForm>(nullptr);
    auto *bar = Place<TTrackBar>(60, 112, 150, 25);
    bar->OnMouseDown = [&](TObject *, TMouseButton, TShiftState, int, int) { form.reset(); };
    ASSERT_TRUE(ShowForm(form.get()));
    EXPECT_TRUE(MouseDown(bar, mbLeft, 0, 10, 10));
    tw::ui::ProcessMessages();
    EXPECT_FALSE(form);
}

// ---- Dialogs.

TEST(Dialogs, InputBoxOkCancelCloseAndLength) {
    tw::ui::InitializeToolkit();
    {
        // OK: the field starts with the default, all of it selected; typing replaces it.
        std::string prompt, selected;
        WhenBoxOpens box("Tarnwick", [&](const BoxAccess &b) {
            prompt = b.Message();
            selected = b.SelectedText();
            b.Type("http://host/片");
            b.Press(Answer::Ok);
        });
        std::string value = "C:\\默认.asf";
        EXPECT_TRUE(InputQuery("Tarnwick", "媒体来源:", value));
        EXPECT_TRUE(box.Wait());
        EXPECT_EQ(prompt, "媒体来源:");
        EXPECT_EQ(selected, "C:\\默认.asf");
        EXPECT_EQ(value, "http://host/片");
    }
    {
        WhenBoxOpens box("T", [](const BoxAccess &b) {
            b.Type("changed");
            b.Press(Answer::Cancel);
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
        // 255 characters at most, counted as characters, not bytes.
        WhenBoxOpens box("T", [](const BoxAccess &b) {
            b.Type(std::string(200, 'x') + Repeat("录", 100));
            b.Press(Answer::Ok);
        });
        std::string value;
        EXPECT_TRUE(InputQuery("T", "P", value));
        EXPECT_TRUE(box.Wait());
        EXPECT_EQ(value, std::string(200, 'x') + Repeat("录", 55));
    }
}

TEST(Dialogs, SaveDialogGivesAFullPathWithTheDefaultExtension) {
    tw::ui::InitializeToolkit();
    const fs::path dir = fs::temp_directory_path() / ("tw-save-" + std::to_string(std::random_device()()));
    fs::create_directories(dir);
    TSaveDialog save(nullptr);
    save.Title = "保存录像";
    save.DefaultExt = "ASF";
    save.Filter = "ASF|*.ASF";
    save.InitialDir = Utf8Of(dir);
    auto answer = [](const std::string &Name) {
        return [Name](const BoxAccess &b) {
            b.ClearField();
            b.Type(Name);
            b.Press(Answer::Ok);
        };
    };
    {
        WhenBoxOpens box("保存录像", answer("录音"));
        ASSERT_TRUE(save.Execute());
        EXPECT_TRUE(box.Wait());
    }
    // The default extension is added; its case is the dialog's (Wine's takes the filter's in
    // lower case), and the file systems of the program's platform do not tell one from the other.
    const fs::path chosen = PathOf(save.FileName);
    EXPECT_TRUE(chosen.is_absolute()) << save.FileName;
    EXPECT_TRUE(fs::equivalent(chosen.parent_path(), dir)) << save.FileName;
    EXPECT_EQ(Utf8Of(chosen.stem()), "录音");
    std::string ext = Utf8Of(chosen.extension());
    for (char &c : ext) c = char(toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(ext, ".ASF");

    // An existing file is taken as it is: no overwrite prompt by default.
    const fs::path old = dir / "old.asf";
    { std::ofstream(old).put('x'); }
    {
        WhenBoxOpens box("保存录像", answer("old.asf"));
        ASSERT_TRUE(save.Execute());
        EXPECT_TRUE(box.Wait());
    }
    EXPECT_TRUE(PathOf(save.FileName).is_absolute()) << save.FileName;
    EXPECT_TRUE(fs::equivalent(PathOf(save.FileName), old)) << save.FileName;

    {
        WhenBoxOpens box("保存录像", [](const BoxAccess &b) { b.Press(Answer::Cancel); });
        save.FileName = "unchanged";
        EXPECT_FALSE(save.Execute());
        EXPECT_TRUE(box.Wait());
    }
    EXPECT_EQ(save.FileName, "unchanged");
    fs::remove_all(dir);
}

TEST(Dialogs, ErrorReportIsCaptionedWithTheTitleWithAnErrorIconAndThePeriodRule) {
    Application->Initialize();
    Application->SetTitle("Tarnwick0.02bu");
    std::vector<std::string> texts;
    int errorIcons = 0;
    for (const char *message : {"Unspecified error", "已停止!"}) {
        WhenBoxOpens box("Tarnwick0.02bu", [&](const BoxAccess &b) {
            texts.push_back(b.Message());
            errorIcons += b.ErrorIcon();
            b.Press(Answer::Ok);
        });
        try {
            throw std::runtime_error(message);
        } catch (...) {
            Application->HandleException(nullptr);
        }
        EXPECT_TRUE(box.Wait());
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"Unspecified error.", "已停止!"}));
    EXPECT_EQ(errorIcons, 2);
}

TEST(Dialogs, MessageBoxAnswersWithThePlatformsIds) {
    tw::ui::InitializeToolkit();
    {
        WhenBoxOpens box("T", [](const BoxAccess &b) { b.CloseBox(); });
        EXPECT_EQ(tw::ui::MessageBox(nullptr, "Stop?", "T", MB_OKCANCEL | MB_ICONQUESTION), IDCANCEL);
        EXPECT_TRUE(box.Wait());
    }
    {
        WhenBoxOpens box("T", [](const BoxAccess &b) { b.Press(Answer::No); });
        EXPECT_EQ(tw::ui::MessageBox(nullptr, "Stop?", "T", MB_YESNO), IDNO);
        EXPECT_TRUE(box.Wait());
    }
}

// ---- The loop.

TEST(Loop, RunLoopDispatchesAMessagePostedFromAnotherThread) {
    tw::ui::InitializeToolkit();
    const auto ui = std::this_thread::get_id();
    std::vector<LPARAM> got;
    HWND wnd = tw::AllocateHWnd([&](UINT Msg, WPARAM, LPARAM l) -> LRESULT {
        if (Msg != WM_APP) return 0;
        EXPECT_EQ(std::this_thread::get_id(), ui);
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

// The program's whole life: Run shows the main form and loops; a handler's exception is
// reported in a box and the loop goes on; the user closing the main form ends Run.
TEST(Loop, RunReportsAHandlersExceptionAndEndsWhenTheMainFormCloses) {
    Application->Initialize();
    Application->SetTitle("Tarnwick0.02bu");
    TForm *form = nullptr;
    Application->CreateForm(form);
    auto *button = new TButton(form);
    button->SetParent(form);
    button->OnClick = [](TObject *) { throw std::runtime_error("Not now"); };
    std::string reported;
    WhenBoxOpens box("Tarnwick0.02bu", [&](const BoxAccess &b) {
        reported = b.Message();
        b.Press(Answer::Ok);
        CloseByUser(form);
    });
    // The user's click, once the loop runs.
    HWND clicker = tw::AllocateHWnd([&](UINT Msg, WPARAM, LPARAM) -> LRESULT {
        if (Msg == WM_APP) Click(button);
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
