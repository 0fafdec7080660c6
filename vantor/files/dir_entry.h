#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace vantor::files {

// One record of a device folder listing.
struct DirEntry {
    quint32 attributes = 0;
    qint32 size = 0;
    QByteArray date;      // "dd.mm.yy  " (10 characters)
    QByteArray time;      // "hh:mm:ss"
    QByteArray fullName;  // from the root, as the device sent it; empty: no (further) entry
};

inline constexpr quint32 kFolderAttribute = 0x10;
inline constexpr int kRecordHeader = 24;

// Takes the first record off `dirBuffer`. A record the buffer does not hold completely (a header cut
// short, or a name without its NUL: the connection ended inside it) gives an entry with an empty name
// and empties the buffer, so that the caller stops there and shows what came before.
DirEntry ParseDirEntry(QByteArray& dirBuffer);

// One letter per set bit, in the device's fixed order: F M H R S A C.
QByteArray AttributeLetters(quint32 attributes);

// The last two digits of a number, with a leading zero ("03" for 2003, "07" for 7).
QByteArray twoDigits(int value);

// The Size column: files "      1234 Byte", the flash folder "   12345 Byte free", other folders " ".
QByteArray fileSizeText(qint32 size);
QByteArray flashFreeText(qint32 size);

}  // namespace vantor::files
