#include "devsim/file_listing.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>
#include <QtEndian>
#include <limits>

#include "devsim/device_files.h"

namespace devsim::listing {

namespace {
void put16(QByteArray& out, int value) {
    const quint16 v = qToLittleEndian(static_cast<quint16>(value));
    out.append(reinterpret_cast<const char*>(&v), 2);
}
void put32(QByteArray& out, std::uint32_t value) {
    const quint32 v = qToLittleEndian(static_cast<quint32>(value));
    out.append(reinterpret_cast<const char*>(&v), 4);
}
std::int32_t clampSize(qint64 size) {
    return static_cast<std::int32_t>(std::min<qint64>(size, std::numeric_limits<std::int32_t>::max()));
}
}  // namespace

QByteArray record(std::uint32_t attributes, std::int32_t size, const QDateTime& time,
                  const QByteArray& fullName) {
    QByteArray out;
    out.reserve(24 + fullName.size() + 1);
    put32(out, attributes);
    put32(out, static_cast<std::uint32_t>(size));
    const QDate d = time.date();
    const QTime t = time.time();
    put16(out, d.year());
    put16(out, d.month());
    put16(out, d.dayOfWeek() % 7);  // Sunday is 0 on the device
    put16(out, d.day());
    put16(out, t.hour());
    put16(out, t.minute());
    put16(out, t.second());
    put16(out, t.msec());
    out += fullName;
    out += '\0';
    return out;
}

QByteArray folderRecords(const QString& hostFolder, const QByteArray& devicePrefix, bool isRoot, int* count) {
    QByteArray out;
    int n = 0;
    const QDir dir(hostFolder);
    const QFileInfoList entries =
        dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                          QDir::DirsFirst | QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo& entry : entries) {
        const QByteArray name = entry.fileName().toLatin1();
        std::uint32_t attributes = 0;
        std::int32_t size = 0;
        if (entry.isDir()) {
            attributes |= kFolder;
            if (isRoot &&
                entry.fileName().compare(QLatin1String(DeviceFiles::kFlashFolder), Qt::CaseInsensitive) == 0)
                size = clampSize(QStorageInfo(entry.absoluteFilePath()).bytesAvailable());
        } else {
            attributes |= kArchive;
            size = clampSize(entry.size());
        }
        if (!entry.isWritable()) attributes |= kReadOnly;
        if (entry.fileName().startsWith(QLatin1Char('.'))) attributes |= kHidden;
        out += record(attributes, size, entry.lastModified(), devicePrefix + name);
        ++n;
    }
    if (count) *count = n;
    return out;
}

}  // namespace devsim::listing
