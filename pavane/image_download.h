#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtGlobal>

namespace pavane {

// The packet side of an image download, without sockets or widgets: which datagram goes out next and
// what an answer means. The image file is read one packet at a time, so memory does not depend on the
// image's size. One object per download; the window drives it (send, wait, answer, next).
//
// Datagram: packet number (16-bit little-endian, first packet 1) + 1470 image bytes from file offset
// (n - 1) * 1470; the last packet is zero-filled behind the end of the file. Answer: 2 bytes naming the
// packet the device holds; any other size counts as no answer.
class ImageDownload {
  public:
    static constexpr int kDataBytes = 1470;
    static constexpr int kDatagramBytes = kDataBytes + 2;
    // Acknowledged numbers are 16-bit signed on the device: 32767 packets at most.
    static constexpr int kMaxPackets = 32767;

    static qint64 packetCountFor(qint64 fileLength) { return (fileLength + kDataBytes - 1) / kDataBytes; }

    // Opens the image for reading. False when it can't be opened (a folder counts as not openable).
    bool open(const QString& path);
    void close();
    bool isOpen() const { return file_.isOpen(); }
    qint64 packetCount() const { return packetCount_; }
    // An image worth sending: more than one packet, and not more than the numbers can count.
    bool isValidImage() const { return packetCount_ > 1 && packetCount_ <= kMaxPackets; }

    enum class Action {
        Send,          // datagram() is the next one to send
        Complete,      // every packet acknowledged; the file is closed
        WrongAddress,  // packet 1 went unanswered; the file is closed
        ReadFailed,    // the image could not be read; the file is closed
    };
    Action next();
    const QByteArray& datagram() const { return datagram_; }
    int packet() const { return n_; }

    enum class Answer {
        Advanced,   // the device holds packet n: the next packet follows
        Resend,     // no usable answer: packet n again
        Rewound,    // the device holds an earlier packet a: a is sent next, then a + 1 onward
        OutOfRange  // a number of 32768 or more; the file is closed
    };
    // Interprets what arrived while waiting for packet n (empty: nothing arrived).
    Answer answer(const QByteArray& ackText);
    // The number the last answer named (0: none).
    int answered() const { return answered_; }

    static int ackNumber(const QByteArray& ackText);

  private:
    bool readPacket(int number);

    QFile file_;
    qint64 packetCount_ = 0;
    int n_ = 0;
    int answered_ = 0;
    bool resend_ = false;
    bool readFailed_ = false;
    QByteArray datagram_;
};

}  // namespace pavane
