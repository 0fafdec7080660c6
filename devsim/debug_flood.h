#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace devsim {

// The text of a debug flood: numbered lines of fixed length, CR LF each, the same for every run, so a
// receiver can check what it stored against a second pattern of its own.
class FloodPattern {
  public:
    static constexpr int kLineLength = 80;  // including CR LF

    // The next `count` bytes of the stream.
    QByteArray take(qint64 count);
    qint64 position() const { return position_; }

  private:
    static QByteArray line(qint64 number);

    qint64 position_ = 0;
};

}  // namespace devsim
