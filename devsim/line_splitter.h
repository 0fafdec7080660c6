#pragma once

#include <QByteArray>
#include <vector>

namespace devsim {

// Cuts what a connection sends into lines (CR LF, or a bare LF) within a bound: a line longer than the
// limit is reported once, as soon as it is known to be too long, and its remaining bytes are skipped up
// to its LF. A peer that never sends an LF costs at most the limit. One per connection.
class LineSplitter {
  public:
    struct Piece {
        QByteArray line;        // without its CR LF
        bool overLong = false;  // a line over the limit (then `line` is empty)
    };

    explicit LineSplitter(qsizetype limit) : limit_(limit) {}

    std::vector<Piece> feed(const QByteArray& data);

  private:
    qsizetype limit_;
    QByteArray pending_;
    bool discarding_ = false;
};

}  // namespace devsim
