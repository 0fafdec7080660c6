#include "devsim/line_splitter.h"

#include <utility>

namespace devsim {

std::vector<LineSplitter::Piece> LineSplitter::feed(const QByteArray& data) {
    std::vector<Piece> pieces;
    qsizetype from = 0;
    while (from < data.size()) {
        const qsizetype lf = data.indexOf('\n', from);
        const qsizetype end = lf < 0 ? data.size() : lf;
        if (!discarding_) {
            // One byte more than the limit may be the CR before the LF.
            if (pending_.size() + (end - from) > limit_ + 1) {
                pieces.push_back({{}, true});
                pending_.clear();
                discarding_ = true;
            } else {
                pending_.append(data.constData() + from, end - from);
            }
        }
        if (lf < 0) break;
        if (!discarding_) {
            QByteArray line = std::exchange(pending_, QByteArray());
            if (line.endsWith('\r')) line.chop(1);
            if (line.size() > limit_)
                pieces.push_back({{}, true});
            else
                pieces.push_back({std::move(line), false});
        }
        discarding_ = false;
        from = lf + 1;
    }
    return pieces;
}

}  // namespace devsim
