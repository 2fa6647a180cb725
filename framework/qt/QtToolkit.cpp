// The Qt application object, the one event loop, colours and fonts.
//
// Qt's loop also dispatches the window messages and timers of our platform layer for the
// user-interface thread: a socket notifier watches the queue's wake-up descriptor, and one
// single-shot timer is armed for the platform's next timer deadline. Both work in every loop
// Qt runs on this thread, so modal dialogs keep dispatching too.
#include "framework/qt/QtCommon.h"

#include "framework/Application.h"
#include "platform/queue_wake.h"

#include <QApplication>
#include <QEventLoop>
#include <QFontMetrics>
#include <QPalette>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <unistd.h>

#include <cstdint>

namespace tw::ui {
namespace {

// Dispatches the platform's messages on the thread that initialised the toolkit.
class PlatformPump {
public:
    PlatformPump() : notifier_(tw::posix::QueueWakeFd(), QSocketNotifier::Read), fd_(tw::posix::QueueWakeFd()) {
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&notifier_, &QSocketNotifier::activated, [this] { Wake(); });
        QObject::connect(&timer_, &QTimer::timeout, [this] { Drain(); });
        // Whatever was posted before the toolkit existed left the descriptor readable.
    }

    // Reads the descriptor (resetting it) before looking at the queue, so a post that comes
    // after the queue was found empty signals again.
    void Wake() {
        uint64_t count;
        [[maybe_unused]] ssize_t n = read(fd_, &count, sizeof count);
        Drain();
    }

    // Dispatches what the queue holds now, then arms the timer for the next platform timer.
    // A burst is cut into turns so that Qt's own events (painting, input) still get through.
    void Drain() {
        constexpr int kPerTurn = 256;
        int n = 0;
        for (bool more = true; more && n < kPerTurn; ++n) {
            // Nothing may unwind through Qt's loop: a window procedure's exception, from a
            // posted message or from a sent one (which PeekMessageA delivers), is reported.
            try {
                MSG msg;
                more = PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);
                if (!more) break;
                if (msg.message == WM_QUIT)
                    QuitLoop();
                else
                    DispatchMessageA(&msg);
            } catch (...) {
                Application->HandleException(nullptr);
            }
        }
        if (n == kPerTurn) {
            QTimer::singleShot(0, [this] { Drain(); });
            return;
        }
        const int due = tw::posix::NextTimerDueMs();
        if (due < 0)
            timer_.stop();
        else
            timer_.start(due);
    }

private:
    QSocketNotifier notifier_;
    QTimer timer_;
    int fd_;
};

PlatformPump *g_pump = nullptr;
// The loop RunLoop runs, if any; a QuitLoop without one is kept for the next RunLoop, as the
// platform's own quit message would be.
QPointer<QEventLoop> g_loop;
bool g_quitPending = false;

}  // namespace

void InitializeToolkit() {
    if (g_pump) return;
    if (!QApplication::instance()) {
        // Qt keeps references to both for the application's life.
        static int argc = 1;
        static char name[] = "tarnwick";
        static char *argv[] = {name, nullptr};
        new QApplication(argc, argv);
    }
    QApplication::setQuitOnLastWindowClosed(false);
    // The program names the Windows faces; these are the installed ones that stand in.
    QFont::insertSubstitution(QString::fromUtf8("宋体"), QString::fromLatin1(qt::kCjkFamily));
    QFont::insertSubstitution("SimSun", QString::fromLatin1(qt::kCjkFamily));
    QFont::insertSubstitutions("MS Sans Serif", {"DejaVu Sans", "Liberation Sans", "Sans Serif"});
    g_pump = new PlatformPump;  // lives as long as the application
}

void RunLoop() {
    InitializeToolkit();
    if (g_quitPending) {
        g_quitPending = false;
        return;
    }
    QEventLoop loop;
    QPointer<QEventLoop> outer = g_loop;
    g_loop = &loop;
    loop.exec();
    g_loop = outer;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void QuitLoop() {
    if (g_loop)
        g_loop->quit();
    else
        g_quitPending = true;
}

void ProcessMessages() {
    InitializeToolkit();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    g_pump->Drain();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TColor ColorToRGB(TColor Color) {
    if (!IsSystemColor(Color)) return Color;
    auto fromPalette = [](QPalette::ColorRole Role) {
        const QColor c = QApplication::instance() ? QApplication::palette().color(QPalette::Active, Role)
                                                  : QPalette().color(QPalette::Active, Role);
        return RGBColor(c.red(), c.green(), c.blue());
    };
    switch (SystemColorIndex(Color)) {
    case COLOR_BTNFACE:
        return fromPalette(QPalette::Button);
    case COLOR_WINDOW:  // the background of edit boxes and lists
        return fromPalette(QPalette::Base);
    case COLOR_WINDOWTEXT:
        return fromPalette(QPalette::Text);
    case COLOR_BTNTEXT:
        return fromPalette(QPalette::ButtonText);
    case COLOR_ACTIVECAPTION:
        // Qt's palettes have no caption colour; the classic blue of an active title bar.
        return RGBColor(0, 84, 227);
    default:
        return fromPalette(QPalette::Window);
    }
}

namespace qt {

QColor ToQColor(TColor Color) {
    const TColor c = ColorToRGB(Color);
    return QColor(RedOf(c), GreenOf(c), BlueOf(c));
}

QFont ToQFont(const TFont &Font) {
    QFont f;
    QStringList families{ToQ(Font.Name)};
    // The character set only chooses the face: a Chinese one falls back to the CJK face.
    if (Font.Charset == GB2312_CHARSET) families << QString::fromLatin1(kCjkFamily);
    f.setFamilies(families);
    if (Font.Height < 0) {
        f.setPixelSize(-Font.Height);
    } else if (Font.Height > 0) {
        // A cell height: the character height that gives a line of that height.
        f.setPixelSize(Font.Height);
        const int cell = QFontMetrics(f).height();
        if (cell > Font.Height) f.setPixelSize(std::max(1, Font.Height * Font.Height / cell));
    } else {
        f.setPixelSize(12);  // the system's default height
    }
    return f;
}

}  // namespace qt
}  // namespace tw::ui
