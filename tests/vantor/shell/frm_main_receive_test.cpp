// What the main window does with what the shell sends: console, log file and subscribers.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include "platform/files/program_dir.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_environment.h"
#include "tests/vantor/shell/main_window_fixture.h"

using namespace vantortest;

namespace {
class ReceivePath : public MainWindowTest {
  protected:
    // A window connected to a scripted peer.
    void connectToPeer() {
        address = testsupport::uniqueLoopbackAddress();
        peer = std::make_unique<testsupport::ScriptedPeer>(address, 4212);
        writeIpList(address.toLatin1() + "\r\n");
        open();
        doubleClick(0);
        ASSERT_TRUE(waitForStatus("Connected to " + address));
        ASSERT_TRUE(peer->waitForConnections(1));
    }
    bool waitForConsole(const QByteArray& text) {
        const bool ok = waitUntil([&] { return window->consoleText() == text; });
        if (!ok) ADD_FAILURE() << "console: " << window->consoleText().left(200).toStdString();
        return ok;
    }

    QString address;
    std::unique_ptr<testsupport::ScriptedPeer> peer;
};
}  // namespace

TEST_F(ReceivePath, TwoMessagesInOneChunkAreBothShownAndLogged) {
    connectToPeer();
    peer->send(QByteArray("first\r\n\0second\r\n\0", 16));
    ASSERT_TRUE(waitForConsole("first\r\nsecond\r\n"));
    EXPECT_EQ(window->tbRcv->toPlainText(), "first\nsecond\n");
    EXPECT_EQ(logAfterStart(), "first\r\n\r\nsecond\r\n\r\n");
    EXPECT_TRUE(readProgramFile("qnLog.txt").startsWith("Vantor started at: "));
}

TEST_F(ReceivePath, AMessageSplitOverTwoChunksIsTakenAsTwo) {
    connectToPeer();
    peer->send("par");
    ASSERT_TRUE(waitForConsole("par"));
    peer->send(QByteArray("tial\r\n\0", 7));
    ASSERT_TRUE(waitForConsole("partial\r\n"));
    EXPECT_EQ(logAfterStart(), "par\r\ntial\r\n\r\n");
}

TEST_F(ReceivePath, StatusWordsGoToEverySubscriberInOrderAndNotToTheLog) {
    open();
    QStringList calls;
    Recorder first("A", &calls), second("B", &calls), third("C", &calls);
    EXPECT_EQ(window->Register4Notify(&first), 1);
    EXPECT_EQ(window->Register4Notify(&second), 2);
    window->UnRegister4Notify(1);
    window->UnRegister4Notify(99);  // unknown: ignored
    EXPECT_EQ(window->Register4Notify(&third), 3);
    EXPECT_EQ(window->Register4Notify(nullptr), 0);
    EXPECT_EQ(window->Register4Notify(&first), 4);

    window->addText(QByteArray("error but success\r\n\0plain text\r\n\0", 33));
    window->addText(QByteArray("copy: notify 10%\r\n\0error: disk full\r\n\0\0", 39));
    EXPECT_EQ(calls,
              (QStringList{"B|success|", "C|success|", "A|success|", "B|copy: notify 10%\r\n|notify 10%\r\n",
                           "C|copy: notify 10%\r\n|notify 10%\r\n", "A|copy: notify 10%\r\n|notify 10%\r\n",
                           "B|error|error: disk full\r\n", "C|error|error: disk full\r\n",
                           "A|error|error: disk full\r\n"}));
    // Only the plain message and the empty one reach the log; the console shows everything.
    EXPECT_EQ(logAfterStart(), "plain text\r\n\r\n\r\n");
    EXPECT_EQ(window->consoleText(),
              "error but success\r\nplain text\r\ncopy: notify 10%\r\nerror: disk full\r\n");
}

TEST_F(ReceivePath, ASubscriberThatGoesAwayDuringNotifyIsHandledSafely) {
    open();
    QStringList calls;
    Recorder later("B", &calls);
    struct Leaver : vantor::NotifyClient {
        vantor::frmMain* window;
        qint32 handle = 0;
        int count = 0;
        void Notify(const QString&, const QString&) override {
            ++count;
            window->UnRegister4Notify(handle);
            // A reply arriving while this subscriber works is split after the current chunk.
            window->addText(QByteArray("nested\r\n\0", 9));
        }
    } leaver;
    leaver.window = window.get();
    leaver.handle = window->Register4Notify(&leaver);
    window->Register4Notify(&later);
    window->addText(QByteArray("success\r\n\0after\r\n\0", 18));
    EXPECT_EQ(leaver.count, 1);
    EXPECT_EQ(calls, QStringList{"B|success|"});
    EXPECT_EQ(window->consoleText(), "success\r\nafter\r\nnested\r\n");
    EXPECT_EQ(logAfterStart(), "after\r\n\r\nnested\r\n\r\n");
}

TEST_F(ReceivePath, WhileASubscriberWaitsLittleIsHeldAndEverythingArrivesAfterwards) {
    connectToPeer();
    // A subscriber that keeps the receive path busy (as an open message box does) while the device
    // sends far more than the window holds back: the rest waits in the socket and at the device, and
    // comes in once the subscriber is done, though the socket announced it while it waited.
    struct Waiter : vantor::NotifyClient {
        testsupport::ScriptedPeer* peer = nullptr;
        vantor::frmMain* window = nullptr;
        qint64 queued = -1;
        void Notify(const QString&, const QString&) override {
            if (queued >= 0) return;
            peer->waitForSent(0, 1s);  // a second for the device to push what it can
            queued = window->queuedBytes();
        }
    } waiter;
    waiter.peer = peer.get();
    waiter.window = window.get();
    window->Register4Notify(&waiter);
    const qsizetype flood = 16 * 1024 * 1024;
    peer->send(QByteArray("success\r\n\0", 10));
    for (int i = 0; i < 16; ++i) peer->send(QByteArray(flood / 16, 'y'));
    peer->send(QByteArray("end\r\n\0", 6));
    ASSERT_TRUE(waitUntil([&] { return window->consoleText().endsWith("end\r\n"); }, 60s));
    EXPECT_GE(waiter.queued, 0);
    EXPECT_LE(waiter.queued, vantor::frmMain::kQueueLimit + 512 * 1024);
    EXPECT_EQ(window->queuedBytes(), 0);
    EXPECT_EQ(readProgramFile("qnLog.txt").count('y'), flood);
}

TEST_F(ReceivePath, ConsoleIsCappedAfterEachChunkAsTheViewShows) {
    open();
    QByteArray expected;
    for (int chunk = 0; chunk < 60; ++chunk) {
        QByteArray bytes;
        for (int m = 0; m < 7; ++m)
            bytes += QByteArray::number(chunk * 7 + m).rightJustified(97, '-') + "\r\n" + '\0';
        window->addText(bytes);
        expected += QByteArray(bytes).replace('\0', QByteArray());
        if (expected.size() > 20000) expected = expected.mid(19999);
        ASSERT_EQ(window->consoleText(), expected) << "after chunk " << chunk;
        ASSERT_EQ(window->tbRcv->toPlainText(), QString::fromLatin1(expected).replace("\r\n", "\n"));
    }
    window->cmdClear->click();
    EXPECT_EQ(window->consoleText(), "");
    EXPECT_EQ(window->tbRcv->toPlainText(), "");
}

TEST_F(ReceivePath, BinaryBytesAndNulRunsArriveUnchanged) {
    connectToPeer();
    QByteArray bytes;
    for (int i = 1; i < 256; ++i) bytes += static_cast<char>(i);
    bytes += QByteArray(5, '\0');
    bytes += "end";
    peer->send(bytes);
    QByteArray shown = bytes;
    shown.replace('\0', QByteArray());
    ASSERT_TRUE(waitForConsole(shown));
    QByteArray logged = bytes;
    logged.replace(QByteArray(5, '\0'), "\r\n\r\n\r\n\r\n\r\n");
    EXPECT_TRUE(waitUntil([&] { return logAfterStart() == logged + "\r\n"; }));
}

TEST_F(ReceivePath, TenMegabytesWithoutNulKeepTheWindowResponsiveAndTheLogComplete) {
    connectToPeer();
    const qsizetype total = 10 * 1024 * 1024;
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(5);
    for (int i = 0; i < 10; ++i) peer->send(QByteArray(total / 10, 'x'));
    ASSERT_TRUE(waitUntil([&] { return readProgramFile("qnLog.txt").count('x') == total; }, 60s));
    EXPECT_GT(ticks, 2);  // timers kept running while the data came in
    EXPECT_LE(window->consoleText().size(), 20000);
    EXPECT_EQ(logAfterStart().count("\r\n") + 0, logAfterStart().count('\r'));
}

TEST_F(ReceivePath, UnopenableLogIsReportedAtStart) {
    QDir().mkpath(platform::programFile("qnLog.txt"));
    open();
    ASSERT_EQ(dialogs.boxes().size(), 1u);
    EXPECT_TRUE(dialogs.boxes()[0].text.startsWith("Couldn't open the log file\r\n" +
                                                   platform::programFile("qnLog.txt")));
    EXPECT_TRUE(dialogs.boxes()[0].text.endsWith("Messages will be shown but not logged."));
    window->addText(QByteArray("still shown\r\n\0", 14));
    EXPECT_EQ(window->consoleText(), "still shown\r\n");
    EXPECT_EQ(dialogs.boxes().size(), 1u);
}
