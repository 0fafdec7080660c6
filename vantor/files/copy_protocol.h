#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <optional>

namespace vantor::files {

inline constexpr qint64 kBlockSize = 1024;

// The next reply of the data connection: up to and including the first CR LF, or everything when there
// is no CR LF yet; empty when nothing is there.
QByteArray ReadReply(QByteArray& copyBuffer);
// The longest reply line the device may send on a data connection (without its CR LF). Longer is a
// protocol error: no real reply comes near it, and waiting for its end would let memory grow without bound.
inline constexpr qsizetype kMaxReplyLine = 4096;

enum class LineStatus { Incomplete, Complete, TooLong };
// Takes the next whole line from `buffer` into `line` (without its CR LF; what follows stays). Incomplete:
// no CR LF yet and nothing changed. TooLong: no CR LF within kMaxReplyLine bytes; nothing changed.
LineStatus TakeLine(QByteArray& buffer, QByteArray& line);

// "copy [-x ][-a ]<destination>" as sent on the shell (without CR LF).
QByteArray copyCommand(const QByteArray& destination, bool execute, bool autoStart);

// The file size of the device's answer to "getfile": the number after the first blank (or the whole line
// when it has none), blanks and CR LF around it ignored. Nothing when that is not a whole, non-negative
// number: a garbled line must not pass as an empty file.
std::optional<qint64> parseSizeLine(const QByteArray& reply);

// Reads a file block by block for the copy to the device: "1" + 1024 bytes while more follow, then "0"
// + the rest (0 to 1024 bytes). Holds one block at a time.
class BlockSource {
  public:
    explicit BlockSource(const QString& path) : file_(path) {}
    bool open();
    qint64 size() const { return size_; }
    qint64 sent() const { return sent_; }
    bool finished() const { return finished_; }
    // The next block with its flag; empty after the last one or when reading fails (see failed()).
    QByteArray next();
    // The same into `block`, whose memory serves again for every block; false instead of empty.
    bool next(QByteArray& block);
    bool failed() const { return failed_; }

  private:
    QFile file_;
    qint64 size_ = 0;
    qint64 sent_ = 0;
    bool finished_ = false;
    bool failed_ = false;
};

}  // namespace vantor::files
