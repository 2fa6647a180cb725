// The modal dialogs: message boxes, the input box and the save-file dialog.
//
// Each runs Qt's modal loop, which keeps dispatching the platform's messages and timers
// (QtToolkit.cpp), so graph events are not held up while a box is open.
#include "framework/qt/QtCommon.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QVBoxLayout>

namespace tw::ui {
namespace {

using qt::FromQ;
using qt::ToQ;

// Button sets and results the platform's headers may not all name.
constexpr unsigned kAbortRetryIgnore = 2, kYesNoCancel = 3, kRetryCancel = 5;
constexpr int kIdAbort = 3, kIdRetry = 4, kIdIgnore = 5;
constexpr unsigned kDefButtonMask = 0xF00;

QWidget *OwnerWidget(FormPeer *Owner) {
    if (Owner) {
        auto *w = static_cast<QWidget *>(Owner->Handle());
        if (w && w->isVisible()) return w;
    }
    return QApplication::activeWindow();
}

}  // namespace

int MessageBox(FormPeer *Owner, const std::string &Text, const std::string &Caption, unsigned Flags) {
    InitializeToolkit();
    using B = QMessageBox::StandardButton;
    struct Choice {
        B button;
        int id;
    };
    std::vector<Choice> choices;
    switch (Flags & MB_TYPEMASK) {
    case MB_OKCANCEL: choices = {{B::Ok, IDOK}, {B::Cancel, IDCANCEL}}; break;
    case kAbortRetryIgnore: choices = {{B::Abort, kIdAbort}, {B::Retry, kIdRetry}, {B::Ignore, kIdIgnore}}; break;
    case kYesNoCancel: choices = {{B::Yes, IDYES}, {B::No, IDNO}, {B::Cancel, IDCANCEL}}; break;
    case MB_YESNO: choices = {{B::Yes, IDYES}, {B::No, IDNO}}; break;
    case kRetryCancel: choices = {{B::Retry, kIdRetry}, {B::Cancel, IDCANCEL}}; break;
    default: choices = {{B::Ok, IDOK}}; break;
    }
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (Flags & MB_ICONMASK) {
    case MB_ICONHAND: icon = QMessageBox::Critical; break;
    case MB_ICONQUESTION: icon = QMessageBox::Question; break;
    case MB_ICONEXCLAMATION: icon = QMessageBox::Warning; break;
    case MB_ICONASTERISK: icon = QMessageBox::Information; break;
    default: break;
    }
    QMessageBox box(icon, ToQ(Caption), ToQ(Text), QMessageBox::NoButton, OwnerWidget(Owner));
    box.setTextFormat(Qt::PlainText);
    for (const Choice &c : choices) box.addButton(c.button);
    const size_t def = std::min<size_t>((Flags & kDefButtonMask) >> 8, choices.size() - 1);
    box.setDefaultButton(choices[def].button);
    // Closing the box answers as its Cancel button would, or as OK when it has only that.
    for (const Choice &c : choices)
        if (c.id == IDCANCEL) box.setEscapeButton(c.button);
    if (choices.size() == 1) box.setEscapeButton(choices[0].button);
    box.exec();
    const auto clicked = box.standardButton(box.clickedButton());
    for (const Choice &c : choices)
        if (c.button == clicked) return c.id;
    // Closed without a button that could answer (a Yes/No box): the last button's answer.
    return choices.back().id;
}

bool InputQuery(const std::string &Caption, const std::string &Prompt, std::string &Value, int MaxLength) {
    InitializeToolkit();
    QDialog dialog(QApplication::activeWindow());
    dialog.setWindowTitle(ToQ(Caption));
    auto *layout = new QVBoxLayout(&dialog);
    auto *prompt = new QLabel(ToQ(Prompt), &dialog);
    prompt->setTextFormat(Qt::PlainText);
    auto *edit = new QLineEdit(&dialog);
    edit->setObjectName("value");
    edit->setMaxLength(MaxLength);
    edit->setText(ToQ(Value));
    edit->selectAll();
    edit->setMinimumWidth(260);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(prompt);
    layout->addWidget(edit);
    layout->addWidget(buttons);
    dialog.setFixedSize(dialog.sizeHint());
    edit->setFocus();
    if (dialog.exec() != QDialog::Accepted) return false;
    Value = FromQ(edit->text());
    return true;
}

namespace {

// "Name|*.a;*.b|Name2|*.c" -> "Name (*.a *.b);;Name2 (*.c)".
QString QtFilter(const std::string &Filter) {
    const QStringList parts = ToQ(Filter).split('|');
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(';', ' ');
        out << QString("%1 (%2)").arg(parts[i], patterns.simplified());
    }
    return out.join(";;");
}

}  // namespace

bool SaveFileDialog(FormPeer *Owner, SaveDialogRequest &Request) {
    InitializeToolkit();
    QFileDialog dialog(OwnerWidget(Owner), ToQ(Request.Title));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !Request.OverwritePrompt);
    if (!Request.Filter.empty()) dialog.setNameFilter(QtFilter(Request.Filter));
    if (!Request.DefaultExt.empty()) dialog.setDefaultSuffix(ToQ(Request.DefaultExt));
    const QFileInfo initial(ToQ(Request.FileName));
    if (!Request.InitialDir.empty())
        dialog.setDirectory(ToQ(Request.InitialDir));
    else if (!Request.FileName.empty() && initial.dir().exists() && initial.filePath().contains('/'))
        dialog.setDirectory(initial.dir());
    if (!Request.FileName.empty()) dialog.selectFile(initial.fileName());
    if (dialog.exec() != QDialog::Accepted) return false;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return false;
    Request.FileName = FromQ(QFileInfo(files.first()).absoluteFilePath());
    return true;
}

}  // namespace tw::ui
