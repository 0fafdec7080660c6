#include "iplist/ip_list_file.h"

#include <QFile>

#include "platform/files/atomic_file.h"
#include "platform/files/program_dir.h"

namespace iplist {

namespace {
// A list file is a few hundred bytes; anything far beyond is not one, and is read only this far.
constexpr qint64 kMaxRead = 1 << 20;
}  // namespace

QString defaultPath() { return platform::programFile(QString::fromLatin1(kFileName)); }

std::optional<QStringList> readLines(const QString& path, bool stopAtEmptyLine) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray bytes = file.read(kMaxRead);
    QStringList lines;
    qsizetype start = 0;
    const qsizetype size = bytes.size();
    while (start < size) {
        qsizetype end = start;
        while (end < size && bytes[end] != '\r' && bytes[end] != '\n') ++end;
        const QString line = QString::fromLatin1(bytes.constData() + start, end - start);
        if (line.isEmpty() && stopAtEmptyLine) break;
        lines << line;
        if (end < size && bytes[end] == '\r' && end + 1 < size && bytes[end + 1] == '\n') ++end;
        start = end + 1;
    }
    return lines;
}

bool writeLines(const QString& path, const QStringList& lines, QString* error) {
    QByteArray bytes;
    for (const QString& line : lines) bytes += line.toLatin1() + "\r\n";
    return platform::writeFileAtomically(path, bytes, error);
}

}  // namespace iplist
