#include "platform/ui/window_placement.h"

#include <QWidget>

#include "platform/settings/settings_store.h"

namespace platform::ui {

namespace {
int storedPixels(const QString& appTitle, const QString& section, const char* key) {
    return GetSetting(appTitle, section, QLatin1String(key), QStringLiteral("500")).toInt() / kTwipsPerPixel;
}

void storeTwips(const QString& appTitle, const QString& section, const char* key, int pixels) {
    SaveSetting(appTitle, section, QLatin1String(key), QString::number(pixels * kTwipsPerPixel));
}
}  // namespace

void restoreWindowPosition(QWidget& window, const QString& appTitle, const QString& section) {
    window.move(storedPixels(appTitle, section, "MainLeft"), storedPixels(appTitle, section, "MainTop"));
}

void storeWindowPlacement(const QWidget& window, const QString& appTitle, const QString& section) {
    const QRect frame = window.frameGeometry();
    storeTwips(appTitle, section, "MainLeft", frame.x());
    storeTwips(appTitle, section, "MainTop", frame.y());
    storeTwips(appTitle, section, "MainWidth", frame.width());
    storeTwips(appTitle, section, "MainHeight", frame.height());
}

}  // namespace platform::ui
