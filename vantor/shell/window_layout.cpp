#include "vantor/shell/window_layout.h"

#include <algorithm>

namespace vantor {

int WindowLayout::record(unsigned rules, const QRect& control, QSize form) {
    const int right = form.width() - (control.x() + control.width());
    const int bottom = form.height() - (control.y() + control.height());
    entries_.push_back({rules, static_cast<qint16>(std::clamp(right, -32768, 32767)),
                        static_cast<qint16>(std::clamp(bottom, -32768, 32767))});
    return static_cast<int>(entries_.size()) - 1;
}

QRect WindowLayout::place(int index, const QRect& current, QSize form) const {
    const Entry& e = entries_[static_cast<std::size_t>(index)];
    int left = current.x(), top = current.y(), width = current.width(), height = current.height();
    if (e.rules & MoveLeft) left = form.width() - e.right - width;
    if (e.rules & SizeWidth) width = std::max(0, form.width() - e.right - left);
    if (e.rules & MoveTop) top = form.height() - e.bottom - height;
    if (e.rules & SizeHeight) {
        const int wanted = std::max(0, form.height() - e.bottom - top);
        if (!(e.rules & Hysteresis) || wanted - height > kGrowThreshold || height - wanted > kShrinkThreshold)
            height = wanted;
    }
    return {left, top, width, height};
}

}  // namespace vantor
