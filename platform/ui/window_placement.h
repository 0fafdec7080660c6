#pragma once

#include <QString>

class QWidget;

namespace platform::ui {

// Where a program's main window stood when it closed: MainLeft, MainTop, MainWidth and MainHeight in
// the given section of the program's settings, in twips.
inline constexpr int kTwipsPerPixel = 15;

// Moves `window` to the stored MainLeft and MainTop (500 twips each when nothing is stored).
void restoreWindowPosition(QWidget& window, const QString& appTitle, const QString& section);
// Stores the position and size of `window`'s frame.
void storeWindowPlacement(const QWidget& window, const QString& appTitle, const QString& section);

}  // namespace platform::ui
