#include "devsim/file_commands.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>
#include <QtEndian>

#include "devsim/file_faults.h"
#include "devsim/file_transfers.h"
#include "tests/devsim/shell_client.h"
#include "tests/support/device_fixture.h"

using testsupport::ShellClient;

namespace {

// The second connection a file command pairs with, used blocking.
struct DataClient {
    QTcpSocket socket;
    QByteArray buffer;
    bool connectTo(const QString& address) {
        socket.connectToHost(address, 4212);
        return socket.waitForConnected(5000);
    }
    void send(const QByteArray& bytes) {
        socket.write(bytes);
        socket.waitForBytesWritten(5000);
    }
    QByteArray line() {
        while (!buffer.contains("\r\n"))
            if (!socket.waitForReadyRead(5000))
                return "<timeout>";
            else
                buffer += socket.readAll();
        const qsizetype crlf = buffer.indexOf("\r\n");
        const QByteArray l = buffer.left(crlf);
        buffer.remove(0, crlf + 2);
        return l;
    }
    QByteArray bytes(qsizetype n) {
        while (buffer.size() < n && socket.waitForReadyRead(5000)) buffer += socket.readAll();
        const QByteArray b = buffer.left(n);
        buffer.remove(0, n);
        return b;
    }
    QByteArray untilClosed() {
        while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(5000))
            buffer += socket.readAll();
        buffer += socket.readAll();
        return std::exchange(buffer, {});
    }
};

class DevsimFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        device = testsupport::startDevice();
        ASSERT_TRUE(device);
        ASSERT_TRUE(shell.connectTo(device->options().address));
    }
    QString host(const char* devicePath) { return *device->files().hostPath(QLatin1String(devicePath)); }
    QByteArray fileAt(const char* devicePath) {
        QFile f(host(devicePath));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    std::unique_ptr<devsim::SimulatedDevice> device;
    ShellClient shell;
};

TEST_F(DevsimFiles, DirSendsOneRecordPerEntryOnTheDataConnectionWithFlashFreeBytes) {
    const QDateTime stamp(QDate(2003, 7, 4), QTime(9, 5, 59));
    {
        QFile f(host("\\Readme.txt"));
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.setFileTime(stamp, QFileDevice::FileModificationTime);
    }
    shell.sendLine("dir \\");
    DataClient data;
    ASSERT_TRUE(data.connectTo(device->options().address));
    QByteArray listing = data.untilClosed();
    std::map<QByteArray, std::pair<quint32, qint32>> entries;
    QByteArray readmeTime;
    while (listing.size() >= 24) {
        const qsizetype nul = listing.indexOf('\0', 24);
        ASSERT_GT(nul, 0);
        const QByteArray name = listing.mid(24, nul - 24);
        entries[name] = {qFromLittleEndian<quint32>(listing.constData()),
                         qFromLittleEndian<qint32>(listing.constData() + 4)};
        if (name == "\\Readme.txt") readmeTime = listing.mid(8, 16);
        listing.remove(0, nul + 1);
    }
    EXPECT_TRUE(listing.isEmpty());
    ASSERT_TRUE(entries.count("\\MorvFlash"));
    EXPECT_EQ(entries["\\MorvFlash"].first & 0x10, 0x10u);
    EXPECT_GT(entries["\\MorvFlash"].second, 0);
    EXPECT_EQ(entries["\\Windows"].second, 0);
    EXPECT_EQ(entries["\\Readme.txt"], std::make_pair(quint32(0x20), qint32(31)));
    const auto word = [&](int i) { return qFromLittleEndian<quint16>(readmeTime.constData() + 2 * i); };
    EXPECT_EQ(word(0), 2003);
    EXPECT_EQ(word(1), 7);
    EXPECT_EQ(word(2), 5);  // a Friday
    EXPECT_EQ(word(3), 4);
    EXPECT_EQ(word(4), 9);
    EXPECT_EQ(word(5), 5);
    EXPECT_EQ(word(6), 59);
    EXPECT_TRUE(shell.readMessage().startsWith("dir success"));
}

TEST_F(DevsimFiles, CopyRunsTheHandshakeAndAnswersEveryBlock) {
    shell.sendLine("copy -x -a \\Temp\\n.bin");
    DataClient data;
    ASSERT_TRUE(data.connectTo(device->options().address));
    EXPECT_EQ(data.line(), "new");
    EXPECT_EQ(data.line(), "ok");
    const QByteArray block(1024, 'x');
    data.send("1" + block);
    EXPECT_EQ(data.line(), "ok");
    data.send("0abc");
    EXPECT_EQ(data.line(), "done");
    data.socket.disconnectFromHost();
    EXPECT_EQ(shell.readMessage(),
              "success: copied 1027 bytes to \\Temp\\n.bin, started, runs at every boot\r\n");
    EXPECT_EQ(fileAt("\\Temp\\n.bin"), block + "abc");
}

TEST_F(DevsimFiles, CopyOverAnExistingFileAsksAndStopKeepsTheOldFile) {
    shell.sendLine("copy \\Readme.txt");
    DataClient data;
    ASSERT_TRUE(data.connectTo(device->options().address));
    EXPECT_EQ(data.line(), "exists");
    data.send("stop\r\n");
    data.untilClosed();
    EXPECT_EQ(fileAt("\\Readme.txt"), "Quillon 2000 simulated device\r\n");
    // A transfer the PC breaks off never replaces the file either.
    shell.sendLine("copy \\Readme.txt");
    DataClient second;
    ASSERT_TRUE(second.connectTo(device->options().address));
    EXPECT_EQ(second.line(), "exists");
    second.send("continue\r\n");
    EXPECT_EQ(second.line(), "ok");
    second.send("1" + QByteArray(1024, 'y'));
    EXPECT_EQ(second.line(), "ok");
    second.socket.abort();
    EXPECT_TRUE(shell.readMessage().startsWith("error: copy of \\Readme.txt broken off"));
    EXPECT_EQ(fileAt("\\Readme.txt"), "Quillon 2000 simulated device\r\n");
}

TEST_F(DevsimFiles, GetFileSendsTheSizeLineThenOnePiecePerAck) {
    constexpr qsizetype kPiece = devsim::FileSender::kPiece;
    QByteArray contents(2 * kPiece + 1000, Qt::Uninitialized);
    for (int i = 0; i < contents.size(); ++i) contents[i] = static_cast<char>(i);
    {
        QFile f(host("\\Temp\\g.bin"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(contents);
    }
    shell.sendLine("getfile \\Temp\\g.bin");
    DataClient data;
    ASSERT_TRUE(data.connectTo(device->options().address));
    EXPECT_EQ(data.line(), "size " + QByteArray::number(contents.size()));
    QByteArray got = data.bytes(kPiece);
    EXPECT_FALSE(data.socket.waitForReadyRead(100));  // nothing more before the ack
    while (got.size() < contents.size()) {
        data.send("ack\r\n");
        got += data.bytes(std::min<qsizetype>(kPiece, contents.size() - got.size()));
    }
    EXPECT_EQ(got, contents);
    EXPECT_EQ(shell.readMessage(),
              "success: sent " + QByteArray::number(contents.size()) + " bytes of \\Temp\\g.bin\r\n");

    shell.sendLine("getfile \\Temp\\none.bin");
    DataClient missing;
    ASSERT_TRUE(missing.connectTo(device->options().address));
    EXPECT_TRUE(missing.line().startsWith("error"));
}

TEST_F(DevsimFiles, FolderCommandsAnswerOnTheShellAndPathsNeverLeaveTheRoot) {
    shell.sendLine("makedir \\Temp\\Sub");
    EXPECT_EQ(shell.readMessage(), "makedir success: \\Temp\\Sub\r\n");
    EXPECT_TRUE(QFileInfo(host("\\Temp\\Sub")).isDir());
    shell.sendLine("deldir \\Temp");
    EXPECT_TRUE(shell.readMessage().startsWith("deldir error"));  // not empty
    shell.sendLine("deldir \\temp\\sub");
    EXPECT_EQ(shell.readMessage(), "deldir success: \\temp\\sub\r\n");
    shell.sendLine("delfile \\Readme.txt");
    EXPECT_EQ(shell.readMessage(), "delfile success: \\Readme.txt\r\n");
    shell.sendLine("delfile \\Readme.txt");
    EXPECT_TRUE(shell.readMessage().startsWith("delfile error"));
    for (const char* line :
         {"copy \\..\\x", "getfile \\..\\..\\etc\\passwd", "makedir \\..\\y", "dir \\..\\"}) {
        shell.sendLine(line);
        EXPECT_TRUE(shell.readMessage().contains("error: invalid path")) << line;
    }
}

TEST_F(DevsimFiles, ScriptedFaultsShapeTheDataConnection) {
    devsim::FileFaults& faults = devsim::fileFaults(*device);
    faults.answerError = true;
    shell.sendLine("copy \\Temp\\e.bin");
    DataClient refused;
    ASSERT_TRUE(refused.connectTo(device->options().address));
    EXPECT_TRUE(refused.line().startsWith("error"));
    faults.answerError = false;
    faults.closeAfterBytes = 10;
    shell.sendLine("getfile \\Readme.txt");
    DataClient cut;
    ASSERT_TRUE(cut.connectTo(device->options().address));
    EXPECT_EQ(cut.untilClosed(), "size 31\r\nQ");  // ten bytes, the size line included
}

}  // namespace
