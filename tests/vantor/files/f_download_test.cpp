#include "vantor/files/f_download.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <functional>
#include <thread>

#include "devsim/file_commands.h"
#include "devsim/file_faults.h"
#include "platform/ui/scripted_dialogs.h"
#include "platform/ui/time_scale.h"
#include "tests/support/device_fixture.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_environment.h"
#include "tests/vantor/files/copy_wire.h"
#include "tests/vantor/files/test_shell_host.h"
#include "vantor/files/fce_browse.h"

using namespace std::chrono_literals;
using vantor::files::FCEBrowse;
using vantor::files::FDownload;
namespace mb = platform::ui::mb;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& contents) {
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(contents);
}

class DownloadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::setTimeScale(0.05);
        device = testsupport::startDevice();
        ASSERT_TRUE(device);
        ASSERT_TRUE(host.connectTo(device->options().address));
        pc = testsupport::freshFolder(QStringLiteral("pc"));
        browser = std::make_unique<FCEBrowse>(host);
        download = std::make_unique<FDownload>(host, *browser);
        download->begin();
        download->show();
    }
    void TearDown() override { platform::setTimeScale(1.0); }

    void putOnDevice(const QString& path, const QByteArray& contents) {
        writeFile(*device->files().hostPath(path), contents);
    }
    void copy(const QString& source, const QString& dest) {
        download->txtSource->setText(source);
        download->txtDest->setText(dest);
        download->cmdCopy->click();
    }
    QStringList pcFiles() const { return QDir(pc).entryList(QDir::Files | QDir::Hidden); }

    std::unique_ptr<devsim::SimulatedDevice> device;
    testsupport::TestShellHost host;
    platform::ui::ScriptedDialogs dialogs;
    QString pc;
    std::unique_ptr<FCEBrowse> browser;
    std::unique_ptr<FDownload> download;
};

TEST_F(DownloadTest, CopiesFilesOfAnySizeIntoTheChosenFolderUnderTheDeviceName) {
    QByteArray big(3 * 1024 * 1024 + 17, Qt::Uninitialized);
    for (qsizetype i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 131) >> 3);
    putOnDevice(QStringLiteral("\\Temp\\big.bin"), big);
    putOnDevice(QStringLiteral("\\Temp\\empty.txt"), {});
    copy(QStringLiteral("\\Temp\\big.bin"), pc + QStringLiteral("/"));
    copy(QStringLiteral("\\Temp\\empty.txt"), pc + QStringLiteral("/zero.txt"));
    EXPECT_TRUE(dialogs.boxes().empty()) << dialogs.boxTexts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(readAll(pc + QStringLiteral("/big.bin")), big);
    EXPECT_EQ(readAll(pc + QStringLiteral("/zero.txt")), QByteArray());
    EXPECT_EQ(pcFiles(), (QStringList{"big.bin", "zero.txt"}));
    EXPECT_EQ(download->cmdDone->text(), "Done");
    EXPECT_FALSE(download->pbProgress->isVisible());
    EXPECT_EQ(download->windowTitle(), "FPCBrowse");
}

TEST_F(DownloadTest, OverwritingALongerFileAfterYesLeavesExactlyTheNewBytes) {
    putOnDevice(QStringLiteral("\\Temp\\short.txt"), QByteArray(100, 's'));
    const QString dest = pc + QStringLiteral("/long.txt");
    writeFile(dest, QByteArray(10000, 'L'));
    dialogs.answerNext(mb::No);
    copy(QStringLiteral("\\Temp\\short.txt"), dest);
    EXPECT_EQ(readAll(dest).size(), 10000);
    EXPECT_FALSE(device->log().contains("< getfile"));
    copy(QStringLiteral("\\Temp\\short.txt"), dest);
    EXPECT_EQ(readAll(dest), QByteArray(100, 's'));
    EXPECT_EQ(dialogs.boxTexts(),
              QStringList(2, "Destination file exists\r\nAre you sure to overwrite the existing file ?"));
}

TEST_F(DownloadTest, ADeviceThatClosesHalfwayLeavesTheOldFileUntouchedAndNoPartialFile) {
    putOnDevice(QStringLiteral("\\Temp\\data.bin"), QByteArray(50000, 'n'));
    const QString dest = pc + QStringLiteral("/data.bin");
    writeFile(dest, "old contents");
    devsim::fileFaults(*device).closeAfterBytes = 20000;
    copy(QStringLiteral("\\Temp\\data.bin"), dest);
    ASSERT_EQ(dialogs.boxes().size(), 2u);
    EXPECT_TRUE(dialogs.boxes()[1].text.startsWith("*** The device closed the connection after"));
    EXPECT_TRUE(dialogs.boxes()[1].text.endsWith("The destination file was not changed."));
    EXPECT_EQ(readAll(dest), "old contents");
    EXPECT_EQ(pcFiles(), QStringList{"data.bin"});
}

TEST_F(DownloadTest, SilenceAndShellErrorsEndTheReceiveLoopWithoutAFile) {
    putOnDevice(QStringLiteral("\\Temp\\data.bin"), QByteArray(50000, 'n'));
    devsim::fileFaults(*device).silenceAfterBytes = 9000;
    copy(QStringLiteral("\\Temp\\data.bin"), pc + QStringLiteral("/a.bin"));
    ASSERT_EQ(dialogs.boxes().size(), 1u);
    // The size line counts among the bytes the device sent before it fell silent.
    EXPECT_TRUE(
        dialogs.boxes()[0].text.startsWith("*** No data from the device for 30 seconds after 8988 of 50000"));
    devsim::fileFaults(*device).silenceAfterBytes = -1;
    devsim::fileFaults(*device).shellErrorAfterBytes = 9000;
    dialogs.clear();
    copy(QStringLiteral("\\Temp\\data.bin"), pc + QStringLiteral("/b.bin"));
    ASSERT_EQ(dialogs.boxes().size(), 1u);
    EXPECT_TRUE(dialogs.boxes()[0].text.endsWith("failed on the device\r\n\r\n*** Operation failed !"));
    EXPECT_EQ(dialogs.boxes()[0].style, mb::Critical);
    EXPECT_TRUE(pcFiles().isEmpty());
}

TEST_F(DownloadTest, DestinationChecksComeBeforeAnythingIsSent) {
    const QString locked = pc + QStringLiteral("/locked.txt");
    writeFile(locked, "keep");
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::ReadGroup);
    copy(QStringLiteral("\\Readme.txt"), locked);
    copy(QStringLiteral("\\Readme.txt"), QString());
    QDir(pc).mkdir(QStringLiteral("folder"));
    copy(QStringLiteral("\\Readme.txt"), pc + QStringLiteral("/folder"));
    copy(QStringLiteral("\\Temp\\.."), pc + QStringLiteral("/"));
    EXPECT_EQ(dialogs.boxTexts(),
              (QStringList{"Destination is write protected", "Missing source or destination file name !",
                           "Destination not accessible !", "Destination is not a valid file name !"}));
    EXPECT_EQ(readAll(locked), "keep");
    EXPECT_FALSE(device->log().contains("< getfile"));
}

TEST_F(DownloadTest, MissingDeviceFileGivesTheOperationFailedMessage) {
    copy(QStringLiteral("\\Temp\\nothing.bin"), pc + QStringLiteral("/n.bin"));
    EXPECT_EQ(dialogs.boxTexts(), QStringList{"*** Operation failed !\r\nFile not found, in use or empty !"});
    EXPECT_TRUE(pcFiles().isEmpty());
}

TEST(DownloadWire, DataInThePieceOfTheSizeLineIsWrittenFirstAndEachBatchIsAcknowledged) {
    platform::ui::ScriptedDialogs dialogs;
    testsupport::CopyWire<FDownload> wire;
    ASSERT_TRUE(wire.connected);
    const QString dest = testsupport::freshFolder(QStringLiteral("w")) + QStringLiteral("/f.txt");
    wire.window.txtSource->setText(QStringLiteral("\\f.txt"));
    wire.window.txtDest->setText(dest);
    std::thread device([&] {
        EXPECT_TRUE(wire.peer.waitForReceived("getfile \\f.txt\r\n", 0));
        ASSERT_TRUE(wire.peer.waitForConnections(2));
        wire.peer.send("size 11\r\nhello", 1);
        EXPECT_TRUE(wire.peer.waitForReceived("ack\r\n", 1));
        wire.peer.send(" world", 1);
    });
    wire.window.cmdCopy->click();
    device.join();
    EXPECT_TRUE(wire.peer.waitForReceived("ack\r\nack\r\n", 1));
    EXPECT_EQ(readAll(dest), "hello world");
    EXPECT_TRUE(wire.peer.waitForPeerClose(1));
    EXPECT_TRUE(dialogs.boxes().empty());
}

TEST(DownloadWire, ACopyLongerThanTheLimitOfOneReplyGoesOnWhileEveryPieceComesInTime) {
    // Silence 1.5 s, one reply 3 s; 40 pieces sent 100 ms after each "ack" take four seconds in all.
    platform::setTimeScale(0.05);
    const auto restore = qScopeGuard([] { platform::setTimeScale(1.0); });
    platform::ui::ScriptedDialogs dialogs;
    testsupport::CopyWire<FDownload> wire;
    ASSERT_TRUE(wire.connected);
    const QString dest = testsupport::freshFolder(QStringLiteral("w")) + QStringLiteral("/f.bin");
    wire.window.txtSource->setText(QStringLiteral("\\f.bin"));
    wire.window.txtDest->setText(dest);
    QByteArray contents;
    for (int i = 0; i < 40; ++i) contents += QByteArray(100, static_cast<char>('A' + i));
    std::thread device([&] {
        ASSERT_TRUE(wire.peer.waitForConnections(2));
        wire.peer.send("size 4000\r\n" + contents.left(100), 1);
        for (int piece = 1; piece < 40; ++piece) {
            if (!wire.peer.waitForReceived(QByteArray("ack\r\n").repeated(piece), 1)) break;
            std::this_thread::sleep_for(100ms);
            wire.peer.send(contents.mid(piece * 100, 100), 1);
        }
    });
    wire.window.cmdCopy->click();
    device.join();
    EXPECT_TRUE(dialogs.boxes().empty()) << dialogs.boxTexts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(readAll(dest), contents);
    EXPECT_TRUE(wire.peer.waitForReceived(QByteArray("ack\r\n").repeated(40), 1));
}

TEST(DownloadWire, ASizeOfZeroEndsAtOnceWithAnEmptyFile) {
    platform::ui::ScriptedDialogs dialogs;
    testsupport::CopyWire<FDownload> wire;
    ASSERT_TRUE(wire.connected);
    const QString dest = testsupport::freshFolder(QStringLiteral("z")) + QStringLiteral("/z.txt");
    wire.window.txtSource->setText(QStringLiteral("\\z.txt"));
    wire.window.txtDest->setText(dest);
    std::thread device([&] {
        ASSERT_TRUE(wire.peer.waitForConnections(2));
        wire.peer.send("filesize 0\r\n", 1);
    });
    wire.window.cmdCopy->click();
    device.join();
    EXPECT_EQ(readAll(dest), QByteArray());
    EXPECT_TRUE(dialogs.boxes().empty());
}

// One download of "\f.txt" from a scripted device whose data-connection side is `play`; the bytes that
// ended up in the destination file ("<missing>" when there is none).
QByteArray downloadFromScript(const std::function<void(testsupport::ScriptedPeer&)>& play,
                              platform::ui::ScriptedDialogs& dialogs) {
    static int run = 0;
    testsupport::CopyWire<FDownload> wire;
    EXPECT_TRUE(wire.connected);
    const QString dest =
        testsupport::freshFolder(QStringLiteral("d%1").arg(++run)) + QStringLiteral("/f.txt");
    wire.window.txtSource->setText(QStringLiteral("\\f.txt"));
    wire.window.txtDest->setText(dest);
    std::thread device([&] {
        ASSERT_TRUE(wire.peer.waitForConnections(2));
        play(wire.peer);
    });
    wire.window.cmdCopy->click();
    device.join();
    EXPECT_TRUE(dialogs.boxes().empty()) << dialogs.boxTexts().join(QLatin1Char('|')).toStdString();
    return readAll(dest);
}

TEST(DownloadWire, ASizeLineInPiecesIsReadWholeAndWhatFollowsItIsFileData) {
    platform::ui::ScriptedDialogs dialogs;
    // Cut inside the number, and between the CR and its LF.
    EXPECT_EQ(downloadFromScript(
                  [](testsupport::ScriptedPeer& peer) {
                      peer.send("size 1", 1);
                      std::this_thread::sleep_for(30ms);
                      peer.send("1\r\nhello world", 1);
                  },
                  dialogs),
              "hello world");
    EXPECT_EQ(downloadFromScript(
                  [](testsupport::ScriptedPeer& peer) {
                      peer.send("size 11\r", 1);
                      std::this_thread::sleep_for(30ms);
                      peer.send("\nhello world", 1);
                  },
                  dialogs),
              "hello world");
}

TEST(DownloadWire, BytesPastTheAnnouncedSizeAreNotPartOfTheFile) {
    platform::ui::ScriptedDialogs dialogs;
    EXPECT_EQ(downloadFromScript(
                  [](testsupport::ScriptedPeer& peer) { peer.send("size 5\r\nhelloEXTRA", 1); }, dialogs),
              "hello");
    EXPECT_EQ(downloadFromScript(
                  [](testsupport::ScriptedPeer& peer) {
                      peer.send("size 5\r\n", 1);
                      std::this_thread::sleep_for(30ms);
                      peer.send("helloEXTRA", 1);
                  },
                  dialogs),
              "hello");
}

}  // namespace
