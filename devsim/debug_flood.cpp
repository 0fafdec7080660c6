#include "devsim/debug_flood.h"

namespace devsim {

QByteArray FloodPattern::line(qint64 number) {
    QByteArray text = "flood " + QByteArray::number(number).rightJustified(10, '0') + " ";
    // A varying body shows up when a receiver drops or repeats a piece.
    for (qsizetype i = text.size(); i < kLineLength - 2; ++i)
        text += static_cast<char>('A' + (number + i) % 26);
    return text + "\r\n";
}

QByteArray FloodPattern::take(qint64 count) {
    QByteArray out;
    out.reserve(static_cast<qsizetype>(count));
    while (count > 0) {
        const qint64 number = position_ / kLineLength;
        const qint64 offset = position_ % kLineLength;
        const qint64 part = qMin<qint64>(kLineLength - offset, count);
        out += line(number).mid(static_cast<qsizetype>(offset), static_cast<qsizetype>(part));
        position_ += part;
        count -= part;
    }
    return out;
}

}  // namespace devsim
