#pragma once

class QWidget;

namespace platform::ui {

// For the demo without a display: when QUILLON_SCREENSHOT_DIR is set, `window` is rendered to
// "<dir>/<name>.png" once it has been shown and laid out, and the program then ends (after `delayMs`,
// so that a connection started at start-up can show its state). Does nothing otherwise.
void screenshotAndQuitIfAsked(QWidget* window, const char* name, int delayMs = 1500);

}  // namespace platform::ui
