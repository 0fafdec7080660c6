#pragma once

#include <QByteArray>

namespace vantor {

// How a message from the shell is dealt with, decided by the first status word it contains.
struct Routing {
    enum Kind { Success, Notify, Error, Log };
    Kind kind = Log;
    QByteArray msg;   // what subscribers receive as msg (unused for Log)
    QByteArray data;  // what subscribers receive as data
};

// "success" -> ("success", ""); "notify" -> (message, from "notify" to the end); "error" -> ("error",
// message); none of them -> written to the log. Case-sensitive; the first rule that matches wins.
Routing routeMessage(const QByteArray& message);

// The text before the first `separator`; the whole text when there is none.
QByteArray FirstWord(const QByteArray& text, char separator);

// The shell connection's receive buffers: each chunk is split into NUL-terminated messages, and, while
// a get exchange waits for its answer, collected unsplit for reading line by line. Plain bytes; UI
// thread.
class ShellMessages {
  public:
    // A new chunk to split (every earlier one has been split completely).
    void setChunk(const QByteArray& rcv);
    // A chunk as it arrived from the socket, for the reply buffer.
    void collectReply(const QByteArray& rcv);

    // The next message of the chunk into curMessage: the text up to the next NUL, or the rest of the
    // chunk when no NUL follows. False once the chunk is used up.
    bool GetNextMessage();
    const QByteArray& curMessage() const { return curMessage_; }

    // Reply collection. Only a waiting exchange reads the reply buffer and it empties the buffer when it
    // starts, so chunks are collected only while one waits; otherwise the buffer would keep everything
    // the device ever sent.
    void startReplies();
    void stopReplies();
    bool collectingReplies() const { return collecting_; }
    const QByteArray& replyBuffer() const { return replyBuffer_; }
    // An answer line is short; more than this without its end (CR LF or NUL) is not an answer.
    static constexpr qsizetype kMaxReplyLine = 4096;
    // The reply has an end, or has gone past kMaxReplyLine without one (see replyTooLong).
    bool replyComplete() const;
    bool replyTooLong() const;
    // Up to and including the first CR LF, or everything when there is none; empty when empty.
    QByteArray GetReplyLine();

  private:
    QByteArray rcvBuffer_;
    qsizetype rcvPos_ = 0;  // start of the unsplit rest; saves copying the rest after each message
    QByteArray curMessage_;
    QByteArray replyBuffer_;
    bool collecting_ = false;
};

}  // namespace vantor
