#pragma once

#include <QString>

#include "vantor/common/shell_host.h"

class QCheckBox;
class QDialog;
class QGridLayout;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace platform::ui {
class StatusBar;
}

namespace vantor::files {

// The controls both copy windows share, laid out the same way: source and destination rows with their
// "..." buttons, Copy and Done, the progress bar (hidden) and the status bar ("Ready").
struct CopyWindowParts {
    CopyWindowParts(QDialog* window, const QString& sourceLabel, const QString& destLabel);

    // The "..." button of row 0 (source) or 1 (destination); "..." says nothing, `accessibleName` does.
    QPushButton* browseButton(int row, const char* name, const QString& accessibleName);
    // A check box below the rows, in column `column`.
    QCheckBox* checkBox(const QString& caption, const char* name, int column);

    QDialog* window;
    QGridLayout* grid;
    QLineEdit* txtSource;
    QLineEdit* txtDest;
    QPushButton* cmdCopy;
    QPushButton* cmdDone;
    QProgressBar* pbProgress;
    platform::ui::StatusBar* sbCopyMsg;
};

// Start of a copy window whose copy still runs behind it (hidden by Abort): exec() cannot nest, so the
// window comes back as it was, subscribed to the shell's messages again.
void showRunningCopy(QDialog* window, NotifySubscription& subscription, NotifyClient* client);

// Drives a progress bar over a byte count that may exceed its int range; hides it again at the end.
// The bar moves in steps of a thousandth of the whole (and to its end): no bar is wide enough to show a
// smaller one, and each move costs the bar more work than a block of a copy costs the copy.
class ProgressScale {
  public:
    static constexpr int kSteps = 1000;

    ProgressScale(QProgressBar* bar, qint64 total);
    void set(qint64 done);
    void hide();

  private:
    QProgressBar* bar_;
    qint64 unit_ = 1;
    int end_ = 0;
    int step_ = 1;
    int shown_ = 0;
};

}  // namespace vantor::files
