#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include "tests/support/test_environment.h"

namespace testsupport {

// Image bytes that differ from packet to packet and are never zero, so that a shifted, repeated or
// padded packet shows.
inline QByteArray imageBytes(qint64 size) {
    QByteArray bytes(size, '\0');
    for (qint64 i = 0; i < size; ++i) bytes[i] = static_cast<char>(1 + (i * 7 + i / 1470) % 251);
    return bytes;
}

// Writes an image of `size` bytes as `name` in a fresh folder; returns its path.
inline QString writeImage(qint64 size, const QString& name = QStringLiteral("nk.bin")) {
    const QString path = freshFolder(QStringLiteral("image")) + QLatin1Char('/') + name;
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) file.write(imageBytes(size));
    return path;
}

}  // namespace testsupport
