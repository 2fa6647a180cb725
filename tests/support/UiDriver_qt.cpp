#include "support/UiDriver.h"

#include "framework/Peer.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace tw::test {
namespace {

QWidget *WidgetOf(TControl *Control) { return static_cast<QWidget *>(Control->Peer()->Handle()); }

Qt::MouseButton QtButton(TMouseButton b) {
    switch (b) {
        case mbRight: return Qt::RightButton;
        case mbMiddle: return Qt::MiddleButton;
        default: return Qt::LeftButton;
    }
}

}  // namespace

void Pump() { tw::ui::ProcessMessages(); }

void UserClick(TControl *Control) {
    QWidget *w = WidgetOf(Control);
    QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, w->rect().center());
    Pump();
}

void UserSelect(TComboBox *Box, int Index) {
    auto *combo = qobject_cast<QComboBox *>(WidgetOf(Box));
    if (!combo) return;
    // What a choice in the pop-up list does: the current item changes and the box says the
    // user activated it.
    combo->setCurrentIndex(Index);
    emit combo->activated(Index);
    Pump();
}

void UserType(TMemo *Memo, const std::string &Text) {
    QWidget *w = WidgetOf(Memo);
    w->setFocus();
    QTest::keyClick(w, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(w, Qt::Key_Delete);
    QTest::keyClicks(w, QString::fromStdString(Text));
    Pump();
}

void UserMouse(TTrackBar *Bar, TMouseButton Button, bool Down, int X, int Y) {
    QWidget *w = WidgetOf(Bar);
    if (Down)
        QTest::mousePress(w, QtButton(Button), Qt::NoModifier, QPoint(X, Y));
    else
        QTest::mouseRelease(w, QtButton(Button), Qt::NoModifier, QPoint(X, Y));
    Pump();
}

ModalSeen AnswerModal(const std::function<void()> &Action, ModalAnswer Answer, std::optional<std::string> Edit) {
    ModalSeen seen;
    QTimer watcher;
    watcher.setInterval(10);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        QWidget *box = QApplication::activeModalWidget();
        if (!box || seen.opened) return;
        seen.opened = true;
        seen.caption = box->windowTitle().toStdString();
        if (auto *mb = qobject_cast<QMessageBox *>(box)) {
            seen.text = mb->text().toStdString();
            seen.errorIcon = mb->icon() == QMessageBox::Critical;
        }
        auto edits = box->findChildren<QLineEdit *>();
        QLineEdit *edit = nullptr;
        for (QLineEdit *e : edits)
            if (e->isVisible()) edit = edit ? edit : e;
        if (auto *fd = qobject_cast<QFileDialog *>(box)) {
            edit = fd->findChild<QLineEdit *>("fileNameEdit");
        }
        if (edit && seen.text.empty()) seen.text = edit->text().toStdString();
        if (edit && Edit) edit->setText(QString::fromStdString(*Edit));
        if (Answer == ModalAnswer::Close) {
            box->close();
        } else if (auto *mb = qobject_cast<QMessageBox *>(box)) {
            QAbstractButton *b = Answer == ModalAnswer::Ok ? mb->button(QMessageBox::Ok) : mb->button(QMessageBox::Cancel);
            if (!b) b = mb->defaultButton();
            if (b) b->click();
        } else if (auto *dialog = qobject_cast<QDialog *>(box)) {
            if (Answer == ModalAnswer::Ok)
                dialog->accept();
            else
                dialog->reject();
        }
    });
    watcher.start();
    Action();
    watcher.stop();
    return seen;
}

}  // namespace tw::test
