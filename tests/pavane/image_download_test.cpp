#include "pavane/image_download.h"

#include <gtest/gtest.h>

#include "pavane/address_check.h"
#include "tests/pavane/test_images.h"
#include "tests/support/udp_peer.h"

using pavane::ImageDownload;
using testsupport::UdpPeer;
using testsupport::writeImage;

namespace {

// Runs a download against scripted answers (one per datagram sent); returns the packet numbers sent.
struct Outcome {
    std::vector<int> sent;
    ImageDownload::Action end = ImageDownload::Action::Send;
    bool outOfRange = false;
};

Outcome drive(ImageDownload& download, const std::function<QByteArray(int packet)>& answerFor,
              int limit = 100) {
    Outcome run;
    for (int i = 0; i < limit; ++i) {
        const ImageDownload::Action action = download.next();
        if (action != ImageDownload::Action::Send) {
            run.end = action;
            return run;
        }
        run.sent.push_back(download.packet());
        if (download.answer(answerFor(download.packet())) == ImageDownload::Answer::OutOfRange) {
            run.outOfRange = true;
            return run;
        }
    }
    return run;
}

QByteArray ackEach(int packet) { return UdpPeer::number(packet); }

}  // namespace

TEST(ImageDownload, PacketCountIsTheLengthIn1470ByteStepsRoundedUp) {
    EXPECT_EQ(ImageDownload::packetCountFor(2940), 2);
    EXPECT_EQ(ImageDownload::packetCountFor(2941), 3);
    EXPECT_EQ(ImageDownload::packetCountFor(2 * 1470 + 1000), 3);
    EXPECT_EQ(ImageDownload::packetCountFor(1470), 1);
}

TEST(ImageDownload, DatagramsCarryTheNumberLittleEndianAndZeroPaddingAtTheEnd) {
    const QByteArray image = testsupport::imageBytes(2 * 1470 + 1000);
    ImageDownload download;
    ASSERT_TRUE(download.open(writeImage(image.size())));
    ASSERT_TRUE(download.isValidImage());
    std::vector<QByteArray> datagrams;
    for (;;) {
        if (download.next() != ImageDownload::Action::Send) break;
        datagrams.push_back(download.datagram());
        download.answer(UdpPeer::number(download.packet()));
    }
    ASSERT_EQ(datagrams.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(datagrams[i].size(), 1472);
        EXPECT_EQ(static_cast<unsigned char>(datagrams[i][0]), i + 1);
        EXPECT_EQ(datagrams[i][1], '\0');
    }
    EXPECT_EQ(datagrams[0].mid(2), image.mid(0, 1470));
    EXPECT_EQ(datagrams[2].mid(2, 1000), image.mid(2940));
    EXPECT_EQ(datagrams[2].mid(1002), QByteArray(470, '\0'));
    EXPECT_FALSE(download.isOpen());
}

TEST(ImageDownload, ImagesOfOnePacketOrTooManyPacketsAreNotValid) {
    ImageDownload download;
    ASSERT_TRUE(download.open(writeImage(1470)));
    EXPECT_FALSE(download.isValidImage());
    ASSERT_TRUE(download.open(writeImage(1471)));
    EXPECT_TRUE(download.isValidImage());
    // 32767 packets is the most the 16-bit numbers can count.
    QFile big(writeImage(0));
    ASSERT_TRUE(big.open(QIODevice::ReadWrite));
    ASSERT_TRUE(big.resize(qint64(ImageDownload::kMaxPackets) * 1470 + 1));
    big.close();
    ASSERT_TRUE(download.open(big.fileName()));
    EXPECT_FALSE(download.isValidImage());
    EXPECT_FALSE(download.open(testsupport::freshFolder(QStringLiteral("folder"))));
}

TEST(ImageDownload, ALaterNumberThanSentIsNoAnswerAndNeverSkipsPackets) {
    ImageDownload download;
    ASSERT_TRUE(download.open(writeImage(4 * 1470)));
    bool once = false;
    const Outcome run = drive(download, [&](int packet) {
        if (packet == 2 && !once) {
            once = true;
            return UdpPeer::number(4);
        }
        return ackEach(packet);
    });
    EXPECT_EQ(run.sent, (std::vector<int>{1, 2, 2, 3, 4}));
    EXPECT_EQ(run.end, ImageDownload::Action::Complete);
}

TEST(ImageDownload, TheLastPacketIsSentAgainUntilTheDeviceHoldsIt) {
    ImageDownload download;
    ASSERT_TRUE(download.open(writeImage(3 * 1470)));
    int lastAnswers = 0;
    const Outcome run = drive(download, [&](int packet) {
        if (packet == 3 && lastAnswers++ < 2) return lastAnswers == 1 ? QByteArray() : UdpPeer::number(9);
        return ackEach(packet);
    });
    EXPECT_EQ(run.sent, (std::vector<int>{1, 2, 3, 3, 3}));
    EXPECT_EQ(run.end, ImageDownload::Action::Complete);
}

TEST(ImageDownload, NumbersOf32768AndMoreEndTheDownload) {
    ImageDownload download;
    ASSERT_TRUE(download.open(writeImage(4 * 1470)));
    const Outcome run =
        drive(download, [](int packet) { return UdpPeer::number(packet == 2 ? 0xFFFF : packet); });
    EXPECT_TRUE(run.outOfRange);
    EXPECT_EQ(download.answered(), 0xFFFF);
    EXPECT_FALSE(download.isOpen());
}

TEST(AddressCheck, OnlyThreeDotsWithSomethingBehindTheLastPass) {
    EXPECT_TRUE(pavane::hasFourDottedParts(QStringLiteral("10.0.0.1")));
    EXPECT_TRUE(pavane::hasFourDottedParts(QStringLiteral("host.lab.example.com")));
    EXPECT_TRUE(pavane::hasFourDottedParts(QStringLiteral("...x")));  // only the dots count
    EXPECT_FALSE(pavane::hasFourDottedParts(QStringLiteral("10.0.0.")));
    EXPECT_FALSE(pavane::hasFourDottedParts(QStringLiteral("10.0.0.1.5")));
    EXPECT_FALSE(pavane::hasFourDottedParts(QStringLiteral("10.0.1")));
    EXPECT_FALSE(pavane::hasFourDottedParts(QStringLiteral("devicehost")));
    EXPECT_FALSE(pavane::hasFourDottedParts(QString()));
}
