#include "merrow/frm_main.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "devsim/simulated_device.h"
#include "platform/net/socket_errors.h"
#include "platform/settings/settings_store.h"
#include "platform/ui/scripted_dialogs.h"
#include "platform/ui/wait.h"
#include "tests/devsim/shell_client.h"
#include "tests/support/accessible_names.h"
#include "tests/support/device_fixture.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_environment.h"

namespace merrow {
namespace {

using namespace std::chrono_literals;
using platform::ui::waitUntil;
using testsupport::ScriptedPeer;

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QByteArray numbered(qsizetype size) {
    QByteArray text(size, ' ');
    for (qsizetype i = 0; i < size; ++i) text[i] = static_cast<char>('a' + i % 26);
    return text;
}

class MerrowWindow : public ::testing::Test {
  protected:
    void SetUp() override { testsupport::resetFolders(); }

    std::unique_ptr<frmMain> openWindow() {
        auto window = std::make_unique<frmMain>();
        window->show();
        return window;
    }
    static bool connectTo(frmMain& window, const QString& host) {
        window.cbIPs->setEditText(host);
        QTest::mouseClick(window.cbConnect, Qt::LeftButton);
        return waitUntil([&] { return window.linkState() == 2; }, 30s);
    }
    static bool waitForFile(const QString& path, const QByteArray& contents) {
        return waitUntil([&] { return readFile(path) == contents; }, 30s);
    }
};

TEST_F(MerrowWindow, twentyMoreCharactersOnAFullPaneKeepItsTextFromTheTenThousandthOn) {
    const QString host = testsupport::uniqueLoopbackAddress();
    ScriptedPeer peer(host, 5151);
    auto window = openWindow();
    ASSERT_TRUE(connectTo(*window, host));
    EXPECT_EQ(window->lbPan1->text(), "Connected");
    ASSERT_TRUE(peer.waitForConnections(1));
    const QByteArray first = numbered(29990);
    peer.send(first);
    ASSERT_TRUE(waitUntil([&] { return window->paneText().size() == 29990; }, 30s));
    peer.send("ABCDEFGHIJKLMNOPQRST");
    const QByteArray expected = (first + "ABCDEFGHIJKLMNOPQRST").mid(9999);
    ASSERT_TRUE(waitUntil([&] { return window->paneText() == expected; }, 30s));
    // The widget catches up by itself.
    ASSERT_TRUE(
        waitUntil([&] { return window->tbMsgs->toPlainText() == QString::fromLatin1(expected); }, 30s));
    EXPECT_TRUE(window->tbMsgs->textCursor().atEnd());
    EXPECT_TRUE(peer.received(0).isEmpty());  // the viewer sends nothing
}

TEST_F(MerrowWindow, stopFreezesThePaneWhileTheStoreFileGetsEveryByte) {
    platform::ui::ScriptedDialogs dialogs;
    const QString folder = testsupport::freshFolder("store");
    const QString host = testsupport::uniqueLoopbackAddress();
    ScriptedPeer peer(host, 5151);
    auto window = openWindow();
    ASSERT_TRUE(connectTo(*window, host));
    ASSERT_TRUE(peer.waitForConnections(1));
    dialogs.answerNextFile(folder + "/a.log");
    QTest::mouseClick(window->cbSave, Qt::LeftButton);
    ASSERT_EQ(dialogs.fileDialogs().size(), 1u);
    EXPECT_EQ(dialogs.fileDialogs()[0].title, "Continuously save log as ...");
    EXPECT_EQ(dialogs.fileDialogs()[0].filter, "(*.log)|*.log");
    EXPECT_TRUE(dialogs.fileDialogs()[0].overwritePrompt);
    EXPECT_EQ(window->saveFileNo(), 1);

    peer.send("one\r\n");
    ASSERT_TRUE(waitForFile(folder + "/a.log", "one\r\n"));  // exactly the bytes, nothing added
    QTest::mouseClick(window->cbStop, Qt::LeftButton);
    EXPECT_TRUE(window->cbStop->isChecked());
    EXPECT_TRUE(window->cbStop->styleSheet().contains("#ff0000"));
    peer.send("two\r\n");
    ASSERT_TRUE(waitForFile(folder + "/a.log", "one\r\ntwo\r\n"));
    EXPECT_EQ(window->paneText(), "one\r\n");

    QTest::mouseClick(window->cbStop, Qt::LeftButton);
    EXPECT_TRUE(window->cbStop->styleSheet().contains("#c0c0c0"));
    peer.send("three");
    ASSERT_TRUE(waitUntil([&] { return window->paneText() == "one\r\nthree"; }, 30s));
}

TEST_F(MerrowWindow, choosingAnotherStoreFileSwitchesToItAndCancelKeepsTheOpenOne) {
    platform::ui::ScriptedDialogs dialogs;
    const QString folder = testsupport::freshFolder("switch");
    {
        QFile old(folder + "/b.log");
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old contents");
    }
    const QString host = testsupport::uniqueLoopbackAddress();
    ScriptedPeer peer(host, 5151);
    auto window = openWindow();
    ASSERT_TRUE(connectTo(*window, host));
    ASSERT_TRUE(peer.waitForConnections(1));
    dialogs.answerNextFile(folder + "/a.log");
    window->cbSave_Click();
    peer.send("x1");
    ASSERT_TRUE(waitForFile(folder + "/a.log", "x1"));
    dialogs.answerNextFile(folder + "/b.log");
    window->cbSave_Click();
    peer.send("y2");
    ASSERT_TRUE(waitForFile(folder + "/b.log", "y2"));  // opened anew
    dialogs.cancelNextFile();
    window->cbSave_Click();
    peer.send("z3");
    ASSERT_TRUE(waitForFile(folder + "/b.log", "y2z3"));
    EXPECT_EQ(readFile(folder + "/a.log"), "x1");
    EXPECT_TRUE(dialogs.boxes().empty());

    // A file that can't be written is reported, and saving stops.
    dialogs.answerNextFile(folder + "/missing/folder/c.log");
    window->cbSave_Click();
    ASSERT_EQ(dialogs.boxes().size(), 1u);
    EXPECT_TRUE(dialogs.boxes()[0].text.startsWith("Couldn't open for continuous saving:"));
    EXPECT_EQ(window->saveFileNo(), 0);
}

TEST_F(MerrowWindow, aSnapshotHoldsThePaneTextAndALineEnd) {
    platform::ui::ScriptedDialogs dialogs;
    const QString folder = testsupport::freshFolder("snap");
    const QString host = testsupport::uniqueLoopbackAddress();
    ScriptedPeer peer(host, 5151);
    auto window = openWindow();
    ASSERT_TRUE(connectTo(*window, host));
    ASSERT_TRUE(peer.waitForConnections(1));
    peer.send("hello\r\nworld");
    ASSERT_TRUE(waitUntil([&] { return window->paneText() == "hello\r\nworld"; }, 30s));

    dialogs.answerNextFile(folder + "/snap.txt");
    QTest::mouseClick(window->cbSnapshot, Qt::LeftButton);
    ASSERT_EQ(dialogs.fileDialogs().size(), 1u);
    EXPECT_EQ(dialogs.fileDialogs()[0].title, "Save current log windows contents as ...");
    EXPECT_EQ(dialogs.fileDialogs()[0].filter, "(*.txt)|*.txt");
    EXPECT_EQ(readFile(folder + "/snap.txt"), "hello\r\nworld\r\n");

    dialogs.cancelNextFile();
    QTest::mouseClick(window->cbSnapshot, Qt::LeftButton);
    EXPECT_TRUE(dialogs.boxes().empty());

    dialogs.answerNextFile(folder + "/missing/folder/snap.txt");
    QTest::mouseClick(window->cbSnapshot, Qt::LeftButton);
    ASSERT_EQ(dialogs.boxes().size(), 1u);
    EXPECT_TRUE(dialogs.boxes()[0].text.startsWith("Couldn't save the snapshot to"));

    QTest::mouseClick(window->cbClrAnswer, Qt::LeftButton);
    EXPECT_TRUE(window->paneText().isEmpty());
    EXPECT_TRUE(window->tbMsgs->toPlainText().isEmpty());
}

TEST_F(MerrowWindow, aDeviceThatClosesTheStreamLeavesTheLinkIdleAndTheStatusAsItWas) {
    const QString host = testsupport::uniqueLoopbackAddress();
    ScriptedPeer peer(host, 5151);
    auto window = openWindow();
    ASSERT_TRUE(connectTo(*window, host));
    ASSERT_TRUE(peer.waitForConnections(1));
    peer.send("bye\r\n");
    peer.close(0);
    ASSERT_TRUE(waitUntil([&] { return window->linkState() == 0; }, 30s));
    EXPECT_EQ(window->lbPan1->text(), "Connected");
    EXPECT_EQ(window->cbConnect->text(), "Disconnect");
    EXPECT_FALSE(window->cbIPs->isEnabled());
    EXPECT_TRUE(waitUntil([&] { return !window->Timer1.isActive(); }, 30s));
    QTest::mouseClick(window->cbConnect, Qt::LeftButton);
    EXPECT_EQ(window->lbPan1->text(), "Disonnected");
    EXPECT_TRUE(window->cbIPs->isEnabled());
}

TEST_F(MerrowWindow, aRefusedConnectionShowsTheSocketError) {
    auto window = openWindow();
    window->cbIPs->setEditText(testsupport::uniqueLoopbackAddress());
    QTest::mouseClick(window->cbConnect, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return window->lbPan1->text().startsWith("Winsock Error: "); }, 30s));
    EXPECT_EQ(window->lbPan1->text(), "Winsock Error: " + platform::net::describeSocketError(
                                                              platform::net::sckerr::ConnectionRefused));
    EXPECT_EQ(window->linkState(), 0);
}

TEST_F(MerrowWindow, exitStoresListAndAddressUnlessMinimized) {
    const QString listFile = testsupport::programDir() + "/qnIPs.txt";
    const QString host = testsupport::uniqueLoopbackAddress();
    ScriptedPeer peer(host, 5151);
    {
        auto window = openWindow();
        EXPECT_EQ(window->cbIPs->count(), 0);
        EXPECT_EQ(window->cbIPs->lineEdit()->placeholderText(), "Edit IP Adr here");
        ASSERT_TRUE(connectTo(*window, host));
        window->showMinimized();
        window->close();
    }
    EXPECT_FALSE(QFile::exists(listFile));
    EXPECT_TRUE(platform::GetSetting("Merrow", "Settings", "IP").isEmpty());
    {
        auto window = openWindow();
        ASSERT_TRUE(connectTo(*window, host));
        QTest::mouseClick(window->cbExit, Qt::LeftButton);
    }
    EXPECT_EQ(readFile(listFile), host.toLatin1() + "\r\n");
    EXPECT_EQ(platform::GetSetting("Merrow", "Settings", "IP"), host);
    EXPECT_FALSE(platform::GetSetting("Merrow", "Settings", "MainHeight").isEmpty());
    auto again = openWindow();
    EXPECT_EQ(again->cbIPs->currentText(), host);
}

TEST_F(MerrowWindow, showsWhatTheSimulatedDeviceDoes) {
    auto device = testsupport::startDevice();
    ASSERT_TRUE(device);
    auto window = openWindow();
    ASSERT_TRUE(connectTo(*window, device->options().address));
    testsupport::ShellClient shell;
    ASSERT_TRUE(shell.connectTo(device->options().address));
    shell.sendLine("echo from the shell");
    EXPECT_TRUE(waitUntil([&] { return window->paneText().contains("< echo from the shell\r\n"); }, 30s))
        << window->paneText().toStdString();
}

TEST_F(MerrowWindow, theResizeRuleKeepsThePanelAtTheBottomAndThePaneBetween) {
    auto window = openWindow();
    window->resize(800, 600);
    QTest::qWait(10);
    EXPECT_EQ(window->frmPanel->geometry().bottom() + 1, 600);
    EXPECT_EQ(window->tbMsgs->width(), 800 - 16);
    EXPECT_LT(window->tbMsgs->geometry().bottom(), window->frmPanel->y());
    EXPECT_GT(window->tbMsgs->y(), window->frmServer->geometry().bottom());
}

TEST_F(MerrowWindow, assistiveToolsReadTheStatusAsShownAndEveryControlInPlainWords) {
    auto device = testsupport::startDevice();
    ASSERT_TRUE(device);
    auto window = openWindow();
    ASSERT_TRUE(connectTo(*window, device->options().address));
    ASSERT_TRUE(waitUntil([&] { return window->lbPan1->text() == "Connected"; }, 30s));
    EXPECT_EQ(testsupport::accessibleName(window->lbPan1), "Connected");
    EXPECT_EQ(testsupport::accessibleName(window->cbIPs->lineEdit()), "Server address");
    EXPECT_EQ(testsupport::accessibleName(window->tbMsgs), "Debug messages");
    EXPECT_EQ(testsupport::controlsNamedByCodeName(window.get()), QStringList());
}

}  // namespace
}  // namespace merrow
