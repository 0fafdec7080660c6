#pragma once

#include "platform/ui/status_bar.h"

namespace vantor {

using platform::ui::StatusBar;

// The main window's status bar, which a CStatusBar binds to when it is created; set by the main window.
StatusBar* mainStatusBar();
void setMainStatusBar(StatusBar* bar);

}  // namespace vantor
