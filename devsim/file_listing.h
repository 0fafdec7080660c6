#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <cstdint>

namespace devsim {

// The binary records of a folder listing, as the device sends them on the data connection of "dir":
// attributes, size, a SYSTEMTIME-shaped timestamp (little-endian) and the full name ended by a NUL.
namespace listing {

inline constexpr std::uint32_t kReadOnly = 0x1;
inline constexpr std::uint32_t kHidden = 0x2;
inline constexpr std::uint32_t kFolder = 0x10;
inline constexpr std::uint32_t kArchive = 0x20;

QByteArray record(std::uint32_t attributes, std::int32_t size, const QDateTime& time,
                  const QByteArray& fullName);

// Every entry of the folder `hostFolder` as records; each full name is `devicePrefix` (the folder as the
// PC wrote it, ending with "\") followed by the entry's name. The flash folder of the root carries the
// free bytes of the device's storage in its size field.
QByteArray folderRecords(const QString& hostFolder, const QByteArray& devicePrefix, bool isRoot, int* count);

}  // namespace listing
}  // namespace devsim
