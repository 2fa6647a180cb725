#include "support/UiDriver.h"

#include "framework/Peer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>

namespace tw::test {
namespace {

QWidget *Widget(TControl *C) { return static_cast<QWidget *>(C->Peer()->Handle()); }

// Whether input could reach W: visible, and enabled with everything it sits in.
bool Reachable(QWidget *W) { return W->isVisible() && W->isEnabled(); }

Qt::Key QtKey(Key Which) {
    switch (Which) {
    case Key::Space: return Qt::Key_Space;
    case Key::Up: return Qt::Key_Up;
    case Key::Down: return Qt::Key_Down;
    case Key::Right: return Qt::Key_Right;
    case Key::End: return Qt::Key_End;
    case Key::Tab: return Qt::Key_Tab;
    }
    return Qt::Key_unknown;
}

Qt::MouseButton QtButton(TMouseButton B) {
    return B == mbLeft ? Qt::LeftButton : B == mbRight ? Qt::RightButton : Qt::MiddleButton;
}

Qt::KeyboardModifiers Modifiers(TShiftState S) {
    Qt::KeyboardModifiers m;
    if (S & ssShift) m |= Qt::ShiftModifier;
    if (S & ssCtrl) m |= Qt::ControlModifier;
    return m;
}

void TypeInto(QWidget *W, const std::string &Text) {
    for (QChar c : QString::fromUtf8(Text.data(), qsizetype(Text.size()))) {
        if (c == QLatin1Char('\r')) {
            QTest::keyClick(W, Qt::Key_Return);
        } else if (c.unicode() < 0x80) {
            QTest::keyClicks(W, QString(c));
        } else {
            QInputMethodEvent commit;
            commit.setCommitString(QString(c));
            QApplication::sendEvent(W, &commit);
        }
    }
}

}  // namespace

bool ShowForm(TForm *Form) {
    Form->Show();
    return QTest::qWaitForWindowExposed(Widget(Form));
}

bool Click(TControl *Control) {
    QWidget *w = Widget(Control);
    if (!Reachable(w)) return false;
    QTest::mouseClick(w, Qt::LeftButton);
    return true;
}

bool PressKey(TControl *Control, Key Which) {
    QWidget *w = Widget(Control);
    if (!Reachable(w)) return false;
    w->setFocus();
    QTest::keyClick(w, QtKey(Which));
    return true;
}

bool Choose(TComboBox *Box, int Index) {
    auto *combo = static_cast<QComboBox *>(Widget(Box));
    if (!Reachable(combo)) return false;
    // What the open list does when an item is clicked: select it, then say it was chosen.
    combo->setCurrentIndex(Index);
    emit combo->activated(Index);
    return true;
}

bool Type(TControl *Control, const std::string &Text) {
    QWidget *w = Widget(Control);
    if (!Reachable(w)) return false;
    TypeInto(w, Text);
    return true;
}

bool MouseDown(TControl *Control, TMouseButton Button, TShiftState Shift, int X, int Y) {
    QWidget *w = Widget(Control);
    if (!Reachable(w)) return false;
    QTest::mousePress(w, QtButton(Button), Modifiers(Shift), QPoint(X, Y));
    return true;
}

bool MouseUp(TControl *Control, TMouseButton Button, TShiftState Shift, int X, int Y) {
    QWidget *w = Widget(Control);
    if (!Reachable(w)) return false;
    QTest::mouseRelease(w, QtButton(Button), Modifiers(Shift), QPoint(X, Y));
    return true;
}

void CloseByUser(TForm *Form) { Widget(Form)->close(); }

// ---- Modal boxes.

namespace {

class QtBox : public BoxAccess {
public:
    explicit QtBox(QWidget *Box) : box_(Box) {}

    std::string Caption() const override { return box_->windowTitle().toStdString(); }
    std::string Message() const override {
        if (auto *m = qobject_cast<QMessageBox *>(box_)) return m->text().toStdString();
        const auto *label = box_->findChild<QLabel *>();
        return label ? label->text().toStdString() : std::string();
    }
    bool ErrorIcon() const override {
        auto *m = qobject_cast<QMessageBox *>(box_);
        return m && m->icon() == QMessageBox::Critical;
    }
    // A box without a field (a message box) has an empty one.
    std::string Field() const override {
        QLineEdit *e = Edit();
        return e ? e->text().toStdString() : std::string();
    }
    std::string SelectedText() const override {
        QLineEdit *e = Edit();
        return e ? e->selectedText().toStdString() : std::string();
    }
    void ClearField() const override { Edit()->clear(); }
    void Type(const std::string &Text) const override { TypeInto(Edit(), Text); }
    void Press(Answer Button) const override {
        const QDialogButtonBox::ButtonRole role = Button == Answer::Ok       ? QDialogButtonBox::AcceptRole
                                                  : Button == Answer::Cancel ? QDialogButtonBox::RejectRole
                                                  : Button == Answer::Yes    ? QDialogButtonBox::YesRole
                                                                             : QDialogButtonBox::NoRole;
        for (auto *buttons : box_->findChildren<QDialogButtonBox *>())
            for (QAbstractButton *b : buttons->buttons())
                if (buttons->buttonRole(b) == role) {
                    b->click();
                    return;
                }
    }
    void CloseBox() const override { box_->close(); }

private:
    QLineEdit *Edit() const {
        if (qobject_cast<QFileDialog *>(box_)) return box_->findChild<QLineEdit *>("fileNameEdit");
        return box_->findChild<QLineEdit *>();
    }
    QWidget *box_;
};

}  // namespace

namespace {

struct Waiter {
    QString caption;
    std::function<void(const BoxAccess &)> act;
    bool found = false;
    bool alive = true;  // false once its WhenBoxOpens is gone
};

// Looks for the box on each turn of whichever loop runs, until that is the box's own loop.
void Look(const std::shared_ptr<Waiter> &W) {
    QTimer::singleShot(0, [W] {
        if (!W->alive) return;
        QWidget *box = QApplication::activeModalWidget();
        if (box && box->windowTitle() == W->caption) {
            W->found = true;
            W->act(QtBox(box));
        } else {
            Look(W);
        }
    });
}

}  // namespace

struct WhenBoxOpens::State {
    std::shared_ptr<Waiter> waiter = std::make_shared<Waiter>();
};

WhenBoxOpens::WhenBoxOpens(const std::string &Caption, std::function<void(const BoxAccess &)> Act)
    : state_(std::make_unique<State>()) {
    state_->waiter->caption = QString::fromStdString(Caption);
    state_->waiter->act = std::move(Act);
    Look(state_->waiter);
}

WhenBoxOpens::~WhenBoxOpens() { state_->waiter->alive = false; }

// Act runs inside the box's loop, so it has ended once the box has closed.
bool WhenBoxOpens::Wait() { return state_->waiter->found; }

}  // namespace tw::test
