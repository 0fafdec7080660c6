#include "vantor/files/dir_entry.h"

#include "vantor/common/m_globals.h"

namespace vantor::files {

namespace {
int word(const QByteArray& record, int offset) {
    return static_cast<int>(MGlobals::BinToNum(record.mid(offset, 2), MGlobals::kInteger).toDouble());
}

// Right-aligned in `width` characters; a longer number keeps all its digits rather than losing the
// leading ones (a flash of more than 99 MB free would otherwise show a wrong count).
QByteArray rightAligned(qint32 value, int width) {
    return QByteArray::number(value).rightJustified(width, ' ');
}
}  // namespace

QByteArray twoDigits(int value) { return ("00" + QByteArray::number(value)).right(2); }

DirEntry ParseDirEntry(QByteArray& dirBuffer) {
    DirEntry entry;
    const qsizetype nul = dirBuffer.indexOf('\0', kRecordHeader);
    if (dirBuffer.size() < kRecordHeader || nul < 0) {
        dirBuffer.clear();
        return entry;
    }
    const QByteArray header = dirBuffer.left(kRecordHeader);
    entry.attributes = static_cast<quint32>(MGlobals::BinToNum(header, MGlobals::kLong).toInt());
    entry.size = MGlobals::BinToNum(header.mid(4), MGlobals::kLong).toInt();
    entry.date = twoDigits(word(header, 14)) + '.' + twoDigits(word(header, 10)) + '.' +
                 twoDigits(word(header, 8)) + "  ";
    entry.time =
        twoDigits(word(header, 16)) + ':' + twoDigits(word(header, 18)) + ':' + twoDigits(word(header, 20));
    entry.fullName = dirBuffer.mid(kRecordHeader, nul - kRecordHeader);
    dirBuffer.remove(0, nul + 1);
    return entry;
}

QByteArray AttributeLetters(quint32 attributes) {
    static constexpr struct {
        quint32 bit;
        char letter;
    } kLetters[] = {{0x1000, 'F'}, {0x2000, 'M'}, {0x2, 'H'},  {0x1, 'R'},
                    {0x4, 'S'},    {0x20, 'A'},   {0x800, 'C'}};
    QByteArray text;
    for (const auto& l : kLetters)
        if (attributes & l.bit) text += l.letter;
    return text;
}

QByteArray fileSizeText(qint32 size) { return rightAligned(size, 10) + " Byte"; }

QByteArray flashFreeText(qint32 size) { return rightAligned(size, 8) + " Byte free"; }

}  // namespace vantor::files
