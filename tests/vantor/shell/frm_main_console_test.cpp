// The command line: history, restricted mode and its access code, echo, Show Log and boot.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "platform/ui/dialogs.h"
#include "platform/ui/time_scale.h"
#include "tests/support/device_fixture.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_environment.h"
#include "tests/vantor/shell/main_window_fixture.h"
#include "vantor/common/m_globals.h"
#include "vantor/common/status_bar.h"

using namespace vantortest;

namespace {
// A five-character word whose digest is the stored reference, found one character at a time: each
// character fixes the next two digits of the digest.
QByteArray findAccessCode() {
    const QString reference = vantor::frmMain::kAccessReference;
    std::function<bool(QByteArray&)> extend = [&](QByteArray& word) {
        if (word.size() == 5) return true;
        for (int c = 33; c < 127; ++c) {
            word.append(static_cast<char>(c));
            if (vantor::MGlobals::AccessDigest(word) == reference.left(word.size() * 2) && extend(word))
                return true;
            word.chop(1);
        }
        return false;
    };
    QByteArray word;
    return extend(word) ? word : QByteArray();
}

class Console : public MainWindowTest {
  protected:
    void connectToPeer() {
        address = testsupport::uniqueLoopbackAddress();
        peer = std::make_unique<testsupport::ScriptedPeer>(address, 4212);
        writeIpList(address.toLatin1() + "\r\n");
        open();
        doubleClick(0);
        ASSERT_TRUE(waitForStatus("Connected to " + address));
        ASSERT_TRUE(peer->waitForConnections(1));
    }
    // Everything the peer has received once `last` has arrived.
    QByteArray receivedThrough(const QByteArray& last) {
        EXPECT_TRUE(peer->waitForContains(last));
        return peer->received();
    }

    QString address;
    std::unique_ptr<testsupport::ScriptedPeer> peer;
};
}  // namespace

TEST_F(Console, EnteredLinesAreEchoedAndSentExactly) {
    connectToPeer();
    enterCommand("  echo  hi  ");
    enterCommand("   ");  // blanks only: nothing at all
    enterCommand("ver");
    EXPECT_EQ(receivedThrough("ver\r\n"), "echo  hi\r\nver\r\n");
    EXPECT_EQ(window->consoleText(), "< echo  hi\r\n< ver\r\n");
    EXPECT_EQ(logAfterStart(), "< echo  hi\r\n< ver\r\n");
    EXPECT_EQ(window->tbCmd->text(), "");
}

TEST_F(Console, RestrictedWordsShowHintsOrAreSwallowedAndTheAccessCodeToggles) {
    const QByteArray code = findAccessCode();
    ASSERT_EQ(code.size(), 5) << "no five-character word has the reference digest";
    connectToPeer();
    enterCommand("dir \\Windows");
    enterCommand("boot -w");
    enterCommand("copy a b");
    enterCommand("exit");
    enterCommand("fdir");
    enterCommand(vantor::frmMain::kAccessReference);
    enterCommand("Dir");
    EXPECT_EQ(
        dialogs.boxTexts(),
        (QStringList{
            "Please use Menu 'File/Directory View' \r\nto look for files on the CE device !",
            "Please use Menu 'Tools/Boot' to boot the CE device !",
            "Please use Menu 'File/Copy to CE' or\r\nButton 'File > CE' to copy files to the CE device !"}));
    EXPECT_EQ(dialogs.boxes()[0].style, platform::ui::mb::OkOnly | platform::ui::mb::Information);
    EXPECT_EQ(dialogs.boxes()[0].title, "Vantor");
    EXPECT_TRUE(window->restricted());

    // The code followed by more words: toggles, sends and echoes nothing.
    enterCommand(QString::fromLatin1(code) + " and more");
    EXPECT_FALSE(window->restricted());
    EXPECT_TRUE(window->mnuBCold->isVisible());
    EXPECT_TRUE(window->mnuBFlash->isVisible());
    EXPECT_FALSE(window->sbStatus->panel(1)->font().bold());
    enterCommand("dir \\Windows");
    enterCommand("exit");
    EXPECT_EQ(receivedThrough("exit\r\n"), "Dir\r\ndir \\Windows\r\nexit\r\n");
    EXPECT_EQ(window->consoleText(), "< Dir\r\n< dir \\Windows\r\n< exit\r\n");
    EXPECT_FALSE(window->consoleText().contains(code));
    EXPECT_FALSE(readProgramFile("qnLog.txt").contains(code));
    EXPECT_EQ(dialogs.boxes().size(), 3u);

    enterCommand(QString::fromLatin1(code));
    EXPECT_TRUE(window->restricted());
    EXPECT_FALSE(window->mnuBCold->isVisible());
    EXPECT_TRUE(window->sbStatus->panel(1)->font().bold());
}

TEST_F(Console, HistoryKeepsTheLastTenLines) {
    open();
    for (int i = 1; i <= 10; ++i) enterCommand(QString("line %1").arg(i));
    EXPECT_EQ(window->tbCmd->text(), "line 1");  // the oldest of the last ten
    pressKey(Qt::Key_Up);
    EXPECT_EQ(window->tbCmd->text(), "line 10");
    pressKey(Qt::Key_Up);
    EXPECT_EQ(window->tbCmd->text(), "line 9");
    pressKey(Qt::Key_Down);
    pressKey(Qt::Key_Down);
    EXPECT_EQ(window->tbCmd->text(), "line 1");
    // An eleventh line takes the oldest slot.
    enterCommand("line 11");
    EXPECT_EQ(window->tbCmd->text(), "line 2");
    pressKey(Qt::Key_Up);
    EXPECT_EQ(window->tbCmd->text(), "line 11");
    // The access code leaves an empty slot.
    const QByteArray code = findAccessCode();
    enterCommand(QString::fromLatin1(code));
    pressKey(Qt::Key_Up);
    EXPECT_EQ(window->tbCmd->text(), "");
}

TEST_F(Console, TheEnterThatClosesAHintBoxSendsNothing) {
    connectToPeer();
    QByteArray sent;
    for (int i = 0; i < 10; ++i) {
        enterCommand(QStringLiteral("cmd%1").arg(i));
        sent += "cmd" + QByteArray::number(i) + "\r\n";
    }
    EXPECT_EQ(receivedThrough("cmd9\r\n"), sent);

    // A real message box and real key events: Enter is pressed in the box, which closes on the press,
    // and released once the box is gone, where the focus went back to: the command line.
    platform::ui::setDialogs(nullptr);
    QString hint;
    bool released = false;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        closer.stop();
        hint = box->text();
        QTest::keyPress(box, Qt::Key_Return);
        QTimer::singleShot(0, window.get(), [&] {
            QTest::keyRelease(window->tbCmd, Qt::Key_Return);
            released = true;
        });
    });
    closer.start(5);
    window->tbCmd->setText(QStringLiteral("copy"));
    QTest::keyClick(window->tbCmd, Qt::Key_Return);
    platform::ui::setDialogs(&dialogs);
    EXPECT_EQ(hint,
              "Please use Menu 'File/Copy to CE' or\r\nButton 'File > CE' to copy files to the CE device !");
    EXPECT_EQ(window->tbCmd->text(), "cmd1");  // "copy" took the oldest slot; the next oldest shows
    ASSERT_TRUE(waitUntil([&] { return released; }));
    enterCommand(QStringLiteral("marker"));
    EXPECT_EQ(receivedThrough("marker\r\n"), sent + "marker\r\n");
}

TEST_F(Console, ShowLogEchoesAndAsksTheDevice) {
    connectToPeer();
    window->tbCmd->setText("half typed");
    window->cbLog->click();
    EXPECT_EQ(receivedThrough("log\r\n"), "log\r\n");
    EXPECT_EQ(window->consoleText(), "< log\r\n");
    EXPECT_EQ(window->tbCmd->text(), "");
    peer->send(QByteArray("Device log:\r\nline\r\n\0", 20));
    EXPECT_TRUE(waitUntil([&] { return logAfterStart() == "< log\r\nDevice log:\r\nline\r\n\r\n"; }));
}

TEST_F(Console, BootLeavesTheWindowDisconnectedWhatEverTheDeviceDoes) {
    // A device that ignores the command: the window disconnects itself after the pause.
    connectToPeer();
    window->mnuBWarm->trigger();
    EXPECT_EQ(receivedThrough("boot -w\r\n"), "boot -w\r\n");
    EXPECT_EQ(window->statusText(), "Disconnected !");
    EXPECT_EQ(window->connectedIndex(), -1);
    EXPECT_FALSE(deviceCommandsEnabled());
    EXPECT_TRUE(peer->waitForPeerClose());
    EXPECT_EQ(window->consoleText(), "");  // not echoed
}

TEST_F(Console, BootOfTheSimulatedDeviceEndsWithTheDevicesClose) {
    platform::setTimeScale(0.5);  // a pause long enough for the device to close first
    auto device = testsupport::startDevice();
    ASSERT_TRUE(device);
    writeIpList(device->options().address.toLatin1() + "\r\n");
    open();
    doubleClick(0);
    ASSERT_TRUE(waitForStatus("Connected to " + device->options().address));
    enterCommand(QString::fromLatin1(findAccessCode()));
    window->mnuBCold->trigger();
    EXPECT_EQ(window->statusText(), "Connection was closed");
    EXPECT_EQ(window->connectedIndex(), -1);
    EXPECT_EQ(device->bootCount(), 1);
    EXPECT_TRUE(device->log().contains("cold boot"));
}
