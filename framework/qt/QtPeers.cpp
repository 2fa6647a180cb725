// The peers of the form and its controls, as Qt widgets.
//
// Widgets are never deleted on the spot: a peer may go away from inside a handler that one of
// its own widgets is still emitting a signal for (a button whose click destroys the form).
// The peer cuts the widget off from its sink at once and leaves the deletion to Qt's loop.
#include "framework/qt/QtCommon.h"

#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QStyledItemDelegate>
#include <QWidget>

namespace tw::ui {
namespace {

using qt::FromQ;
using qt::ToQ;
using qt::ToQColor;
using qt::ToQFont;

TShiftState ShiftOf(const QMouseEvent &E) {
    TShiftState s = 0;
    const Qt::KeyboardModifiers m = E.modifiers();
    if (m & Qt::ShiftModifier) s |= ssShift;
    if (m & Qt::AltModifier) s |= ssAlt;
    if (m & Qt::ControlModifier) s |= ssCtrl;
    const Qt::MouseButtons b = E.buttons();
    if (b & Qt::LeftButton) s |= ssLeft;
    if (b & Qt::RightButton) s |= ssRight;
    if (b & Qt::MiddleButton) s |= ssMiddle;
    if (E.type() == QEvent::MouseButtonDblClick) s |= ssDouble;
    return s;
}

bool ButtonOf(const QMouseEvent &E, TMouseButton &Button) {
    switch (E.button()) {
    case Qt::LeftButton: Button = mbLeft; return true;
    case Qt::RightButton: Button = mbRight; return true;
    case Qt::MiddleButton: Button = mbMiddle; return true;
    default: return false;
    }
}

// The one widget of a control peer and what it reports to.
class QtControlPeer : public ControlPeer {
public:
    QtControlPeer(ControlSink *Sink, QWidget *Widget) : sink_(Sink), widget_(Widget) {}

    ~QtControlPeer() override {
        sink_ = nullptr;
        if (widget_) {
            QObject::disconnect(widget_, nullptr, nullptr, nullptr);
            widget_->hide();
            widget_->deleteLater();
        }
    }

    void SetBounds(int Left, int Top, int Width, int Height) override {
        widget_->setGeometry(Left, Top, std::max(0, Width), std::max(0, Height));
    }
    TRect NativeBounds() const override {
        const QRect r = widget_->geometry();
        return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    }
    void SetText(const std::string &) override {}
    std::string Text() const override { return {}; }
    void SetEnabled(bool Enabled) override { widget_->setEnabled(Enabled); }
    bool NativeEnabled() const override { return widget_->isEnabled(); }
    void SetVisible(bool Visible) override { widget_->setVisible(Visible); }
    void SetFont(const TFont &Font) override {
        widget_->setFont(ToQFont(Font));
        textColor_ = Font.Color;
        ApplyPalette();
    }
    void SetColor(TColor Color) override {
        color_ = Color;
        ApplyPalette();
    }
    TRect TextExtent(const std::string &Text, const TFont &Font) const override {
        const QSize s = QFontMetrics(ToQFont(Font)).size(Qt::TextExpandTabs, ToQ(Text));
        return {0, 0, s.width(), s.height()};
    }
    void *Handle() const override { return widget_.data(); }

    ControlSink *Sink() const { return sink_; }

protected:
    // The roles the control's background and text colours go to.
    virtual QList<QPalette::ColorRole> BackgroundRoles() const { return {QPalette::Window}; }
    virtual QList<QPalette::ColorRole> TextRoles() const { return {QPalette::WindowText}; }
    virtual void BackgroundChanged(bool /*Own*/) {}

    void ApplyPalette() {
        // From the application's palette, so that a colour reset to the default goes away.
        QPalette p = QApplication::palette();
        const bool own = color_ != clDefault && color_ != clNone;
        if (own)
            for (QPalette::ColorRole r : BackgroundRoles()) p.setColor(r, ToQColor(color_));
        for (QPalette::ColorRole r : TextRoles()) {
            p.setColor(QPalette::Active, r, ToQColor(textColor_));
            p.setColor(QPalette::Inactive, r, ToQColor(textColor_));
        }
        widget_->setPalette(p);
        BackgroundChanged(own);
    }

    ControlSink *sink_;
    QPointer<QWidget> widget_;
    TColor color_ = clDefault;
    TColor textColor_ = clWindowText;
};

// ---- Label: its own background, text in the font's colour.

class LabelPeer : public QtControlPeer {
public:
    LabelPeer(ControlSink *Sink, QWidget *Parent) : QtControlPeer(Sink, new QLabel(Parent)) {
        Label()->setTextFormat(Qt::PlainText);
        Label()->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        Label()->setContentsMargins(0, 0, 0, 0);
        Label()->setMargin(0);
        Label()->setIndent(0);
    }
    void SetText(const std::string &Text) override { Label()->setText(ToQ(Text)); }
    std::string Text() const override { return FromQ(Label()->text()); }

protected:
    void BackgroundChanged(bool Own) override { widget_->setAutoFillBackground(Own); }

private:
    QLabel *Label() const { return static_cast<QLabel *>(widget_.data()); }
};

// ---- Button.

class ButtonPeer : public QtControlPeer {
public:
    ButtonPeer(ControlSink *Sink, QWidget *Parent) : QtControlPeer(Sink, new QPushButton(Parent)) {
        Button()->setAutoDefault(false);
        QObject::connect(Button(), &QPushButton::clicked, [this] {
            if (sink_) sink_->PeerClick();
        });
    }
    void SetText(const std::string &Text) override { Button()->setText(ToQ(Text)); }
    std::string Text() const override { return FromQ(Button()->text()); }

protected:
    QList<QPalette::ColorRole> BackgroundRoles() const override { return {QPalette::Button}; }
    QList<QPalette::ColorRole> TextRoles() const override { return {QPalette::ButtonText}; }

private:
    QPushButton *Button() const { return static_cast<QPushButton *>(widget_.data()); }
};

// ---- Memo: lines joined with "\r\n" outside, "\n" inside Qt.

class MemoPeer : public QtControlPeer {
public:
    MemoPeer(ControlSink *Sink, QWidget *Parent) : QtControlPeer(Sink, new QPlainTextEdit(Parent)) {
        QPlainTextEdit *e = Edit();
        e->setTabChangesFocus(true);
        e->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        e->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        e->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        // A one-line box of the form's size must show its line: keep the inner margin small.
        e->document()->setDocumentMargin(1);
        QObject::connect(e, &QPlainTextEdit::textChanged, [this] {
            if (sink_ && !settingText_) sink_->PeerChange();
        });
    }
    void SetText(const std::string &Text) override {
        QString t = ToQ(Text);
        t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        if (t == Edit()->toPlainText()) return;
        settingText_ = true;
        Edit()->setPlainText(t);
        settingText_ = false;
    }
    std::string Text() const override {
        QString t = Edit()->toPlainText();
        t.replace(QLatin1String("\n"), QLatin1String("\r\n"));
        return FromQ(t);
    }
    void SetReadOnly(bool ReadOnly) override { Edit()->setReadOnly(ReadOnly); }

protected:
    QList<QPalette::ColorRole> BackgroundRoles() const override { return {QPalette::Base}; }
    QList<QPalette::ColorRole> TextRoles() const override { return {QPalette::Text}; }

private:
    QPlainTextEdit *Edit() const { return static_cast<QPlainTextEdit *>(widget_.data()); }
    bool settingText_ = false;
};

// ---- Combo box: a drop-down list; only the user's choice (activated) is reported.

class ItemHeightDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    int height = 0;
    QSize sizeHint(const QStyleOptionViewItem &Option, const QModelIndex &Index) const override {
        QSize s = QStyledItemDelegate::sizeHint(Option, Index);
        if (height > 0) s.setHeight(height);
        return s;
    }
};

class ComboBoxPeer : public QtControlPeer {
public:
    ComboBoxPeer(ControlSink *Sink, QWidget *Parent) : QtControlPeer(Sink, new QComboBox(Parent)) {
        Combo()->setEditable(false);
        delegate_ = new ItemHeightDelegate(Combo());
        Combo()->setItemDelegate(delegate_);
        QObject::connect(Combo(), &QComboBox::activated, [this](int) {
            if (sink_) sink_->PeerChange();
        });
    }
    std::string Text() const override { return FromQ(Combo()->currentText()); }
    void SetItems(const std::vector<std::string> &Items) override {
        QStringList list;
        for (const std::string &i : Items) list << ToQ(i);
        Combo()->clear();
        Combo()->addItems(list);
        Combo()->setCurrentIndex(-1);
    }
    void SetItemHeight(int Height) override { delegate_->height = Height; }
    void SetItemIndex(int Index) override { Combo()->setCurrentIndex(Index); }
    int ItemIndex() const override { return Combo()->currentIndex(); }

protected:
    QList<QPalette::ColorRole> BackgroundRoles() const override { return {QPalette::Base, QPalette::Button}; }
    QList<QPalette::ColorRole> TextRoles() const override {
        return {QPalette::Text, QPalette::ButtonText, QPalette::WindowText};
    }

private:
    QComboBox *Combo() const { return static_cast<QComboBox *>(widget_.data()); }
    ItemHeightDelegate *delegate_;
};

// ---- Track bar: a horizontal slider that reports mouse presses and releases after it has
// handled them, so a release handler reads the position the thumb was let go at.

class Slider : public QSlider {
public:
    explicit Slider(QWidget *Parent) : QSlider(Qt::Horizontal, Parent) {}
    ControlSink *sink = nullptr;

protected:
    void mousePressEvent(QMouseEvent *E) override {
        // A native track bar takes a press anywhere beside the thumb as one on its channel
        // (a page towards it); Qt only reacts on the groove's own narrow strip.
        QStyleOptionSlider opt;
        initStyleOption(&opt);
        const QRect groove = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, this);
        const QRect handle = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
        const QPoint at = E->position().toPoint();
        if (!handle.contains(at) && !groove.contains(at)) {
            const QPointF onGroove(E->position().x(), groove.center().y());
            QMouseEvent moved(E->type(), onGroove, mapToGlobal(onGroove), E->button(), E->buttons(), E->modifiers());
            QSlider::mousePressEvent(&moved);
        } else {
            QSlider::mousePressEvent(E);
        }
        TMouseButton b;
        if (sink && ButtonOf(*E, b)) sink->PeerMouseDown(b, ShiftOf(*E), int(E->position().x()), int(E->position().y()));
    }
    void mouseReleaseEvent(QMouseEvent *E) override {
        QSlider::mouseReleaseEvent(E);
        TMouseButton b;
        if (sink && ButtonOf(*E, b)) sink->PeerMouseUp(b, ShiftOf(*E), int(E->position().x()), int(E->position().y()));
    }
};

class TrackBarPeer : public QtControlPeer {
public:
    TrackBarPeer(ControlSink *Sink, QWidget *Parent) : QtControlPeer(Sink, new Slider(Parent)) {
        Bar()->sink = Sink;
        Bar()->setTickPosition(QSlider::TicksBelow);
        Bar()->setPageStep(1);
        // The program's own changes are made with the signals blocked; whatever still
        // arrives here is the user's doing (a drag, a click on the groove, a key).
        QObject::connect(Bar(), &QSlider::valueChanged, [this](int) {
            if (sink_) sink_->PeerChange();
        });
    }
    ~TrackBarPeer() override {
        if (widget_) Bar()->sink = nullptr;
    }
    void SetRange(int Min, int Max) override {
        QSignalBlocker block(Bar());
        Bar()->setRange(Min, Max);
    }
    void SetPosition(int Position) override {
        QSignalBlocker block(Bar());
        Bar()->setValue(Position);
    }
    int Position() const override { return Bar()->value(); }

protected:
    QList<QPalette::ColorRole> BackgroundRoles() const override { return {QPalette::Window, QPalette::Button}; }

private:
    Slider *Bar() const { return static_cast<Slider *>(widget_.data()); }
};

// ---- Form: a top-level window of a fixed client size.

class FormWidget : public QWidget {
public:
    FormWidget() : QWidget(nullptr, Qt::Window) { setAttribute(Qt::WA_DeleteOnClose, false); }
    ControlSink *sink = nullptr;

protected:
    void closeEvent(QCloseEvent *E) override {
        if (!sink || sink->PeerCloseQuery())
            E->accept();
        else
            E->ignore();
    }
};

class QtFormPeer : public FormPeer {
public:
    explicit QtFormPeer(ControlSink *Sink) : widget_(new FormWidget) {
        widget_->sink = Sink;
        widget_->setAutoFillBackground(true);
        widget_->setFixedSize(320, 240);
    }
    ~QtFormPeer() override {
        if (widget_) {
            widget_->sink = nullptr;
            widget_->hide();
            widget_->deleteLater();
        }
    }

    // Left and Top are the stored position, which a centred form does not use.
    void SetBounds(int, int, int Width, int Height) override {
        // Not resizable: the border cannot change the client size.
        widget_->setFixedSize(std::max(1, Width), std::max(1, Height));
    }
    TRect NativeBounds() const override {
        const QPoint o = widget_->mapToGlobal(QPoint(0, 0));
        return {o.x(), o.y(), o.x() + widget_->width(), o.y() + widget_->height()};
    }
    void SetText(const std::string &Text) override { widget_->setWindowTitle(ToQ(Text)); }
    std::string Text() const override { return FromQ(widget_->windowTitle()); }
    void SetEnabled(bool Enabled) override { widget_->setEnabled(Enabled); }
    bool NativeEnabled() const override { return widget_->isEnabled(); }
    void SetVisible(bool Visible) override {
        if (Visible)
            ShowCentred();
        else
            Hide();
    }
    void SetFont(const TFont &Font) override {
        widget_->setFont(ToQFont(Font));
        textColor_ = Font.Color;
        ApplyPalette();
    }
    void SetColor(TColor Color) override {
        color_ = Color;
        ApplyPalette();
    }
    TRect TextExtent(const std::string &Text, const TFont &Font) const override {
        const QSize s = QFontMetrics(ToQFont(Font)).size(Qt::TextExpandTabs, ToQ(Text));
        return {0, 0, s.width(), s.height()};
    }
    void *Handle() const override { return widget_.data(); }

    void SetBorderIcons(bool SystemMenu, bool Minimize, bool Maximize) override {
        Qt::WindowFlags f = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
        if (SystemMenu) f |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
        if (Minimize) f |= Qt::WindowMinimizeButtonHint;
        if (Maximize) f |= Qt::WindowMaximizeButtonHint;
        const bool visible = widget_->isVisible();
        widget_->setWindowFlags(f);
        if (visible) widget_->show();  // changing the flags hides a top-level window
    }
    void SetTabOrder(const std::vector<ControlPeer *> &Order) override {
        for (size_t i = 1; i < Order.size(); ++i)
            QWidget::setTabOrder(static_cast<QWidget *>(Order[i - 1]->Handle()),
                                 static_cast<QWidget *>(Order[i]->Handle()));
        if (!Order.empty() && !widget_->isVisible()) static_cast<QWidget *>(Order[0]->Handle())->setFocus();
    }
    void ShowCentred() override {
        const QScreen *screen = QGuiApplication::primaryScreen();
        if (screen) {
            const QRect area = screen->availableGeometry();
            const QSize frame = widget_->frameGeometry().size();
            const QSize client = widget_->size();
            // Before the window manager has framed the window its frame size is not known;
            // centre the client area then.
            const QSize outer = frame.width() >= client.width() && frame.height() >= client.height() ? frame : client;
            widget_->move(area.left() + (area.width() - outer.width()) / 2,
                          area.top() + (area.height() - outer.height()) / 2);
        }
        widget_->show();
        widget_->raise();
        widget_->activateWindow();
    }
    void Hide() override { widget_->hide(); }
    void RequestClose() override { widget_->close(); }

private:
    void ApplyPalette() {
        QPalette p = QApplication::palette();
        p.setColor(QPalette::Window, ToQColor(color_ == clDefault ? clBtnFace : color_));
        p.setColor(QPalette::WindowText, ToQColor(textColor_));
        widget_->setPalette(p);
    }

    QPointer<FormWidget> widget_;
    TColor color_ = clDefault;
    TColor textColor_ = clWindowText;
};

}  // namespace

std::unique_ptr<FormPeer> CreateFormPeer(ControlSink *Sink) {
    InitializeToolkit();
    return std::make_unique<QtFormPeer>(Sink);
}

std::unique_ptr<ControlPeer> CreateControlPeer(PeerKind Kind, ControlSink *Sink, FormPeer *Parent) {
    auto *parent = static_cast<QWidget *>(Parent->Handle());
    switch (Kind) {
    case PeerKind::Label: return std::make_unique<LabelPeer>(Sink, parent);
    case PeerKind::Button: return std::make_unique<ButtonPeer>(Sink, parent);
    case PeerKind::Memo: return std::make_unique<MemoPeer>(Sink, parent);
    case PeerKind::ComboBox: return std::make_unique<ComboBoxPeer>(Sink, parent);
    case PeerKind::TrackBar: return std::make_unique<TrackBarPeer>(Sink, parent);
    case PeerKind::Form: break;
    }
    return nullptr;
}

}  // namespace tw::ui
