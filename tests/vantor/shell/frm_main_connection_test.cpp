// The device list and the shell connection of the main window.
#include <QAccessible>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "platform/files/program_dir.h"
#include "platform/net/tcp_client.h"
#include "tests/support/device_fixture.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_environment.h"
#include "tests/vantor/shell/main_window_fixture.h"
#include "vantor/common/status_bar.h"

using namespace vantortest;

namespace {
QStringList entries(const vantor::frmMain& window) {
    QStringList list;
    for (int i = 0; i < window.lbIPs->count(); ++i) list << window.lbIPs->item(i)->text();
    return list;
}
}  // namespace

using IpList = MainWindowTest;
using ShellConnection = MainWindowTest;

TEST_F(IpList, AddTrimsBlanksSkipsDuplicatesAndSavesEveryTime) {
    writeIpList("10.0.0.1\r\n");
    open();
    EXPECT_FALSE(window->cmdAdd->isEnabled());
    window->txtNewIP->setText("   device-a  ");
    EXPECT_TRUE(window->cmdAdd->isEnabled());
    window->cmdAdd->click();
    window->txtNewIP->setText("device-a");
    window->cmdAdd->click();
    window->txtNewIP->setText("Device-A");  // letter case makes another host
    window->cmdAdd->click();
    window->txtNewIP->setText("    ");
    window->cmdAdd->click();
    EXPECT_EQ(entries(*window), (QStringList{"10.0.0.1", "device-a", "Device-A"}));
    EXPECT_EQ(readProgramFile("qnIPs.txt"), "10.0.0.1\r\ndevice-a\r\nDevice-A\r\n");
}

TEST_F(IpList, LoadingStopsAtTheFirstEmptyLineAndTheNextSaveDropsTheRest) {
    writeIpList("host1\r\nhost2\r\n\r\nhost4\r\n");
    open();
    EXPECT_EQ(entries(*window), (QStringList{"host1", "host2"}));
    click(0);
    EXPECT_EQ(window->txtNewIP->text(), "host1");
    EXPECT_TRUE(window->cmdDel->isEnabled());
    window->cmdDel->click();
    EXPECT_EQ(entries(*window), QStringList{"host2"});
    EXPECT_EQ(window->txtNewIP->text(), "");
    EXPECT_FALSE(window->cmdDel->isEnabled());
    EXPECT_EQ(readProgramFile("qnIPs.txt"), "host2\r\n");
}

TEST_F(IpList, DisconnectEntryIsNeitherSavedNorRemoved) {
    writeIpList("host1\r\n");
    open();
    window->txtNewIP->setText("disconnect");
    window->cmdAdd->click();
    EXPECT_EQ(readProgramFile("qnIPs.txt"), "host1\r\n");
    click(1);
    EXPECT_EQ(window->txtNewIP->text(), "");
    window->cmdDel->click();
    EXPECT_EQ(entries(*window), (QStringList{"host1", "disconnect"}));
}

TEST_F(IpList, MissingOrGarbageFileLoadsWhatItCan) {
    open();
    EXPECT_EQ(window->lbIPs->count(), 0);
    EXPECT_TRUE(dialogs.boxes().empty());
    window.reset();
    static const char raw[] = "ok-host\r\n\x01\xff\xfe binary\x00junk\rmore\n";
    QByteArray garbage(raw, sizeof raw - 1);
    garbage += QByteArray(100000, '\xaa');
    writeIpList(garbage);
    open();
    EXPECT_GE(window->lbIPs->count(), 2);
    EXPECT_EQ(window->lbIPs->item(0)->text(), "ok-host");
}

TEST_F(IpList, UnwritableFileGivesTheThreeLineMessageAndKeepsTheList) {
    writeIpList("host1\r\n");
    open();
    // A folder in the file's place can't be replaced by a file.
    QFile::remove(platform::programFile("qnIPs.txt"));
    QDir().mkpath(platform::programFile("qnIPs.txt"));
    window->txtNewIP->setText("host2");
    window->cmdAdd->click();
    EXPECT_EQ(dialogs.boxTexts(),
              QStringList{"Couldn't save IP number list !\r\nPlease make sure, that the file\r\n"
                          "is not write protected."});
    EXPECT_EQ(entries(*window), (QStringList{"host1", "host2"}));
}

TEST_F(ShellConnection, DoubleClickConnectsAndASecondOneSaysAlreadyConnected) {
    auto device = testsupport::startDevice();
    ASSERT_TRUE(device);
    const QString address = device->options().address;
    writeIpList(address.toLatin1() + "\r\n");
    open();
    EXPECT_FALSE(deviceCommandsEnabled());
    doubleClick(0);
    EXPECT_EQ(window->statusText(), "Connecting to " + address + "...");
    EXPECT_EQ(window->connectedIndex(), 0);
    ASSERT_TRUE(waitForStatus("Connected to " + address));
    EXPECT_TRUE(deviceCommandsEnabled());
    EXPECT_EQ(window->HostIP(), address);
    EXPECT_EQ(window->HostPort(), 4212);

    doubleClick(0);
    EXPECT_EQ(dialogs.boxTexts(), QStringList{"Already connected to this host"});
    EXPECT_EQ(window->sckShell().state(), platform::net::TcpClient::Connected);
    EXPECT_EQ(window->statusText(), "Connected to " + address);
}

TEST_F(ShellConnection, AssistiveToolsReadTheStatusAsShownAndPlainNamesForTheEdits) {
    const QString address = testsupport::uniqueLoopbackAddress();
    testsupport::ScriptedPeer peer(address, 4212);
    writeIpList(address.toLatin1() + "\r\n");
    open();
    doubleClick(0);
    ASSERT_TRUE(waitForStatus("Connected to " + address));
    const auto name = [](QObject* object) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(object);
        return accessible ? accessible->text(QAccessible::Name) : QStringLiteral("<none>");
    };
    EXPECT_EQ(name(window->sbStatus->panel(1)), "Connected to " + address);
    EXPECT_EQ(name(window->txtNewIP), "New device address");
    EXPECT_EQ(name(window->tbCmd), "Command");
    EXPECT_EQ(name(window->cmdDisconnect), "Disconnect");
    // Code and tests keep finding the controls by their names.
    EXPECT_EQ(window->sbStatus->objectName(), "sbStatus");
    EXPECT_EQ(window->tbCmd->objectName(), "tbCmd");
}

TEST_F(ShellConnection, SwitchingHostsClosesTheFirstAndKeepsCommandsEnabled) {
    const QString first = testsupport::uniqueLoopbackAddress();
    const QString second = testsupport::uniqueLoopbackAddress();
    testsupport::ScriptedPeer a(first, 4212), b(second, 4212);
    writeIpList((first + "\r\n" + second + "\r\n").toLatin1());
    open();
    doubleClick(0);
    ASSERT_TRUE(waitForStatus("Connected to " + first));
    ASSERT_TRUE(a.waitForConnections(1));
    doubleClick(1);
    EXPECT_EQ(window->statusText(), "Connecting to " + second + "...");
    EXPECT_TRUE(deviceCommandsEnabled());
    ASSERT_TRUE(waitForStatus("Connected to " + second));
    EXPECT_TRUE(a.waitForPeerClose());
    EXPECT_EQ(window->connectedIndex(), 1);
}

TEST_F(IpList, ChoosingAnEntryWithTheKeyboardSelectsItAsAClickDoes) {
    writeIpList("10.0.0.1\r\n10.0.0.2\r\n");
    open();
    window->lbIPs->setFocus();
    QTest::keyClick(window->lbIPs, Qt::Key_Down);
    QTest::keyClick(window->lbIPs, Qt::Key_Down);
    EXPECT_EQ(window->lbIPs->currentRow(), 1);
    EXPECT_EQ(window->txtNewIP->text(), "10.0.0.2");
    EXPECT_TRUE(window->cmdDel->isEnabled());
    QTest::keyClick(window->lbIPs, Qt::Key_Up);
    EXPECT_EQ(window->txtNewIP->text(), "10.0.0.1");
}

TEST_F(ShellConnection, DeletingTheConnectedEntryLeavesNoEntryMarkedConnected) {
    const QString first = testsupport::uniqueLoopbackAddress();
    const QString second = testsupport::uniqueLoopbackAddress();
    testsupport::ScriptedPeer a(first, 4212), b(second, 4212);
    writeIpList((first + "\r\n" + second + "\r\n").toLatin1());
    open();
    doubleClick(0);
    ASSERT_TRUE(waitForStatus("Connected to " + first));
    click(0);
    window->cmdDel->click();
    EXPECT_EQ(entries(*window), QStringList{second});
    EXPECT_EQ(window->connectedIndex(), -1);
    // The entry that moved up is another host: a double-click connects to it.
    doubleClick(0);
    EXPECT_EQ(dialogs.boxTexts(), QStringList());
    ASSERT_TRUE(waitForStatus("Connected to " + second));
    EXPECT_TRUE(a.waitForPeerClose());
    EXPECT_EQ(window->connectedIndex(), 0);
}

TEST_F(ShellConnection, DisconnectButtonReturnsToIdle) {
    const QString address = testsupport::uniqueLoopbackAddress();
    testsupport::ScriptedPeer peer(address, 4212);
    writeIpList(address.toLatin1() + "\r\n");
    open();
    doubleClick(0);
    ASSERT_TRUE(waitForStatus("Connected to " + address));
    window->cmdDisconnect->click();
    EXPECT_EQ(window->statusText(), "Disconnected !");
    EXPECT_EQ(window->connectedIndex(), -1);
    EXPECT_FALSE(deviceCommandsEnabled());
    EXPECT_EQ(window->txtNewIP->text(), "");
    EXPECT_FALSE(window->cmdAdd->isEnabled());
    EXPECT_FALSE(window->cmdDel->isEnabled());
    EXPECT_TRUE(peer.waitForPeerClose());
    // Connecting again works.
    doubleClick(0);
    EXPECT_TRUE(waitForStatus("Connected to " + address));
}

TEST_F(ShellConnection, DeviceClosingAndRefusingAreShownInTheStatus) {
    const QString address = testsupport::uniqueLoopbackAddress();
    testsupport::ScriptedPeer peer(address, 4212);
    const QString nobody = testsupport::uniqueLoopbackAddress();
    writeIpList((address + "\r\n" + nobody + "\r\n").toLatin1());
    open();
    doubleClick(0);
    ASSERT_TRUE(waitForStatus("Connected to " + address));
    ASSERT_TRUE(peer.waitForConnections(1));
    peer.send(QByteArray("bye\r\n\0", 6));
    peer.close();
    ASSERT_TRUE(waitForStatus("Connection was closed"));
    EXPECT_EQ(window->connectedIndex(), -1);
    EXPECT_FALSE(deviceCommandsEnabled());
    EXPECT_EQ(window->consoleText(), "bye\r\n");

    doubleClick(1);
    ASSERT_TRUE(waitForStatus("*** ERR: Connection is forcefully rejected"));
    EXPECT_EQ(window->connectedIndex(), -1);
    EXPECT_FALSE(deviceCommandsEnabled());
    EXPECT_TRUE(dialogs.boxes().empty());
}
