#include "pavane/image_download.h"

#include <QFileInfo>
#include <cstring>

namespace pavane {

bool ImageDownload::open(const QString& path) {
    close();
    if (path.isEmpty() || QFileInfo(path).isDir()) return false;
    file_.setFileName(path);
    if (!file_.open(QIODevice::ReadOnly)) return false;
    packetCount_ = packetCountFor(file_.size());
    n_ = 0;
    answered_ = 0;
    resend_ = false;
    readFailed_ = false;
    datagram_ = QByteArray(kDatagramBytes, '\0');
    return true;
}

void ImageDownload::close() {
    if (file_.isOpen()) file_.close();
}

ImageDownload::Action ImageDownload::next() {
    if (readFailed_) return Action::ReadFailed;
    // The download is over once the device holds the last packet, not once it has been sent.
    if (n_ >= packetCount_ && !resend_) {
        close();
        return Action::Complete;
    }
    if (!resend_) {
        ++n_;
        if (!readPacket(n_)) {
            close();
            readFailed_ = true;
            return Action::ReadFailed;
        }
    } else if (n_ == 1) {
        // The first packet is never sent twice: no answer to it means nobody is listening there.
        close();
        return Action::WrongAddress;
    }
    return Action::Send;
}

ImageDownload::Answer ImageDownload::answer(const QByteArray& ackText) {
    const int a = ackNumber(ackText);
    answered_ = a;
    if (a >= 32768) {
        close();
        return Answer::OutOfRange;
    }
    if (a == n_) {
        resend_ = false;
        return Answer::Advanced;
    }
    resend_ = true;
    // Only a packet already sent can be one the device holds; a later number would skip packets that
    // never went out, so it counts as no answer.
    if (a == 0 || a > n_) return Answer::Resend;
    n_ = a;
    if (!readPacket(a)) {
        close();
        readFailed_ = true;  // next() must not go on with a stale datagram
    }
    return Answer::Rewound;
}

int ImageDownload::ackNumber(const QByteArray& ackText) {
    if (ackText.size() != 2) return 0;
    return static_cast<unsigned char>(ackText[0]) | (static_cast<unsigned char>(ackText[1]) << 8);
}

bool ImageDownload::readPacket(int number) {
    if (!file_.isOpen()) return false;
    // Packets mostly go in order: a seek is a system call per packet that the next read doesn't need.
    const qint64 offset = qint64(number - 1) * kDataBytes;
    if (file_.pos() != offset && !file_.seek(offset)) return false;
    char* data = datagram_.data();
    data[0] = static_cast<char>(number & 0xFF);
    data[1] = static_cast<char>((number >> 8) & 0xFF);
    const qint64 got = file_.read(data + 2, kDataBytes);
    if (got < 0) return false;
    // Behind the end of the file the packet carries zeros.
    std::memset(data + 2 + got, 0, static_cast<size_t>(kDataBytes - got));
    return true;
}

}  // namespace pavane
