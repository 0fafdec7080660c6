#include "vantor/common/m_globals.h"

#include <charconv>
#include <chrono>
#include <cmath>

#include "platform/ui/time_scale.h"
#include "platform/ui/wait.h"

namespace vantor::MGlobals {

namespace {
quint32 byteAt(const QByteArray& text, qsizetype i) { return static_cast<quint8>(text.at(i)); }
}  // namespace

QVariant BinToNum(const QByteArray& text, int kind) {
    switch (kind) {
        case kLong: {
            if (text.size() < 4) return {};
            const quint32 u =
                byteAt(text, 0) | byteAt(text, 1) << 8 | byteAt(text, 2) << 16 | byteAt(text, 3) << 24;
            return QVariant::fromValue(static_cast<qint32>(u));
        }
        case kInteger:
            if (text.size() < 2) return {};
            return QVariant::fromValue(static_cast<double>(byteAt(text, 0) | byteAt(text, 1) << 8));
        case kByte:
            if (text.isEmpty()) return {};
            return QVariant::fromValue(static_cast<quint8>(byteAt(text, 0)));
        default:
            return {};
    }
}

namespace {
struct Split {
    qsizetype folderEnd = 0;  // length of the folder part
};

Split splitPath(const QString& path, PathKind kind) {
    if (kind == PathKind::Pc) return {path.lastIndexOf(QLatin1Char('/')) + 1};
    const qsizetype colon = path.indexOf(QLatin1Char(':'));
    const qsizetype start = colon + 1;  // 0 without a drive
    const qsizetype slash = path.lastIndexOf(QLatin1Char('\\'));
    if (slash >= start) return {slash + 1};
    return {start};
}
}  // namespace

QString FileNamePart(const QString& path, PathKind kind) { return path.mid(splitPath(path, kind).folderEnd); }

QString FolderPart(const QString& path, PathKind kind) { return path.left(splitPath(path, kind).folderEnd); }

QByteArray digestNumberText(double x) {
    // to_chars ignores the process locale, so the separator is always ".".
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, x, std::chars_format::general, 15).ptr;
    return QByteArray(text, end - text);
}

QString AccessDigest(const QByteArray& word) {
    double x = 1.0;
    QString result;
    for (const char c : word) {
        x = static_cast<double>(static_cast<quint8>(c)) * std::sqrt(x);
        result += QString::fromLatin1(digestNumberText(x).right(2));
    }
    return result;
}

void WaitSeconds(double seconds) {
    const auto wanted = std::chrono::milliseconds(static_cast<long long>(std::llround(seconds * 1000.0)));
    if (wanted.count() <= 0) return;
    platform::ui::waitFor(platform::scaled(wanted));
}

}  // namespace vantor::MGlobals
