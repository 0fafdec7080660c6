#pragma once

#include <QString>

namespace ferrow {

// The single-document template's type text and what the frame reads from it: window title, file
// filter, default extension.
struct DocTemplate {
    static const QString& typeText();

    static QString windowTitle();  // "Morvane Ferrow Server"
    static QString filterName();   // "Tag Configuration Files (*.tdb)"
    static QString extension();    // ".tdb"
    // The common dialogs' filter: the configuration files, then every file.
    static QString fileFilter();
    static QString untitled() { return QStringLiteral("Untitled"); }
};

// The application's title ("Ferrow Explorer"): message boxes carry it.
QString ferrowAppTitle();

}  // namespace ferrow
