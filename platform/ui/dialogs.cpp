#include "platform/ui/dialogs.h"

#include <QCoreApplication>

#include "platform/ui/qt_dialogs.h"

namespace platform::ui {

namespace {
Dialogs* installed = nullptr;
}

Dialogs& dialogs() {
    if (installed) return *installed;
    static QtDialogs qtDialogs;
    return qtDialogs;
}

void setDialogs(Dialogs* replacement) { installed = replacement; }

int msgBox(const QString& text, int style, const QString& title) {
    return dialogs().messageBox({text, style, title.isEmpty() ? appTitle() : title});
}

QString appTitle() { return QCoreApplication::applicationName(); }

}  // namespace platform::ui
