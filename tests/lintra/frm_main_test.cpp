#include "lintra/frm_main.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <functional>

#include "devsim/simulated_device.h"
#include "platform/net/socket_errors.h"
#include "platform/settings/settings_store.h"
#include "platform/ui/scripted_dialogs.h"
#include "platform/ui/time_scale.h"
#include "platform/ui/wait.h"
#include "tests/support/accessible_names.h"
#include "tests/support/device_fixture.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_environment.h"

namespace lintra {
namespace {

using namespace std::chrono_literals;
using platform::ui::waitFor;
using platform::ui::waitUntil;
using testsupport::ScriptedPeer;

// Plays the device for a ScriptedPeer from the test thread's event loop (the window waits in a loop of
// its own while a line is out): answers each complete line the window sent, and notes how many lines
// the device had received when it answered.
class Answerer : public QObject {
  public:
    Answerer(ScriptedPeer& peer, std::function<QByteArray(const QByteArray&)> reply)
        : peer_(peer), reply_(std::move(reply)) {
        timer_.callOnTimeout([this] { poll(); });
        timer_.start(5);
    }
    std::vector<int> linesSeenAtAnswer;

  private:
    void poll() {
        if (peer_.connectionCount() == 0) return;
        const QByteArray all = peer_.received(0);
        const QByteArray lines = all.left(all.lastIndexOf('\n') + 1);
        while (consumed_ < lines.size()) {
            const qsizetype end = lines.indexOf("\r\n", consumed_);
            if (end < 0) break;
            const QByteArray line = lines.mid(consumed_, end - consumed_);
            consumed_ = end + 2;
            linesSeenAtAnswer.push_back(static_cast<int>(all.count('\n')));
            const QByteArray answer = reply_(line);
            if (!answer.isNull()) peer_.send(answer);
        }
    }
    ScriptedPeer& peer_;
    std::function<QByteArray(const QByteArray&)> reply_;
    QTimer timer_;
    qsizetype consumed_ = 0;
};

QStringList itemsOf(const QListWidget* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i) items << list->item(i)->text();
    return items;
}

void clickItem(QListWidget* list, int row) {
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
}
// As a user does it: the first click selects, the second is the double-click.
void doubleClickItem(QListWidget* list, int row) {
    clickItem(list, row);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

class LintraWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        testsupport::resetFolders();
        platform::setTimeScale(1.0);
    }
    void TearDown() override { platform::setTimeScale(1.0); }

    std::unique_ptr<frmMain> openWindow() {
        auto window = std::make_unique<frmMain>();
        window->show();
        return window;
    }
    // Types the host and presses Connect; true once the socket is up and the schema requested.
    static bool connectTo(frmMain& window, const QString& host) {
        window.cbIPs->setEditText(host);
        QTest::mouseClick(window.cbConnect, Qt::LeftButton);
        return waitUntil([&] { return window.connState() == 2; }, 30s);
    }
    static QByteArray schemaOrAnswer(const QByteArray& line, const QByteArray& schema) {
        return line == "#schema" ? schema : "answer to " + line + "\r\n";
    }
};

TEST_F(LintraWindow, aSchemaCutAcrossPiecesIsListedWhole) {
    const QString host = testsupport::uniqueLoopbackAddress();
    ScriptedPeer peer(host, 5050);
    auto window = openWindow();
    ASSERT_TRUE(connectTo(*window, host));
    ASSERT_TRUE(peer.waitForReceived("#schema\r\n"));
    EXPECT_TRUE(window->busy());
    EXPECT_EQ(window->statusText(1), "Waiting for Schema");
    EXPECT_EQ(window->statusText(2), "Connected");

    peer.send("#ITEMorphan\r\n#TABLESen");
    waitFor(60ms);
    EXPECT_EQ(window->lbDBs->count(), 0);
    peer.send("sors\r\n#ITEMId\r\n#IT");
    waitFor(60ms);
    EXPECT_EQ(itemsOf(window->lbDBs), QStringList{"Sensors"});
    peer.send("EMName\n#TABLEAlarms\r\n#ITEMText\r\nnote\r\n\r\n");
    ASSERT_TRUE(waitUntil([&] { return !window->busy(); }, 30s));

    EXPECT_EQ(window->statusText(1), "Ready");
    EXPECT_EQ(itemsOf(window->lbDBs), (QStringList{"Sensors", "Alarms"}));
    // A column before any table has nowhere to go; the user sees it with the other answer lines.
    EXPECT_EQ(window->resultText(), "< #ITEMorphan\r\n< note\r\n");
    clickItem(window->lbDBs, 0);
    EXPECT_EQ(itemsOf(window->lbItems), (QStringList{"Id", "Name"}));
    clickItem(window->lbDBs, 1);
    EXPECT_EQ(itemsOf(window->lbItems), QStringList{"Text"});
}

TEST_F(LintraWindow, aScriptSendsOnlyItsStatementsEachAfterTheAnswerToTheOneBefore) {
    const QString host = testsupport::uniqueLoopbackAddress();
    ScriptedPeer peer(host, 5050);
    Answerer device(peer, [](const QByteArray& line) { return schemaOrAnswer(line, "\r\n"); });
    auto window = openWindow();
    ASSERT_TRUE(connectTo(*window, host));
    ASSERT_TRUE(waitUntil([&] { return !window->busy(); }, 30s));

    window->tbSQL->setPlainText("SELECT 1;\n\n; not this one\nUPDATE t SET a = 'x';\n;\n\nSELECT 2;");
    QTest::mouseClick(window->cbSend, Qt::LeftButton);

    EXPECT_EQ(peer.received(0), "#schema\r\nSELECT 1;\r\nUPDATE t SET a = 'x';\r\nSELECT 2;\r\n");
    EXPECT_EQ(device.linesSeenAtAnswer, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(
        window->resultText(),
        "> SELECT 1;\r\nanswer to SELECT 1;\r\n> UPDATE t SET a = 'x';\r\nanswer to UPDATE t SET a = 'x';\r\n"
        "> SELECT 2;\r\nanswer to SELECT 2;\r\n");
    EXPECT_FALSE(window->busy());
    EXPECT_EQ(window->tbResult->toPlainText(),
              QString::fromLatin1(window->resultText()).replace("\r\n", "\n"));
}

TEST_F(LintraWindow, doubleClicksQueryATableAndAColumnOfTheSimulatedDevice) {
    auto device = testsupport::startDevice();
    ASSERT_TRUE(device);
    auto window = openWindow();
    ASSERT_TRUE(connectTo(*window, device->options().address));
    ASSERT_TRUE(waitUntil([&] { return !window->busy(); }, 30s));
    const int sensors = static_cast<int>(itemsOf(window->lbDBs).indexOf("Sensors"));
    ASSERT_GE(sensors, 0) << itemsOf(window->lbDBs).join(',').toStdString();

    doubleClickItem(window->lbDBs, sensors);
    EXPECT_TRUE(
        window->resultText().contains("> SELECT * FROM Sensors;\r\nId | Name | Unit | Station\r\n"
                                      "1 | Level | m | Tank 1\r\n"))
        << window->resultText().toStdString();

    window->cbClrAnswer_Click();
    clickItem(window->lbDBs, sensors);
    EXPECT_EQ(itemsOf(window->lbItems), (QStringList{"Id", "Name", "Unit", "Station"}));
    doubleClickItem(window->lbItems, 1);
    EXPECT_TRUE(window->resultText().startsWith("> SELECT Name FROM Sensors;\r\nName\r\nLevel\r\nFlow\r\n"))
        << window->resultText().toStdString();
    EXPECT_TRUE(device->log().contains("< SELECT Name FROM Sensors;"));
}

TEST_F(LintraWindow, reconnectingToAnotherDeviceReplacesTablesAndColumns) {
    const QString first = testsupport::uniqueLoopbackAddress();
    const QString second = testsupport::uniqueLoopbackAddress();
    ScriptedPeer peerA(first, 5050);
    ScriptedPeer peerB(second, 5050);
    Answerer deviceA(peerA, [](const QByteArray& l) {
        return schemaOrAnswer(l, "#TABLEA1\r\n#ITEMa\r\n#TABLEA2\r\n\r\n");
    });
    Answerer deviceB(peerB,
                     [](const QByteArray& l) { return schemaOrAnswer(l, "#TABLEB1\r\n#ITEMb\r\n\r\n"); });
    auto window = openWindow();
    ASSERT_TRUE(connectTo(*window, first));
    ASSERT_TRUE(waitUntil([&] { return !window->busy(); }, 30s));
    clickItem(window->lbDBs, 0);
    ASSERT_EQ(itemsOf(window->lbItems), QStringList{"a"});

    QTest::mouseClick(window->cbConnect, Qt::LeftButton);
    EXPECT_EQ(window->statusText(2), "Disonnected");
    EXPECT_EQ(window->lbDBs->count(), 0);
    EXPECT_EQ(window->lbItems->count(), 0);
    ASSERT_TRUE(connectTo(*window, second));
    ASSERT_TRUE(waitUntil([&] { return !window->busy(); }, 30s));

    EXPECT_EQ(itemsOf(window->lbDBs), QStringList{"B1"});
    ASSERT_EQ(window->tables().Count(), 1);
    EXPECT_EQ(window->tables().Item(1).mColumns.Item(1).mName, "b");
    clickItem(window->lbDBs, 0);
    EXPECT_EQ(itemsOf(window->lbItems), QStringList{"b"});
}

TEST_F(LintraWindow, theResultPaneStaysWithinItsLimitAndKeepsTheNewestText) {
    const QString host = testsupport::uniqueLoopbackAddress();
    ScriptedPeer peer(host, 5050);
    const QByteArray big(25000, 'b');
    QByteArray last;
    for (int i = 0; i < 2000; ++i) last += "row " + QByteArray::number(i) + "\r\n";
    Answerer device(peer, [&](const QByteArray& line) {
        return line == "#schema" ? QByteArray("\r\n") : line == "q1" ? big : last;
    });
    auto window = openWindow();
    ASSERT_TRUE(connectTo(*window, host));
    ASSERT_TRUE(waitUntil([&] { return !window->busy(); }, 30s));
    window->SendSQL("q1\nq2");
    EXPECT_LE(window->resultText().size(), 30000);
    EXPECT_TRUE(window->resultText().endsWith(last));
    EXPECT_EQ(window->tbResult->toPlainText(),
              QString::fromLatin1(window->resultText()).replace("\r\n", "\n"));
    EXPECT_TRUE(window->tbResult->textCursor().atEnd());
}

TEST_F(LintraWindow, waitsForAnAnswerEndOnSilenceOrALostConnection) {
    platform::setTimeScale(0.05);  // the 30 s limits become 1.5 s
    const QString host = testsupport::uniqueLoopbackAddress();
    ScriptedPeer peer(host, 5050);
    auto window = openWindow();
    ASSERT_TRUE(connectTo(*window, host));
    // No schema answer at all.
    ASSERT_TRUE(waitUntil([&] { return !window->busy(); }, 30s));
    EXPECT_EQ(window->statusText(1), "No schema from the device within 30 seconds");

    window->SendSQL("SELECT 1;\nSELECT 2;");
    EXPECT_EQ(peer.received(0), "#schema\r\nSELECT 1;\r\n");
    EXPECT_EQ(window->statusText(1), "No answer from the device within 30 seconds");
    EXPECT_FALSE(window->busy());

    // A limit of a minute: only the lost connection can end this wait before the hang limit.
    platform::setTimeScale(2.0);
    QTimer::singleShot(100, [&] { peer.close(0); });
    const QDeadlineTimer hangLimit(30s);
    window->SendSQL("SELECT 3;\nSELECT 4;");
    EXPECT_FALSE(hangLimit.hasExpired());
    EXPECT_EQ(window->statusText(1), "Connection lost while waiting for an answer");
    EXPECT_FALSE(peer.received(0).contains("SELECT 4;"));
    EXPECT_TRUE(waitUntil([&] { return window->connState() == 0; }, 30s));
    EXPECT_FALSE(window->cbSend->isEnabled());
}

TEST_F(LintraWindow, aRefusedConnectionShowsTheSocketError) {
    auto window = openWindow();
    window->cbIPs->setEditText(testsupport::uniqueLoopbackAddress());
    QTest::mouseClick(window->cbConnect, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return window->statusText(1).startsWith("Winsock Error: "); }, 30s));
    EXPECT_EQ(window->statusText(1), "Winsock Error: " + platform::net::describeSocketError(
                                                             platform::net::sckerr::ConnectionRefused));
    EXPECT_EQ(window->statusText(2), "");
    EXPECT_EQ(window->connState(), 0);
    EXPECT_EQ(window->cbConnect->text(), "Disconnect");  // the next click resets the window
    QTest::mouseClick(window->cbConnect, Qt::LeftButton);
    EXPECT_EQ(window->cbConnect->text(), "Connect");
    EXPECT_TRUE(window->cbIPs->isEnabled());
}

TEST_F(LintraWindow, exitWritesTheListAndTheHostAndTheNextStartSelectsIt) {
    const QString listFile = testsupport::programDir() + "/qnIPs.txt";
    {
        QFile file(listFile);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("10.0.0.1\r\n10.0.0.2\r\n");
    }
    const QString host = testsupport::uniqueLoopbackAddress();
    ScriptedPeer peer(host, 5050);
    {
        auto window = openWindow();
        // No host stored yet: nothing empty joins the list.
        EXPECT_EQ(window->cbIPs->count(), 2);
        EXPECT_EQ(window->cbIPs->currentText(), "10.0.0.1");
        ASSERT_TRUE(connectTo(*window, host));
        QTest::mouseClick(window->cbExit, Qt::LeftButton);
    }
    EXPECT_EQ(readFile(listFile), "10.0.0.1\r\n10.0.0.2\r\n" + host.toLatin1() + "\r\n");
    EXPECT_EQ(platform::GetSetting("Lintra", "Settings", "IP"), host);
    EXPECT_FALSE(platform::GetSetting("Lintra", "Settings", "MainWidth").isEmpty());

    auto again = openWindow();
    EXPECT_EQ(again->cbIPs->currentText(), host);
    again->showMinimized();
    again->cbIPs->setEditText("elsewhere");
    again->close();
    EXPECT_EQ(platform::GetSetting("Lintra", "Settings", "IP"), host);
}

TEST_F(LintraWindow, sqlFilesAreSavedWithLineEndsAndOpenedLineByLine) {
    platform::ui::ScriptedDialogs dialogs;
    const QString folder = testsupport::freshFolder("sql");
    auto window = openWindow();
    window->tbSQL->setPlainText("SELECT 1;\n; note");
    dialogs.answerNextFile(folder + "/saved.txt");
    QTest::mouseClick(window->cbSaveFile, Qt::LeftButton);
    ASSERT_EQ(dialogs.fileDialogs().size(), 1u);
    EXPECT_EQ(dialogs.fileDialogs()[0].title, "Save SQL file as ...");
    EXPECT_TRUE(dialogs.fileDialogs()[0].overwritePrompt);
    EXPECT_EQ(readFile(folder + "/saved.txt"), "SELECT 1;\r\n; note\r\n");

    {
        QFile file(folder + "/mixed.txt");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("a\nbb\r\nccc");
    }
    dialogs.answerNextFile(folder + "/mixed.txt");
    QTest::mouseClick(window->cbOpenFile, Qt::LeftButton);
    EXPECT_EQ(dialogs.fileDialogs()[1].title, "Select SQL file ...");
    EXPECT_EQ(window->tbSQL->toPlainText(), "a\nbb\nccc\n");

    dialogs.cancelNextFile();
    QTest::mouseClick(window->cbOpenFile, Qt::LeftButton);
    EXPECT_EQ(window->tbSQL->toPlainText(), "a\nbb\nccc\n");

    dialogs.answerNextFile(folder + "/no/such/folder/x.txt");
    QTest::mouseClick(window->cbSaveFile, Qt::LeftButton);
    ASSERT_EQ(dialogs.boxes().size(), 1u);
    EXPECT_TRUE(dialogs.boxes()[0].text.startsWith("Couldn't save the file"));
}

TEST_F(LintraWindow, assistiveToolsReadTheStatusAsShownAndEveryControlInPlainWords) {
    auto device = testsupport::startDevice();
    ASSERT_TRUE(device);
    auto window = openWindow();
    ASSERT_TRUE(connectTo(*window, device->options().address));
    auto* connection = window->findChild<QLabel*>(QStringLiteral("StatusBar1Panel2"));
    ASSERT_TRUE(waitUntil([&] { return connection->text() == "Connected"; }, 30s));
    EXPECT_EQ(testsupport::accessibleName(connection), "Connected");
    auto* progress = window->findChild<QLabel*>(QStringLiteral("StatusBar1Panel1"));
    EXPECT_FALSE(progress->text().isEmpty());
    EXPECT_EQ(testsupport::accessibleName(progress), progress->text());
    EXPECT_EQ(testsupport::accessibleName(window->cbIPs->lineEdit()), "Server address");
    EXPECT_EQ(testsupport::accessibleName(window->tbSQL), "SQL statements");
    EXPECT_EQ(testsupport::accessibleName(window->lbDBs), "Tables");  // from its label
    EXPECT_EQ(testsupport::controlsNamedByCodeName(window.get()), QStringList());
}

}  // namespace
}  // namespace lintra
