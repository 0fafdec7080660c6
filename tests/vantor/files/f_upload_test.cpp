#include "vantor/files/f_upload.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QTimer>
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
#include "vantor/common/status_bar.h"
#include "vantor/files/fce_browse.h"

using namespace std::chrono_literals;
using vantor::files::FCEBrowse;
using vantor::files::FUpload;
namespace mb = platform::ui::mb;

namespace {

QByteArray pattern(qsizetype size, int seed = 1) {
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 x = 2463534242u * static_cast<quint32>(seed);
    for (qsizetype i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = static_cast<char>(x);
    }
    return bytes;
}

QString writePcFile(const QString& folder, const QString& name, const QByteArray& contents) {
    const QString path = folder + QLatin1Char('/') + name;
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(contents);
    return path;
}

class UploadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::setTimeScale(0.05);
        device = testsupport::startDevice();
        ASSERT_TRUE(device);
        ASSERT_TRUE(host.connectTo(device->options().address));
        pc = testsupport::freshFolder(QStringLiteral("pc"));
        browser = std::make_unique<FCEBrowse>(host);
        upload = std::make_unique<FUpload>(host, *browser);
        upload->begin();
        upload->show();
    }
    void TearDown() override { platform::setTimeScale(1.0); }

    QByteArray deviceFile(const QString& path) {
        QFile f(*device->files().hostPath(path));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    void copy(const QString& source, const QString& dest) {
        upload->txtSource->setText(source);
        upload->txtDest->setText(dest);
        upload->cmdCopy->click();
    }

    std::unique_ptr<devsim::SimulatedDevice> device;
    testsupport::TestShellHost host;
    platform::ui::ScriptedDialogs dialogs;
    QString pc;
    std::unique_ptr<FCEBrowse> browser;
    std::unique_ptr<FUpload> upload;
};

TEST_F(UploadTest, FilesOfEveryBlockBoundaryArriveByteIdentical) {
    for (const qsizetype size :
         {qsizetype(0), qsizetype(1024), qsizetype(1025), qsizetype(3 * 1024 * 1024)}) {
        SCOPED_TRACE(size);
        const QByteArray contents = pattern(size, static_cast<int>(size) + 1);
        const QString name = QStringLiteral("f%1.bin").arg(size);
        copy(writePcFile(pc, name, contents), QStringLiteral("\\Temp\\"));
        ASSERT_TRUE(
            testsupport::waitForLog(device->log(), "copy: \\Temp\\" + name.toStdString() + " complete"));
        EXPECT_EQ(deviceFile(QStringLiteral("\\Temp\\") + name), contents);
    }
    EXPECT_TRUE(dialogs.boxes().empty()) << dialogs.boxTexts().join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(upload->cmdCopy->isEnabled());
    EXPECT_EQ(upload->cmdDone->text(), "Done");
    EXPECT_FALSE(upload->pbProgress->isVisible());
    EXPECT_EQ(upload->sbCopyMsg->panelText(1), "Ready");
}

TEST_F(UploadTest, DoneFromTheDeviceEndsTheTransferWithoutAMessage) {
    devsim::fileFaults(*device).doneAfterBlocks = 2;
    copy(writePcFile(pc, QStringLiteral("five.bin"), pattern(5000)), QStringLiteral("\\Temp\\five.bin"));
    EXPECT_TRUE(device->log().contains("done after 2 blocks"));
    EXPECT_EQ(dialogs.boxTexts(), QStringList());
    EXPECT_TRUE(upload->cmdCopy->isEnabled());
}

TEST_F(UploadTest, ExistingDestinationIsOverwrittenOnlyAfterYes) {
    const QString source = writePcFile(pc, QStringLiteral("new.txt"), "new contents");
    dialogs.answerNext(mb::No);
    copy(source, QStringLiteral("\\Readme.txt"));
    ASSERT_EQ(dialogs.boxes().size(), 1u);
    EXPECT_EQ(dialogs.boxes()[0].text, "File '\\Readme.txt' exists !\r\nDo you want to overwrite it ?");
    EXPECT_EQ(dialogs.boxes()[0].style, mb::YesNo | mb::Exclamation);
    EXPECT_TRUE(testsupport::waitForLog(device->log(), "stopped by the PC"));
    EXPECT_EQ(deviceFile(QStringLiteral("\\Readme.txt")), "Quillon 2000 simulated device\r\n");

    dialogs.answerNext(mb::Yes);
    copy(source, QStringLiteral("\\Readme.txt"));
    ASSERT_TRUE(testsupport::waitForLog(device->log(), "copy: \\Readme.txt complete"));
    EXPECT_EQ(deviceFile(QStringLiteral("\\Readme.txt")), "new contents");
}

TEST_F(UploadTest, PatternCopiesEveryFileAndAbortStopsAfterTheCurrentFileOnlyOnYes) {
    const QString folder = testsupport::freshFolder(QStringLiteral("many"));
    for (const char* n : {"a.txt", "b", "c.dat"})
        writePcFile(folder, QLatin1String(n), QByteArray(n) + " body");
    upload->txtSource->setText(folder + QStringLiteral("/*.*"));
    upload->txtDest->setText(QStringLiteral("\\Temp\\ignored.name"));
    upload->txtSource_LostFocus();
    EXPECT_EQ(upload->txtDest->text(), "\\Temp\\");
    // Abort pressed during the first file, the question answered No: everything is copied.
    QTimer::singleShot(0, upload->cmdDone, &QPushButton::click);
    dialogs.answerNext(mb::No);
    upload->cmdCopy->click();
    ASSERT_TRUE(testsupport::waitForLog(device->log(), "copy: \\Temp\\c.dat complete"));
    EXPECT_EQ(dialogs.boxTexts(), QStringList{"Are you sure to abort the transfer ?"});
    EXPECT_EQ(deviceFile(QStringLiteral("\\Temp\\b")), "b body");

    // Answered Yes: the copy ends after the current file.
    QDir(*device->files().hostPath(QStringLiteral("\\Temp"))).removeRecursively();
    QDir().mkpath(*device->files().hostPath(QStringLiteral("\\Temp")));
    dialogs.clear();
    QTimer::singleShot(0, upload->cmdDone, &QPushButton::click);
    dialogs.answerNext(mb::Yes);
    upload->cmdCopy->click();
    ASSERT_TRUE(testsupport::waitForLog(device->log(), "copy: \\Temp\\a.txt complete"));
    EXPECT_EQ(deviceFile(QStringLiteral("\\Temp\\b")), "<missing>");
    EXPECT_FALSE(upload->copyRunning());
    EXPECT_TRUE(upload->isVisible());
}

TEST_F(UploadTest, FailuresGetTheirMessages) {
    copy(QString(), QStringLiteral("\\Temp\\x"));
    copy(pc + QStringLiteral("/missing.bin"), QStringLiteral("\\Temp\\x"));
    const QString source = writePcFile(pc, QStringLiteral("s.bin"), pattern(4000));
    devsim::fileFaults(*device).answerError = true;
    copy(source, QStringLiteral("\\Temp\\x"));
    devsim::fileFaults(*device).answerError = false;
    // A device that falls silent during the transfer: the copy ends on its own.
    devsim::fileFaults(*device).silenceAfterBytes = 10;
    copy(source, QStringLiteral("\\Temp\\x"));
    EXPECT_EQ(
        dialogs.boxTexts(),
        (QStringList{"Missing source or destination file name !", "Unable to open file !",
                     "Error creating file !\r\nCan not copy file ! - aborted",
                     "*** No answer from the device for 30 seconds !\r\nCan not copy file ! - aborted"}));
    EXPECT_EQ(dialogs.boxes()[1].style, mb::Critical);
    EXPECT_EQ(deviceFile(QStringLiteral("\\Temp\\x")), "<missing>");
}

TEST_F(UploadTest, PickingASourceBeforeTheDeviceBrowserWasEverOpenedGivesTheBareFileName) {
    upload->txtDest->setText(QStringLiteral("\\Temp\\old.bin"));
    dialogs.answerNextFile(pc + QStringLiteral("/new.bin"));
    upload->cmdBrowse->click();
    EXPECT_EQ(upload->txtSource->text(), pc + QStringLiteral("/new.bin"));
    EXPECT_EQ(upload->txtDest->text(), "new.bin");
    // An empty destination stays empty.
    upload->txtDest->clear();
    dialogs.answerNextFile(pc + QStringLiteral("/other.bin"));
    upload->cmdBrowse->click();
    EXPECT_EQ(upload->txtDest->text(), "");
}

TEST_F(UploadTest, AssistiveToolsReadTheBoxesByTheirLabelsAndTheStatusAsShown) {
    const auto name = [](QObject* object) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(object);
        return accessible ? accessible->text(QAccessible::Name) : QStringLiteral("<none>");
    };
    EXPECT_EQ(name(upload->txtSource), "Source:");
    EXPECT_EQ(name(upload->txtDest), "Destination:");
    EXPECT_EQ(name(upload->cmdBrowse), "Browse PC files");
    EXPECT_EQ(name(upload->cmdCEBrowse), "Browse device folders");
    EXPECT_EQ(name(upload->sbCopyMsg->panel(1)), "Ready");
    // While a copy runs the panel names the file; read it while the overwrite question is open.
    const QString source = writePcFile(pc, QStringLiteral("a.bin"), pattern(10));
    copy(source, QStringLiteral("\\Temp\\a.bin"));
    ASSERT_TRUE(testsupport::waitForLog(device->log(), "copy: \\Temp\\a.bin complete"));
    QString duringCopy;
    dialogs.onBox(
        [&](const platform::ui::MessageBoxRequest&) { duringCopy = name(upload->sbCopyMsg->panel(1)); });
    dialogs.answerNext(mb::No);
    copy(source, QStringLiteral("\\Temp\\a.bin"));
    dialogs.onBox({});
    EXPECT_EQ(duringCopy, source);
    EXPECT_EQ(name(upload->sbCopyMsg->panel(1)), "Ready");
}

TEST_F(UploadTest, AShellErrorIsReportedAndDoneUnregisters) {
    EXPECT_EQ(host.subscriberCount(), 1);
    host.sckShell().SendData("nonsense\r\n");
    ASSERT_TRUE(host.waitForMessage("error"));
    EXPECT_EQ(dialogs.boxTexts(), QStringList{"*** Operation failed !"});
    upload->cmdDone->click();
    EXPECT_FALSE(upload->isVisible());
    EXPECT_EQ(host.subscriberCount(), 0);
    // The close box ends the registration too.
    upload->begin();
    upload->show();
    EXPECT_EQ(host.subscriberCount(), 1);
    EXPECT_TRUE(upload->close());
    EXPECT_FALSE(upload->isVisible());
    EXPECT_EQ(host.subscriberCount(), 0);
}

TEST(UploadWire, SendsTheCommandHandshakeAndFlaggedBlocksOneAtATime) {
    platform::ui::ScriptedDialogs dialogs;
    testsupport::CopyWire<FUpload> wire;
    ASSERT_TRUE(wire.connected);
    const QByteArray contents = pattern(1025);
    wire.window.txtSource->setText(
        writePcFile(testsupport::freshFolder(QStringLiteral("w")), QStringLiteral("f.bin"), contents));
    wire.window.txtDest->setText(QStringLiteral("\\Temp\\"));
    wire.window.chkExec->setChecked(true);
    wire.window.chkAutoStart->setChecked(true);
    // The device's side runs beside the window, which waits in its own event loop.
    std::thread device([&] {
        EXPECT_TRUE(wire.peer.waitForReceived("copy -x -a \\Temp\\f.bin\r\n", 0));
        ASSERT_TRUE(wire.peer.waitForConnections(2));
        wire.peer.send("exists\r\n", 1);
        EXPECT_TRUE(wire.peer.waitForReceived("continue\r\n", 1));
        wire.peer.send("ok\r\n", 1);
        EXPECT_TRUE(wire.peer.waitForReceived("continue\r\n1" + contents.left(1024), 1));
        // Nothing more goes out before the device's line.
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(wire.peer.received(1).size(), 10 + 1025);
        wire.peer.send("ok\r\n", 1);
        EXPECT_TRUE(
            wire.peer.waitForReceived("continue\r\n1" + contents.left(1024) + "0" + contents.mid(1024), 1));
        wire.peer.send("done\r\n", 1);
    });
    wire.window.cmdCopy->click();
    device.join();
    EXPECT_TRUE(wire.peer.waitForPeerClose(1));
    EXPECT_EQ(dialogs.boxTexts(),
              QStringList{"File '\\Temp\\f.bin' exists !\r\nDo you want to overwrite it ?"});
}

TEST(UploadWire, ACopyLongerThanTheLimitOfOneReplyGoesOnWhileEveryReplyComesInTime) {
    // Silence 1.5 s, one reply 3 s; 40 blocks answered 100 ms apart take four seconds in all.
    platform::setTimeScale(0.05);
    const auto restore = qScopeGuard([] { platform::setTimeScale(1.0); });
    platform::ui::ScriptedDialogs dialogs;
    testsupport::CopyWire<FUpload> wire;
    ASSERT_TRUE(wire.connected);
    const QByteArray contents = pattern(40 * 1024 - 10, 3);
    wire.window.txtSource->setText(
        writePcFile(testsupport::freshFolder(QStringLiteral("w")), QStringLiteral("f.bin"), contents));
    wire.window.txtDest->setText(QStringLiteral("\\Temp\\f.bin"));
    QByteArray expected;
    for (qsizetype at = 0; at < contents.size(); at += 1024)
        expected += (contents.size() - at > 1024 ? "1" : "0") + contents.mid(at, 1024);
    std::thread device([&] {
        ASSERT_TRUE(wire.peer.waitForConnections(2));
        wire.peer.send("new\r\nok\r\n", 1);
        for (qsizetype sent = 0; sent < expected.size();) {
            sent = std::min<qsizetype>(sent + 1025, expected.size());
            if (!wire.peer.waitForReceived(expected.left(sent), 1)) break;
            std::this_thread::sleep_for(100ms);
            wire.peer.send(sent < expected.size() ? "ok\r\n" : "done\r\n", 1);
        }
    });
    wire.window.cmdCopy->click();
    device.join();
    EXPECT_TRUE(dialogs.boxes().empty()) << dialogs.boxTexts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(wire.peer.received(1), expected);
    EXPECT_TRUE(wire.peer.waitForPeerClose(1));
}

// One upload of a 2000-byte file to a scripted device whose data-connection side is `play`; the time
// limits scaled down (silence 1.5 s, whole reply 3 s).
class UploadAgainstScript : public ::testing::Test {
  protected:
    void SetUp() override { platform::setTimeScale(0.05); }
    void TearDown() override { platform::setTimeScale(1.0); }

    void run(const std::function<void(testsupport::ScriptedPeer&)>& play) {
        const QString address = testsupport::uniqueLoopbackAddress();
        testsupport::ScriptedPeer peer(address, 4212);
        testsupport::TestShellHost host;
        ASSERT_TRUE(host.connectTo(address));
        FCEBrowse browser(host);
        FUpload upload(host, browser);
        upload.begin();
        upload.txtSource->setText(
            writePcFile(testsupport::freshFolder(QStringLiteral("s")), QStringLiteral("f.bin"), contents));
        upload.txtDest->setText(QStringLiteral("\\Temp\\f.bin"));
        std::thread device([&] {
            ASSERT_TRUE(peer.waitForConnections(2));
            play(peer);
        });
        upload.cmdCopy->click();
        device.join();
        dataClosed = peer.waitForPeerClose(1);
        received = peer.received(1);
    }

    const QByteArray contents = pattern(2000, 7);
    platform::ui::ScriptedDialogs dialogs;
    QByteArray received;
    bool dataClosed = false;
};

const QString kProtocolError =
    QStringLiteral("Communication error or file in use !\r\nCan not copy file ! - aborted");

TEST_F(UploadAgainstScript, HandshakeRepliesSplitAcrossReadsAreReadWhole) {
    dialogs.answerNext(mb::Yes);
    run([&](testsupport::ScriptedPeer& peer) {
        peer.send("exi", 1);
        std::this_thread::sleep_for(30ms);
        peer.send("sts\r", 1);
        std::this_thread::sleep_for(30ms);
        peer.send("\n", 1);
        EXPECT_TRUE(peer.waitForReceived("continue\r\n", 1));
        peer.send("o", 1);
        std::this_thread::sleep_for(30ms);
        peer.send("k\r\n", 1);
        EXPECT_TRUE(peer.waitForReceived("continue\r\n1" + contents.left(1024), 1));
        peer.send("o", 1);
        std::this_thread::sleep_for(30ms);
        peer.send("k\r\n", 1);
        EXPECT_TRUE(
            peer.waitForReceived("continue\r\n1" + contents.left(1024) + "0" + contents.mid(1024), 1));
        peer.send("done\r\n", 1);
    });
    EXPECT_EQ(dialogs.boxTexts(),
              QStringList{"File '\\Temp\\f.bin' exists !\r\nDo you want to overwrite it ?"});
    EXPECT_EQ(received, "continue\r\n1" + contents.left(1024) + "0" + contents.mid(1024));
}

TEST_F(UploadAgainstScript, ALineLongerThanAnyReplyEndsTheCopyAsAProtocolError) {
    run([&](testsupport::ScriptedPeer& peer) {
        peer.send("new\r\nok\r\n", 1);
        EXPECT_TRUE(peer.waitForReceived("1" + contents.left(1024), 1));
        peer.send(QByteArray(5000, 'x'), 1);
    });
    EXPECT_EQ(dialogs.boxTexts(), QStringList{kProtocolError});
    EXPECT_TRUE(dataClosed);
    EXPECT_EQ(received, "1" + contents.left(1024));
}

TEST_F(UploadAgainstScript, ADeviceThatTricklesBytesWithoutEndingItsLineIsCutOff) {
    // A byte every 100 ms keeps the 1.5 s silence limit from ever running out; the whole reply's limit
    // (3 s here) ends it. The device gives up by itself after 15 s, so a missing limit fails, not hangs.
    run([&](testsupport::ScriptedPeer& peer) {
        peer.send("new\r\nok\r\n", 1);
        EXPECT_TRUE(peer.waitForReceived("1" + contents.left(1024), 1));
        for (int i = 0; i < 150 && !peer.peerClosed(1); ++i) {
            peer.send("x", 1);
            std::this_thread::sleep_for(100ms);
        }
    });
    EXPECT_EQ(dialogs.boxTexts(), QStringList{kProtocolError});
    EXPECT_TRUE(dataClosed);
}

}  // namespace
