#include "ferrow/app/c_splash_wnd.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>

#include "ferrow/app/artwork.h"
#include "platform/ui/time_scale.h"

namespace ferrow {

namespace {
CSplashWnd* splash = nullptr;
}

CSplashWnd::CSplashWnd()
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      picture_(splashPixmap()) {
    setObjectName(QStringLiteral("CSplashWnd"));
    setAttribute(Qt::WA_DeleteOnClose);
    setAccessibleName(QStringLiteral("Ferrow is starting"));
    setFixedSize(picture_.size());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    qApp->installEventFilter(this);
    QTimer::singleShot(platform::scaled(kShowTime), this, &QWidget::close);
}

CSplashWnd::~CSplashWnd() { Forget(); }

void CSplashWnd::Forget() {
    qApp->removeEventFilter(this);
    if (splash == this) splash = nullptr;
}

void CSplashWnd::closeEvent(QCloseEvent* event) {
    // Gone for the program at once, even though the window is deleted a little later.
    Forget();
    QWidget::closeEvent(event);
}

void CSplashWnd::ShowSplashScreen() {
    if (splash) return;
    splash = new CSplashWnd;
    splash->show();
}

CSplashWnd* CSplashWnd::current() { return splash; }

bool CSplashWnd::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::ShortcutOverride:
            // Claimed, so that the key does not run a command either.
            event->accept();
            close();
            return true;
        case QEvent::KeyPress:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::NonClientAreaMouseButtonPress:
        case QEvent::NonClientAreaMouseButtonDblClick:
            close();
            return true;
        default:
            return QWidget::eventFilter(watched, event);
    }
}

void CSplashWnd::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, picture_);
}

}  // namespace ferrow
