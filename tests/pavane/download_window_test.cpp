#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QUdpSocket>
#include <numeric>
#include <thread>

#include "devsim/image_loader.h"
#include "iplist/ip_list_file.h"
#include "platform/files/program_dir.h"
#include "platform/settings/settings_store.h"
#include "platform/ui/wait.h"
#include "tests/pavane/download_window_fixture.h"
#include "tests/pavane/test_images.h"
#include "tests/support/accessible_names.h"
#include "tests/support/device_fixture.h"
#include "tests/support/udp_peer.h"

using testsupport::DownloadWindowTest;
using testsupport::UdpPeer;
using testsupport::writeImage;

namespace {

const QString kComplete = QStringLiteral("Image download complete");

QString sendErrorText(const QString& host) {
    return QStringLiteral(
               "Couldn't send data to the device !\r\nPlease make sure, that there is no other program\r\n"
               "accessing port 4242 on host ") +
           host;
}

}  // namespace

TEST_F(DownloadWindowTest, StartsWaitingForAnImageFile) {
    openWindow();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Download Windows CE Image"));
    EXPECT_EQ(window->statusText(), QStringLiteral("Please select an Image File"));
    EXPECT_FALSE(button("CmdDownload")->isEnabled());
    EXPECT_EQ(button("CmdFileSel")->toolTip(), QStringLiteral(" Select an Image File to Download "));
    EXPECT_EQ(button("CmdDownload")->toolTip(), QStringLiteral(" Download the selected Image File "));

    setAddress(QStringLiteral("10.0.0.1"));
    chooseImage(writeImage(5000, QStringLiteral("other.bin")));
    ASSERT_EQ(dialogs.fileDialogs().size(), 1u);
    EXPECT_EQ(dialogs.fileDialogs()[0].title, QStringLiteral("Select the CE image file to download"));
    EXPECT_EQ(dialogs.fileDialogs()[0].fileName, QStringLiteral("nk.bin"));
    EXPECT_EQ(dialogs.fileDialogs()[0].filter, QStringLiteral("Windows CE image Files (*.bin) | *.bin"));
    // The same words whatever file was chosen.
    EXPECT_EQ(window->statusText(), QStringLiteral("nk.bin ready for downloading"));
    EXPECT_TRUE(button("CmdDownload")->isEnabled());
}

TEST_F(DownloadWindowTest, SendsAsManyFullSizedPacketsAsTheLengthNeeds) {
    openWindow();
    for (const auto& [size, packets] : {std::pair{2940, 2}, {2941, 3}, {2 * 1470 + 1000, 3}}) {
        UdpPeer peer(deviceAddress, 4242, [](int, const QByteArray& d) { return UdpPeer::acknowledge(d); });
        ASSERT_TRUE(peer.bound());
        downloadTo(deviceAddress, writeImage(size));
        EXPECT_EQ(window->statusText(), kComplete) << size;
        std::vector<int> expected;
        for (int n = 1; n <= packets; ++n) expected.push_back(n);
        EXPECT_EQ(peer.packetNumbers(), expected) << size;
        for (const QByteArray& d : peer.received()) EXPECT_EQ(d.size(), 1472);
        EXPECT_TRUE(button("CmdDownload")->isEnabled());
    }
    EXPECT_TRUE(dialogs.boxes().empty());
}

TEST_F(DownloadWindowTest, DeviceReassemblesThreeMegabytesDespiteADroppedAcknowledgement) {
    auto device = testsupport::startDevice({});
    ASSERT_TRUE(device);
    device->imageLoader().faults().dropAck(1000);
    const qint64 size = 3 * 1024 * 1024;
    openWindow();
    downloadTo(device->options().address, writeImage(size));
    EXPECT_EQ(window->statusText(), kComplete);
    EXPECT_TRUE(statuses.contains(QStringLiteral("Resending 1000")));
    EXPECT_TRUE(statuses.contains(QStringLiteral("Packet 2140")));
    ASSERT_TRUE(device->log().waitFor("image: stored", std::chrono::seconds(10)));
    EXPECT_TRUE(device->log().contains("packet 1000 not acknowledged"));
    QFile stored(device->files().root() + QStringLiteral("/nk.bin"));
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    const QByteArray bytes = stored.readAll();
    ASSERT_EQ(bytes.size(), size);
    EXPECT_TRUE(bytes == testsupport::imageBytes(size));
}

TEST_F(DownloadWindowTest, OneAndThreeByteAnswersCountAsNoAnswer) {
    auto device = testsupport::startDevice({});
    ASSERT_TRUE(device);
    device->imageLoader().faults().answerBytes(2, 1);
    device->imageLoader().faults().answerBytes(3, 3);
    openWindow();
    downloadTo(device->options().address, writeImage(5 * 1470));
    EXPECT_EQ(window->statusText(), kComplete);
    EXPECT_EQ(statuses.filter(QStringLiteral("Resending")), (QStringList{"Resending 2", "Resending 3"}));
    ASSERT_TRUE(device->log().waitFor("image: stored", std::chrono::seconds(10)));
    EXPECT_TRUE(device->log().contains("packet 2 again"));
    EXPECT_TRUE(device->log().contains("packet 3 again"));
}

TEST_F(DownloadWindowTest, AnEarlierPacketAnswerRewindsAndGoesOnFromThere) {
    bool rewound = false;
    UdpPeer peer(deviceAddress, 4242, [&rewound](int, const QByteArray& d) -> std::optional<QByteArray> {
        if (UdpPeer::acknowledge(d) == UdpPeer::number(5) && !rewound) {
            rewound = true;
            return UdpPeer::number(3);
        }
        return UdpPeer::acknowledge(d);
    });
    openWindow();
    downloadTo(deviceAddress, writeImage(6 * 1470));
    EXPECT_EQ(window->statusText(), kComplete);
    EXPECT_EQ(peer.packetNumbers(), (std::vector<int>{1, 2, 3, 4, 5, 3, 4, 5, 6}));
    const auto datagrams = peer.received();
    EXPECT_EQ(datagrams[5], datagrams[2]);
    EXPECT_TRUE(statuses.contains(QStringLiteral("Resending 5")));
}

TEST_F(DownloadWindowTest, ADownloadLongerThanTheGuardOfAStalledLoopSendsEveryPacketOnce) {
    // At the fixture's scale, ticks of 50 ms: a packet waits 550 ms for its answer, and a loop that saw
    // no tick for 2.4 s would count as stalled. Answers after 70 ms each make the whole download last
    // longer than that, each well inside its own wait.
    // A packet sent again draws a second answer, which rewinds the download, and so on: after 60
    // datagrams the peer names packet 1, which ends the download, so such a fault fails here, not hangs.
    UdpPeer peer(deviceAddress, 4242, [](int index, const QByteArray& d) -> std::optional<QByteArray> {
        std::this_thread::sleep_for(std::chrono::milliseconds(70));
        return index < 60 ? UdpPeer::acknowledge(d) : UdpPeer::number(1);
    });
    openWindow();
    downloadTo(deviceAddress, writeImage(40 * 1470));
    EXPECT_EQ(window->statusText(), kComplete);
    std::vector<int> once(40);
    std::iota(once.begin(), once.end(), 1);
    EXPECT_EQ(peer.packetNumbers(), once);
    EXPECT_TRUE(statuses.filter(QStringLiteral("Resending")).isEmpty())
        << statuses.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(statuses.contains(QStringLiteral("Packet 39")));
}

TEST_F(DownloadWindowTest, AnAnswerNamingPacketOneLaterMeansTheAddressIsWrong) {
    UdpPeer peer(deviceAddress, 4242, [](int, const QByteArray& d) -> std::optional<QByteArray> {
        return d.startsWith(UdpPeer::number(3)) ? UdpPeer::number(1) : UdpPeer::acknowledge(d);
    });
    openWindow();
    downloadTo(deviceAddress, writeImage(6 * 1470));
    EXPECT_EQ(window->statusText(), QStringLiteral("IP address seems to be wrong"));
    EXPECT_EQ(peer.packetNumbers(), (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(button("CmdDownload")->isEnabled());
}

TEST_F(DownloadWindowTest, AnswersFromAnotherHostAreIgnoredAsIfNoneHadCome) {
    // Another host on the port sends "packet 1" just when packet 3 is left unanswered: taken as the
    // device's answer it would end the download with a wrong-address status.
    const QString strayAddress = testsupport::uniqueLoopbackAddress();
    QUdpSocket stray;
    ASSERT_TRUE(stray.bind(QHostAddress(strayAddress), 4242));
    const int strayFd = static_cast<int>(stray.socketDescriptor());
    sockaddr_in pavanePort{};
    pavanePort.sin_family = AF_INET;
    pavanePort.sin_port = htons(4242);
    pavanePort.sin_addr.s_addr = htonl(QHostAddress(localAddress).toIPv4Address());
    UdpPeer peer(deviceAddress, 4242, [&](int index, const QByteArray& d) -> std::optional<QByteArray> {
        if (index != 2) return UdpPeer::acknowledge(d);
        const QByteArray one = UdpPeer::number(1);
        ::sendto(strayFd, one.constData(), static_cast<size_t>(one.size()), 0,
                 reinterpret_cast<const sockaddr*>(&pavanePort), sizeof pavanePort);
        return std::nullopt;
    });
    openWindow();
    downloadTo(deviceAddress, writeImage(4 * 1470));
    EXPECT_EQ(window->statusText(), kComplete);
    EXPECT_EQ(peer.packetNumbers(), (std::vector<int>{1, 2, 3, 3, 4}));
    EXPECT_TRUE(statuses.contains(QStringLiteral("Resending 3")));
}

TEST_F(DownloadWindowTest, AssistiveToolsReadTheStatusAsShownAndEveryControlInPlainWords) {
    auto device = testsupport::startDevice({});
    ASSERT_TRUE(device);
    openWindow();
    downloadTo(device->options().address, writeImage(3 * 1470));
    auto* panel = control<QLabel>("StatusBar1Panel1");
    ASSERT_TRUE(platform::ui::waitUntil([&] { return panel->text() == kComplete; }, std::chrono::seconds(5)));
    EXPECT_EQ(testsupport::accessibleName(panel), kComplete);
    EXPECT_EQ(testsupport::accessibleName(control<QComboBox>("txtIP")->lineEdit()),
              QStringLiteral("IP Address"));
    EXPECT_EQ(testsupport::controlsNamedByCodeName(window.get()), QStringList());
}

TEST_F(DownloadWindowTest, ASilentDeviceGetsPacketOneOnce) {
    auto device = testsupport::startDevice({});
    ASSERT_TRUE(device);
    device->imageLoader().faults().silent = true;
    openWindow();
    downloadTo(device->options().address, writeImage(3 * 1470));
    EXPECT_EQ(window->statusText(), QStringLiteral("IP address seems to be wrong"));
    EXPECT_EQ(statuses.filter(QStringLiteral("Resending")), QStringList(QStringLiteral("Resending 1")));
    EXPECT_TRUE(dialogs.boxes().empty());
}

TEST_F(DownloadWindowTest, AddressesWithoutFourDottedPartsAbortAndLeaveOnlyQuit) {
    UdpPeer peer(deviceAddress, 4242, [](int, const QByteArray& d) { return UdpPeer::acknowledge(d); });
    const QString image = writeImage(3000);
    for (const QString& address :
         {QStringLiteral("10.0.0."), QStringLiteral("10.0.0.1.5"), QStringLiteral("devicehost")}) {
        openWindow();
        downloadTo(address, image);
        EXPECT_EQ(window->statusText(), QStringLiteral("Program aborted - invalid IP address"))
            << address.toStdString();
        EXPECT_TRUE(window->isAborted());
        EXPECT_FALSE(button("CmdDownload")->isEnabled());
        EXPECT_FALSE(button("CmdFileSel")->isEnabled());
        EXPECT_FALSE(control<QComboBox>("txtIP")->isEnabled());
        EXPECT_TRUE(button("CmdQuit")->isEnabled());
    }
    EXPECT_TRUE(peer.received().empty());
}

TEST_F(DownloadWindowTest, AnImageOfOnePacketAborts) {
    UdpPeer peer(deviceAddress, 4242, [](int, const QByteArray& d) { return UdpPeer::acknowledge(d); });
    openWindow();
    downloadTo(deviceAddress, writeImage(1470));
    EXPECT_EQ(window->statusText(), QStringLiteral("Program aborted - file does not exist or is invalid"));
    EXPECT_TRUE(peer.received().empty());
    EXPECT_FALSE(button("CmdDownload")->isEnabled());
}

TEST_F(DownloadWindowTest, AnImageThatVanishedCannotBeOpened) {
    openWindow();
    const QString image = writeImage(3000);
    setAddress(deviceAddress);
    chooseImage(image);
    QFile::remove(image);
    download();
    EXPECT_EQ(dialogs.boxTexts(),
              QStringList(QStringLiteral("Couldn't open file '") + image + QStringLiteral("'")));
    EXPECT_TRUE(button("CmdDownload")->isEnabled());
    EXPECT_FALSE(window->isAborted());
}

TEST_F(DownloadWindowTest, LocalPortInUseGivesTheSendErrorMessage) {
    QUdpSocket squatter;
    ASSERT_TRUE(squatter.bind(QHostAddress(localAddress), 4242, QAbstractSocket::DontShareAddress));
    UdpPeer peer(deviceAddress, 4242, [](int, const QByteArray& d) { return UdpPeer::acknowledge(d); });
    openWindow();
    downloadTo(deviceAddress, writeImage(3000));
    EXPECT_EQ(dialogs.boxTexts(), QStringList(sendErrorText(deviceAddress)));
    EXPECT_TRUE(peer.received().empty());
    EXPECT_TRUE(button("CmdDownload")->isEnabled());
    // Once the port is free again the same window gets through.
    squatter.close();
    download();
    EXPECT_EQ(window->statusText(), kComplete);
}

TEST_F(DownloadWindowTest, AnAcknowledgementOf32768EndsWithTheSendErrorMessage) {
    auto device = testsupport::startDevice({});
    ASSERT_TRUE(device);
    device->imageLoader().faults().answerNumber(2, 32768);
    openWindow();
    downloadTo(device->options().address, writeImage(4 * 1470));
    EXPECT_EQ(dialogs.boxTexts(), QStringList(sendErrorText(device->options().address)));
    EXPECT_NE(window->statusText(), kComplete);
    EXPECT_TRUE(button("CmdDownload")->isEnabled());
}

TEST_F(DownloadWindowTest, QuitDuringADownloadEndsItAndSavesTheList) {
    auto device = testsupport::startDevice({});
    ASSERT_TRUE(device);
    openWindow();
    bool unloaded = false;
    QObject::connect(window.get(), &pavane::frmDownloadCE::unloaded, [&] { unloaded = true; });
    QObject::connect(window.get(), &pavane::frmDownloadCE::statusChanged, [this](const QString& text) {
        if (text == QLatin1String("Packet 10")) button("CmdQuit")->click();
    });
    downloadTo(device->options().address, writeImage(3 * 1024 * 1024));
    EXPECT_TRUE(unloaded);
    EXPECT_EQ(window->statusText(), QStringLiteral("Packet 10"));
    EXPECT_EQ(iplist::readLines(platform::programFile(QStringLiteral("qnIPs.txt")), false),
              QStringList(device->options().address));
}

TEST_F(DownloadWindowTest, TheListKeepsTheBoxOrderAndGainsANewAddressLast) {
    const QString listFile = platform::programFile(QStringLiteral("qnIPs.txt"));
    ASSERT_TRUE(iplist::writeLines(
        listFile, {QStringLiteral("10.0.0.2"), QStringLiteral("10.0.0.1"), QStringLiteral("10.0.0.3")}));
    platform::SaveSetting(QStringLiteral("Pavane"), QStringLiteral("Settings"), QStringLiteral("IP"),
                          QStringLiteral("10.0.0.1"));
    openWindow();
    auto* box = control<QComboBox>("txtIP");
    ASSERT_EQ(box->count(), 3);
    EXPECT_EQ(box->itemText(0), QStringLiteral("10.0.0.1"));
    EXPECT_EQ(box->itemText(1), QStringLiteral("10.0.0.2"));
    EXPECT_EQ(box->currentText(), QStringLiteral("10.0.0.1"));
    setAddress(QStringLiteral("10.0.0.9"));
    button("CmdQuit")->click();
    EXPECT_EQ(iplist::readLines(listFile, false),
              (QStringList{"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.9"}));
    QFile raw(listFile);
    ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
    EXPECT_EQ(raw.readAll(), QByteArray("10.0.0.1\r\n10.0.0.2\r\n10.0.0.3\r\n10.0.0.9\r\n"));
    EXPECT_EQ(
        platform::GetSetting(QStringLiteral("Pavane"), QStringLiteral("Settings"), QStringLiteral("IP")),
        QStringLiteral("10.0.0.9"));

    // An address already in the list is not added twice; closing the window saves too.
    openWindow();
    EXPECT_EQ(control<QComboBox>("txtIP")->itemText(0), QStringLiteral("10.0.0.9"));
    setAddress(QStringLiteral("10.0.0.2"));
    window->close();
    EXPECT_EQ(iplist::readLines(listFile, false),
              (QStringList{"10.0.0.9", "10.0.0.1", "10.0.0.2", "10.0.0.3"}));
}
