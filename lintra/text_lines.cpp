#include "lintra/text_lines.h"

namespace lintra {

QByteArray TakeLine(QByteArray& buffer) {
    const qsizetype lf = buffer.indexOf('\n');
    if (lf < 0) {
        QByteArray line = std::move(buffer);
        buffer.clear();
        return line;
    }
    QByteArray line = buffer.left(lf);
    if (line.endsWith('\r')) line.chop(1);
    buffer.remove(0, lf + 1);
    return line;
}

std::optional<QByteArray> SqlScript::next() {
    while (!rest_.isEmpty()) {
        QByteArray line = TakeLine(rest_);
        if (line.isEmpty() || line.startsWith(';')) continue;
        return line;
    }
    return std::nullopt;
}

void appendCapped(QByteArray& text, const QByteArray& more) {
    text += more;
    if (text.size() <= kLimit) return;
    // One cut drops kKeepFrom - 1 characters; as many cuts as it takes to get within the limit.
    constexpr qsizetype cut = kKeepFrom - 1;
    const qsizetype cuts = (text.size() - kLimit + cut - 1) / cut;
    text.remove(0, cuts * cut);
}

}  // namespace lintra
