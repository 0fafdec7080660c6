#include "platform/ui/demo_screenshot.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <cstdio>

namespace platform::ui {

void screenshotAndQuitIfAsked(QWidget* window, const char* name, int delayMs) {
    const QString dir = qEnvironmentVariable("QUILLON_SCREENSHOT_DIR");
    if (dir.isEmpty() || !window) return;
    const QString file = dir + QLatin1Char('/') + QString::fromLatin1(name) + QStringLiteral(".png");
    QTimer::singleShot(delayMs, window, [window, file, dir] {
        QDir().mkpath(dir);
        const bool saved = window->grab().save(file);
        std::fprintf(stdout, "%s %s\n", saved ? "screenshot:" : "could not save screenshot",
                     qPrintable(file));
        std::fflush(stdout);
        QApplication::quit();
    });
}

}  // namespace platform::ui
