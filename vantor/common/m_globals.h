#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

// Small routines the Vantor windows share. Text from the device is 8-bit: one character, one byte.
namespace vantor::MGlobals {

// Variant type codes BinToNum understands.
inline constexpr int kLong = 3;     // four bytes, little-endian, signed 32-bit
inline constexpr int kInteger = 2;  // two bytes, little-endian, unsigned (as a double)
inline constexpr int kByte = 17;    // one byte

// The number stored in the first bytes of `text`; an invalid QVariant for any other kind, and also when
// `text` is shorter than the kind needs (a truncated record must not read past its end).
QVariant BinToNum(const QByteArray& text, int kind);

// Which separator a path uses: device paths "\" (with an optional drive "X:"), PC paths "/".
enum class PathKind { Device, Pc };

// The part after the last separator (for device paths, searched after the first ":"); the whole
// path when it has neither.
QString FileNamePart(const QString& path, PathKind kind = PathKind::Device);
// The part up to and including that last separator (or the drive colon); empty for a bare name.
QString FolderPart(const QString& path, PathKind kind = PathKind::Device);

// The digest the console compares with its stored access value: for each byte, x = code * sqrt(x)
// (x starts at 1), then the last two characters of x's shortest decimal text with up to 15
// significant digits.
QString AccessDigest(const QByteArray& word);
// x's decimal text as the digest takes it ("C" locale, no exponent below 1e15).
QByteArray digestNumberText(double x);

// Waits `seconds` (through the program's time scale), processing window events meanwhile; measured on
// the monotonic clock, so midnight or a clock change does not stretch or cut it.
void WaitSeconds(double seconds);

}  // namespace vantor::MGlobals
