#include "vantor/files/progress_scale.h"

#include <QProgressBar>
#include <algorithm>
#include <limits>

namespace vantor::files {

ProgressScale::ProgressScale(QProgressBar* bar, qint64 total) : bar_(bar) {
    while (total / unit_ > std::numeric_limits<int>::max()) unit_ *= 1024;
    end_ = static_cast<int>(total / unit_);
    step_ = std::max(1, end_ / kSteps);
    bar_->setRange(0, end_);
    bar_->setValue(0);
    bar_->show();
}

void ProgressScale::set(qint64 done) {
    const int value = static_cast<int>(std::min<qint64>(done / unit_, end_));
    if (value - shown_ < step_ && !(value == end_ && shown_ != end_)) return;
    shown_ = value;
    bar_->setValue(value);
}

void ProgressScale::hide() { bar_->hide(); }

}  // namespace vantor::files
