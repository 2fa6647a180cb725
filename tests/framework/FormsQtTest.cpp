// The Qt peer driven as a user drives it (QTest's synthesized input under a real X server),
// its modal dialogs, and Qt's loop dispatching the platform's messages and timers.
#include "framework/Application.h"
#include "framework/ComCtrls.h"
#include "framework/Dialogs.h"
#include "framework/Forms.h"
#include "framework/MessageWindow.h"
#include "framework/StdCtrls.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

template <class W>
W *WidgetOf(TControl *C) {
    return static_cast<W *>(C->Peer()->Handle());
}

// Runs Act on the modal dialog once its loop is running (looked for again on each turn of
// that loop until it is there), then lets Act close it.
void WhenModal(std::function<void(QWidget *)> Act) {
    QTimer::singleShot(0, [Act] {
        if (QWidget *w = QApplication::activeModalWidget())
            Act(w);
        else
            WhenModal(Act);
    });
}

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
        ASSERT_TRUE(QTest::qWaitForWindowExposed(static_cast<QWidget *>(form->Peer()->Handle())));
    }
    std::unique_ptr<TForm> form;
};

using QtPeer = Fixture;

}  // namespace

TEST_F(QtPeer, ButtonClickedByTheUserRaisesOnClickUnlessDisabled) {
    auto *button = Place<TButton>(376, 12, 25, 21);
    int clicks = 0;
    button->OnClick = [&](TObject *Sender) {
        EXPECT_EQ(Sender, button);
        ++clicks;
    };
    ShowForm();
    QTest::mouseClick(WidgetOf<QPushButton>(button), Qt::LeftButton);
    EXPECT_EQ(clicks, 1);
    WidgetOf<QPushButton>(button)->setFocus();
    QTest::keyClick(WidgetOf<QPushButton>(button), Qt::Key_Space);
    EXPECT_EQ(clicks, 2);
    button->SetEnabled(false);
    QTest::mouseClick(WidgetOf<QPushButton>(button), Qt::LeftButton);
    EXPECT_EQ(clicks, 2);
}

TEST_F(QtPeer, ComboBoxRaisesOnChangeForTheUsersChoiceOnly) {
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
    QComboBox *combo = WidgetOf<QComboBox>(box);
    combo->setFocus();
    QTest::keyClick(combo, Qt::Key_Down);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(seen, 2);
    EXPECT_EQ(box->Text(), "wmp_V80_28856VideoMBR");
    box->SetEnabled(false);
    QTest::keyClick(combo, Qt::Key_Up);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(box->ItemIndex(), 2);
}

TEST_F(QtPeer, MemoEditedByTheUserRaisesOnChangeUnlessReadOnly) {
    auto *memo = Place<TMemo>(68, 84, 300, 60);
    memo->SetText("C:\\temp.asf");
    int changes = 0;
    memo->OnChange = [&](TObject *) { ++changes; };
    ShowForm();
    QPlainTextEdit *edit = WidgetOf<QPlainTextEdit>(memo);
    edit->setFocus();
    edit->moveCursor(QTextCursor::End);
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::keyClicks(edit, "x");
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(memo->Text(), "C:\\temp.asf\r\nx");
    memo->SetReadOnly(true);
    QTest::keyClicks(edit, "y");
    EXPECT_EQ(memo->Text(), "C:\\temp.asf\r\nx");
    EXPECT_EQ(changes, 2);
}

TEST_F(QtPeer, TrackBarReportsMousePressAndReleaseWithButtonShiftAndPlace) {
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
    QSlider *slider = WidgetOf<QSlider>(bar);
    QTest::mousePress(slider, Qt::LeftButton, Qt::ShiftModifier, QPoint(140, 12));
    QTest::mouseRelease(slider, Qt::LeftButton, Qt::ShiftModifier, QPoint(140, 12));
    QTest::mousePress(slider, Qt::RightButton, Qt::ControlModifier, QPoint(3, 4));
    QTest::mouseRelease(slider, Qt::RightButton, Qt::ControlModifier, QPoint(3, 4));
    ASSERT_EQ(hits.size(), 4u);
    EXPECT_TRUE(hits[0].down);
    EXPECT_EQ(hits[0].button, mbLeft);
    EXPECT_EQ(hits[0].shift, ssShift | ssLeft);
    EXPECT_EQ(hits[0].x, 140);
    EXPECT_EQ(hits[0].y, 12);
    EXPECT_FALSE(hits[1].down);
    EXPECT_EQ(hits[1].shift, ssShift);  // the button is up by then
    // The click on the groove moved the thumb towards it before the release was reported.
    EXPECT_GT(hits[1].position, 30);
    EXPECT_GE(changes, 1);
    EXPECT_EQ(hits[2].button, mbRight);
    EXPECT_EQ(hits[2].shift, ssCtrl | ssRight);
    EXPECT_EQ(hits[3].x, 3);
    EXPECT_EQ(hits[3].y, 4);

    const int before = bar->Position();
    changes = 0;
    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_Right);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(bar->Position(), before + 1);

    bar->SetEnabled(false);
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(10, 12));
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(10, 12));
    EXPECT_EQ(hits.size(), 4u);
    EXPECT_EQ(changes, 1);
}

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

// ---- Dialogs.

TEST(QtDialogs, InputBoxOkCancelCloseAndLength) {
    tw::ui::InitializeToolkit();
    std::string selected;
    // OK: the field started with the default, all of it selected; typing replaces it.
    WhenModal([&](QWidget *w) {
        EXPECT_EQ(w->windowTitle().toStdString(), "Tarnwick");
        auto *edit = w->findChild<QLineEdit *>();
        selected = edit->selectedText().toStdString();
        QTest::keyClicks(edit, "http://host/");
        edit->insert(QString::fromUtf8("片"));  // as an input method commits it
        QTest::keyClick(edit, Qt::Key_Return);
    });
    std::string value = "C:\\默认.asf";
    EXPECT_TRUE(InputQuery("Tarnwick", "媒体来源:", value));
    EXPECT_EQ(selected, "C:\\默认.asf");
    EXPECT_EQ(value, "http://host/片");

    WhenModal([](QWidget *w) {
        QTest::keyClicks(w->findChild<QLineEdit *>(), "changed");
        QTest::keyClick(w, Qt::Key_Escape);
    });
    EXPECT_EQ(InputBox("T", "P", "default"), "default");

    WhenModal([](QWidget *w) {
        QTest::keyClicks(w->findChild<QLineEdit *>(), "changed");
        w->close();  // the close box
    });
    value = "kept";
    EXPECT_FALSE(InputQuery("T", "P", value));
    EXPECT_EQ(value, "kept");

    WhenModal([](QWidget *w) {
        auto *edit = w->findChild<QLineEdit *>();
        QTest::keyClicks(edit, QString(200, 'x'));
        edit->insert(QString(100, QChar(0x5F55)));  // 录
        QTest::keyClick(edit, Qt::Key_Return);
    });
    value.clear();
    EXPECT_TRUE(InputQuery("T", "P", value));
    EXPECT_EQ(QString::fromStdString(value), QString(200, 'x') + QString(55, QChar(0x5F55)));
}

TEST(QtDialogs, SaveDialogGivesAFullPathWithTheDefaultExtension) {
    tw::ui::InitializeToolkit();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    TSaveDialog save(nullptr);
    save.DefaultExt = "ASF";
    save.Filter = "ASF|*.ASF";
    save.InitialDir = dir.path().toStdString();
    auto answer = [](const QString &Name) {
        WhenModal([Name](QWidget *w) {
            auto *d = qobject_cast<QFileDialog *>(w);
            ASSERT_NE(d, nullptr);
            EXPECT_EQ(d->nameFilters(), QStringList{"ASF (*.ASF)"});
            auto *edit = d->findChild<QLineEdit *>("fileNameEdit");
            ASSERT_NE(edit, nullptr);
            edit->setText(Name);
            QTest::keyClick(edit, Qt::Key_Return);
        });
    };
    answer("录音");
    ASSERT_TRUE(save.Execute());
    EXPECT_EQ(save.FileName, dir.path().toStdString() + "/录音.ASF");

    // An existing file is taken as it is: no overwrite prompt by default.
    QFile existing(dir.filePath("old.asf"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.close();
    answer("old.asf");
    ASSERT_TRUE(save.Execute());
    EXPECT_EQ(save.FileName, dir.filePath("old.asf").toStdString());

    WhenModal([](QWidget *w) { QTest::keyClick(w, Qt::Key_Escape); });
    save.FileName = "unchanged";
    EXPECT_FALSE(save.Execute());
    EXPECT_EQ(save.FileName, "unchanged");
}

TEST(QtDialogs, ErrorReportIsCaptionedWithTheTitleWithAnErrorIconAndThePeriodRule) {
    Application->Initialize();
    Application->SetTitle("Tarnwick0.02bu");
    std::vector<std::string> texts;
    auto record = [&](QWidget *w) {
        auto *box = qobject_cast<QMessageBox *>(w);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->windowTitle().toStdString(), "Tarnwick0.02bu");
        EXPECT_EQ(box->icon(), QMessageBox::Critical);
        texts.push_back(box->text().toStdString());
        QTest::keyClick(box, Qt::Key_Return);
    };
    for (const char *message : {"Unspecified error", "已停止!"}) {
        WhenModal(record);
        try {
            throw std::runtime_error(message);
        } catch (...) {
            Application->HandleException(nullptr);
        }
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"Unspecified error.", "已停止!"}));
}

TEST(QtDialogs, MessageBoxAnswersWithThePlatformsIds) {
    tw::ui::InitializeToolkit();
    WhenModal([](QWidget *w) { QTest::keyClick(w, Qt::Key_Escape); });
    EXPECT_EQ(tw::ui::MessageBox(nullptr, "Stop?", "T", MB_OKCANCEL | MB_ICONQUESTION), IDCANCEL);
    WhenModal([](QWidget *w) {
        auto *box = qobject_cast<QMessageBox *>(w);
        box->button(QMessageBox::No)->click();
    });
    EXPECT_EQ(tw::ui::MessageBox(nullptr, "Stop?", "T", MB_YESNO), IDNO);
}

// ---- One loop for Qt and the platform.

TEST(QtLoop, RunLoopDispatchesAMessagePostedFromAnotherThread) {
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

// The program's whole life: Run shows the main form and loops; a handler's exception is
// reported in a box and the loop goes on; the user closing the main form ends Run.
TEST(QtLoop, RunReportsAHandlersExceptionAndEndsWhenTheMainFormCloses) {
    Application->Initialize();
    Application->SetTitle("Tarnwick0.02bu");
    TForm *form = nullptr;
    Application->CreateForm(form);
    auto *button = new TButton(form);
    button->SetParent(form);
    button->OnClick = [](TObject *) { throw std::runtime_error("Not now"); };
    std::string reported;
    QTimer::singleShot(0, [&] {
        WhenModal([&](QWidget *box) {
            reported = qobject_cast<QMessageBox *>(box)->text().toStdString();
            QTest::keyClick(box, Qt::Key_Return);
            // Back in the main loop: the user closes the window.
            QTimer::singleShot(0, [form] { static_cast<QWidget *>(form->Peer()->Handle())->close(); });
        });
        QTest::mouseClick(static_cast<QPushButton *>(button->Peer()->Handle()), Qt::LeftButton);
    });
    Application->Run();
    EXPECT_EQ(reported, "Not now.");
    EXPECT_FALSE(form->Showing());
    Application->Done();
    EXPECT_EQ(Application->MainForm(), nullptr);
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
