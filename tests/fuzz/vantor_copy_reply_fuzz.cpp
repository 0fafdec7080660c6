// The replies of a copy's data connection ("exists", "new", "ok", "size <n>" and whatever a device
// might send instead), arriving cut into pieces: the reply lines and the verdict on an over-long line
// are the same however the bytes are cut, a size line gives its number or nothing, and the reader of
// whatever is left takes every byte once.
#include <QByteArray>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tests/fuzz/fuzz_check.h"
#include "vantor/files/copy_protocol.h"

namespace {

using vantor::files::LineStatus;

struct Reading {
    std::vector<QByteArray> lines;
    bool tooLong = false;
    QByteArray rest;
    bool operator==(const Reading&) const = default;
};

Reading read(const QByteArray& stream, qsizetype chunk) {
    Reading r;
    QByteArray buffer;
    for (qsizetype at = 0; at < stream.size() && !r.tooLong; at += chunk) {
        buffer += stream.mid(at, chunk);
        for (;;) {
            QByteArray line;
            const LineStatus status = vantor::files::TakeLine(buffer, line);
            if (status == LineStatus::Incomplete) break;
            if (status == LineStatus::TooLong) {
                r.tooLong = true;  // the copy fails here: nothing after it is read
                break;
            }
            FUZZ_CHECK(line.size() <= vantor::files::kMaxReplyLine && !line.contains("\r\n"));
            r.lines.push_back(line);
        }
    }
    if (!r.tooLong) r.rest = buffer;
    return r;
}

void checkSize(const QByteArray& line) {
    const std::optional<qint64> size = vantor::files::parseSizeLine(line);
    if (!size) return;
    FUZZ_CHECK(*size >= 0);
    const qsizetype blank = line.indexOf(' ');
    QByteArray digits = (blank < 0 ? line : line.mid(blank + 1)).trimmed();
    while (digits.size() > 1 && digits.startsWith('0')) digits.remove(0, 1);
    FUZZ_CHECK(QByteArray::number(*size) == digits);
}

}  // namespace

// Input: the cut (first byte), where a long run of filler goes and how long it is (two bytes), then the
// bytes of the connection; the filler reaches the line limit that short inputs never would.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const qsizetype chunk = data[0] % 97 + 1;
    QByteArray stream(reinterpret_cast<const char*>(data + 3), static_cast<qsizetype>(size - 3));
    const qsizetype fillerAt = std::min<qsizetype>(data[1], stream.size());
    stream.insert(fillerAt, QByteArray(data[2] * 24, '7'));

    const Reading whole = read(stream, stream.size() + 1);
    const Reading cut = read(stream, chunk);
    FUZZ_CHECK(whole == cut);
    for (const QByteArray& line : whole.lines) {
        checkSize(line);
        if (line.startsWith("exists") || line.startsWith("new") || line.startsWith("ok"))
            FUZZ_CHECK(!line.isEmpty());
    }

    // Whatever is left when a wait ends: taken reply by reply, every byte once, each ends at its CR LF.
    QByteArray rest = whole.rest;
    QByteArray taken;
    for (QByteArray reply; !(reply = vantor::files::ReadReply(rest)).isEmpty();) {
        const qsizetype crlf = reply.indexOf("\r\n");
        FUZZ_CHECK(crlf < 0 ? rest.isEmpty() : crlf == reply.size() - 2);
        taken += reply;
    }
    FUZZ_CHECK(taken == whole.rest);
    return 0;
}
