#include "devsim/image_loader.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QNetworkDatagram>
#include <QUdpSocket>

#include "platform/ui/time_scale.h"
#include "tests/support/device_fixture.h"
#include "tests/support/test_environment.h"

using namespace std::chrono_literals;

namespace {

QByteArray packet(int n, char fill, int bytes = 1470) {
    QByteArray d(1472, '\0');
    d[0] = static_cast<char>(n & 0xFF);
    d[1] = static_cast<char>(n >> 8);
    d.replace(2, bytes, QByteArray(bytes, fill));
    return d;
}

// A sender on a loopback address of its own that sends one datagram and takes the answer, if any.
class Sender {
  public:
    Sender() { socket_.bind(QHostAddress(testsupport::uniqueLoopbackAddress()), 4242); }
    std::optional<QByteArray> exchange(const QString& device, const QByteArray& datagram, int waitMs = 300) {
        socket_.writeDatagram(datagram, QHostAddress(device), 4242);
        if (!socket_.waitForReadyRead(waitMs)) return std::nullopt;
        return socket_.receiveDatagram().data();
    }

  private:
    QUdpSocket socket_;
};

QByteArray number(int n) {
    QByteArray bytes(2, '\0');
    bytes[0] = static_cast<char>(n & 0xFF);
    bytes[1] = static_cast<char>(n >> 8);
    return bytes;
}

class ImageLoaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::setTimeScale(0.05);
        device = testsupport::startDevice({});
        ASSERT_TRUE(device);
        address = device->options().address;
    }
    void TearDown() override {
        device.reset();
        platform::setTimeScale(1.0);
    }
    devsim::ImageLoaderFaults& faults() { return device->imageLoader().faults(); }

    std::unique_ptr<devsim::SimulatedDevice> device;
    QString address;
    Sender sender;
};

}  // namespace

TEST_F(ImageLoaderTest, AcknowledgesEachPacketAndStoresTheImageWithoutThePadding) {
    EXPECT_EQ(sender.exchange(address, packet(1, 'a')), number(1));
    EXPECT_EQ(sender.exchange(address, packet(2, 'b')), number(2));
    EXPECT_EQ(sender.exchange(address, packet(2, 'b')), number(2));  // a packet sent again
    EXPECT_EQ(sender.exchange(address, packet(3, 'c', 100)), number(3));
    ASSERT_TRUE(device->log().waitFor("image: stored", 30s));
    EXPECT_TRUE(device->log().contains("3 packets, 3040 bytes, 1 packets sent again"));
    QFile image(device->files().root() + QStringLiteral("/nk.bin"));
    ASSERT_TRUE(image.open(QIODevice::ReadOnly));
    EXPECT_EQ(image.readAll(), QByteArray(1470, 'a') + QByteArray(1470, 'b') + QByteArray(100, 'c'));
    EXPECT_FALSE(QFile::exists(image.fileName() + QStringLiteral(".part")));
    image.close();

    // A sender that was quiet for longer than that goes on with the same image.
    device->log().clear();
    EXPECT_EQ(sender.exchange(address, packet(4, 'd')), number(4));
    ASSERT_TRUE(device->log().waitFor("image: stored", 30s));
    EXPECT_TRUE(device->log().contains("image: resumed after packet 3"));
    ASSERT_TRUE(image.open(QIODevice::ReadOnly));
    EXPECT_EQ(image.readAll(), QByteArray(1470, 'a') + QByteArray(1470, 'b') + QByteArray(100, 'c') +
                                   QByteArray(1370, '\0') + QByteArray(1470, 'd'));
}

TEST_F(ImageLoaderTest, IgnoresDatagramsThatAreNoPackets) {
    EXPECT_EQ(sender.exchange(address, QByteArray(100, 'x')), std::nullopt);
    EXPECT_EQ(sender.exchange(address, packet(0, 'x')), std::nullopt);
    EXPECT_TRUE(device->log().contains("ignored a datagram of 100 bytes"));
    EXPECT_TRUE(device->log().contains("ignored packet number 0"));
}

TEST_F(ImageLoaderTest, ScriptedAnswersReplaceTheAcknowledgement) {
    faults().dropAck(2);
    faults().answerNumber(3, 1);
    faults().answerNumber(4, 32768);
    faults().answerBytes(5, 1);
    faults().answerBytes(6, 3);
    faults().dropAck(7, true);
    EXPECT_EQ(sender.exchange(address, packet(1, 'a')), number(1));
    EXPECT_EQ(sender.exchange(address, packet(2, 'a')), std::nullopt);
    EXPECT_EQ(sender.exchange(address, packet(2, 'a')), number(2));  // once only
    EXPECT_EQ(sender.exchange(address, packet(3, 'a')), number(1));
    EXPECT_EQ(sender.exchange(address, packet(4, 'a')), number(32768));
    EXPECT_EQ(sender.exchange(address, packet(5, 'a'))->size(), 1);
    EXPECT_EQ(sender.exchange(address, packet(6, 'a'))->size(), 3);
    EXPECT_EQ(sender.exchange(address, packet(7, 'a')), std::nullopt);
    EXPECT_EQ(sender.exchange(address, packet(7, 'a')), std::nullopt);  // always
    faults().silent = true;
    EXPECT_EQ(sender.exchange(address, packet(8, 'a')), std::nullopt);
    EXPECT_TRUE(device->log().contains("packet 3 acknowledged as 1 (fault)"));
}
