#pragma once

#include <QtGlobal>

class QProgressBar;

namespace vantor::files {

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
