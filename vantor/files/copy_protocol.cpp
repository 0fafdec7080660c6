#include "vantor/files/copy_protocol.h"

#include <algorithm>

namespace vantor::files {

QByteArray ReadReply(QByteArray& copyBuffer) {
    const qsizetype crlf = copyBuffer.indexOf("\r\n");
    if (crlf < 0) return std::exchange(copyBuffer, QByteArray());
    QByteArray reply = copyBuffer.left(crlf + 2);
    copyBuffer.remove(0, crlf + 2);
    return reply;
}

LineStatus TakeLine(QByteArray& buffer, QByteArray& line) {
    // Only the first kMaxReplyLine + 2 bytes can hold the end of an acceptable line.
    const QByteArrayView head = QByteArrayView(buffer).first(std::min(buffer.size(), kMaxReplyLine + 2));
    const qsizetype crlf = head.indexOf("\r\n");
    if (crlf < 0) return buffer.size() > kMaxReplyLine + 1 ? LineStatus::TooLong : LineStatus::Incomplete;
    line = buffer.left(crlf);
    buffer.remove(0, crlf + 2);
    return LineStatus::Complete;
}

QByteArray copyCommand(const QByteArray& destination, bool execute, bool autoStart) {
    return QByteArray("copy ") + (execute ? "-x " : "") + (autoStart ? "-a " : "") + destination;
}

std::optional<qint64> parseSizeLine(const QByteArray& reply) {
    const qsizetype blank = reply.indexOf(' ');
    const QByteArray digits = (blank < 0 ? reply : reply.mid(blank + 1)).trimmed();
    if (digits.isEmpty()) return std::nullopt;
    for (const char c : digits)
        if (c < '0' || c > '9') return std::nullopt;
    bool ok = false;
    const qint64 size = digits.toLongLong(&ok);
    if (!ok) return std::nullopt;
    return size;
}

bool BlockSource::open() {
    if (!file_.open(QIODevice::ReadOnly)) return false;
    size_ = file_.size();
    return true;
}

QByteArray BlockSource::next() {
    QByteArray block;
    return next(block) ? block : QByteArray();
}

bool BlockSource::next(QByteArray& block) {
    if (finished_ || failed_) return false;
    const qint64 remaining = size_ - sent_;
    const bool last = remaining <= kBlockSize;
    const qint64 want = last ? remaining : kBlockSize;
    block.resize(1 + want);
    char* bytes = block.data();
    bytes[0] = last ? '0' : '1';
    if (want > 0 && file_.read(bytes + 1, want) != want) {
        failed_ = true;  // the file shrank or can't be read any more
        return false;
    }
    sent_ += want;
    finished_ = last;
    return true;
}

}  // namespace vantor::files
