#pragma once

#include <QAccessible>
#include <QStringList>
#include <QWidget>

namespace testsupport {

// What a screen reader announces for `widget`: its accessible interface's name.
inline QString accessibleName(QWidget* widget) {
    QAccessibleInterface* face = widget ? QAccessible::queryAccessibleInterface(widget) : nullptr;
    return face ? face->text(QAccessible::Name) : QStringLiteral("<no accessible interface>");
}

// Every control of `window` that assistive tools would announce by its code name ("txtNewIP"), as
// "objectName" entries; empty when none does.
inline QStringList controlsNamedByCodeName(QWidget* window) {
    QStringList named;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        const QString code = widget->objectName();
        if (!code.isEmpty() && !code.startsWith(QLatin1String("qt_")) && accessibleName(widget) == code)
            named << code;
    }
    return named;
}

}  // namespace testsupport
