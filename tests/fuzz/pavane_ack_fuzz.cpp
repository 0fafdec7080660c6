// Answers of any size and number, as a device (or anything else on the port) might send them, fed to
// an image download packet by packet: every datagram that goes out is the right part of the image
// under its own number, the packet number moves only as the answers say, and no answer makes the
// download read or send outside the image.
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "pavane/image_download.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using pavane::ImageDownload;

constexpr int kPackets = 6;
constexpr qint64 kImageBytes = (kPackets - 1) * ImageDownload::kDataBytes + 100;

const QByteArray& image() {
    static const QByteArray bytes = [] {
        QByteArray b(kImageBytes, '\0');
        for (qint64 i = 0; i < kImageBytes; ++i) b[i] = static_cast<char>((i * 7 + i / 1470) & 0xFF);
        return b;
    }();
    return bytes;
}

const QString& imagePath() {
    static const QString path = [] {
        const QString p = QDir::tempPath() + QStringLiteral("/pavane_ack_fuzz_%1.bin").arg(::getpid());
        QFile f(p);
        if (!f.open(QIODevice::WriteOnly) || f.write(image()) != image().size()) std::abort();
        std::atexit([] { QFile::remove(imagePath()); });
        return p;
    }();
    return path;
}

// The datagram for packet n: its number, then its part of the image, zeros behind the end.
void checkDatagram(const QByteArray& datagram, int n) {
    FUZZ_CHECK(datagram.size() == ImageDownload::kDatagramBytes);
    FUZZ_CHECK(n >= 1 && n <= kPackets);
    FUZZ_CHECK(ImageDownload::ackNumber(datagram.left(2)) == n);
    const qint64 from = qint64(n - 1) * ImageDownload::kDataBytes;
    const qint64 have = std::min<qint64>(ImageDownload::kDataBytes, kImageBytes - from);
    FUZZ_CHECK(std::memcmp(datagram.constData() + 2, image().constData() + from, static_cast<size_t>(have)) ==
               0);
    for (qint64 i = have; i < ImageDownload::kDataBytes; ++i) FUZZ_CHECK(datagram[2 + i] == '\0');
}

}  // namespace

// Input: answers one after the other, each a length byte (0..3, 0 meaning nothing arrived) and that
// many bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ImageDownload download;
    FUZZ_CHECK(download.open(imagePath()));
    FUZZ_CHECK(download.packetCount() == kPackets && download.isValidImage());
    std::size_t at = 0;
    bool resent = false;
    int held = 0;  // the highest packet in a row the device has acknowledged
    for (int round = 0; round < 4 * kPackets * kPackets + 8; ++round) {
        const ImageDownload::Action action = download.next();
        if (action == ImageDownload::Action::Complete) {
            FUZZ_CHECK(held == kPackets && !download.isOpen());
            return 0;
        }
        if (action == ImageDownload::Action::WrongAddress) {
            FUZZ_CHECK(download.packet() == 1 && resent && !download.isOpen());
            return 0;
        }
        FUZZ_CHECK(action == ImageDownload::Action::Send);
        const int n = download.packet();
        FUZZ_CHECK(n == held + 1 || (resent && n <= held + 1));
        checkDatagram(download.datagram(), n);
        if (at >= size) return 0;
        const std::size_t wanted = data[at++] % 4;
        const std::size_t length = std::min(wanted, size - at);
        const QByteArray ack(reinterpret_cast<const char*>(data + at), static_cast<qsizetype>(length));
        at += length;
        const int a = ImageDownload::ackNumber(ack);
        switch (download.answer(ack)) {
            case ImageDownload::Answer::Advanced:
                FUZZ_CHECK(a == n && download.packet() == n);
                held = std::max(held, n);
                resent = false;
                break;
            case ImageDownload::Answer::Resend:
                FUZZ_CHECK(a != n && (a == 0 || a > n) && download.packet() == n);
                resent = true;
                break;
            case ImageDownload::Answer::Rewound:
                FUZZ_CHECK(a >= 1 && a < n && download.packet() == a);
                checkDatagram(download.datagram(), a);
                held = a - 1;  // the device says it holds a: what follows a must go again
                resent = true;
                break;
            case ImageDownload::Answer::OutOfRange:
                FUZZ_CHECK(a >= 32768 && !download.isOpen());
                return 0;
        }
    }
    return 0;
}
