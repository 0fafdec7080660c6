#include "vantor/files/copy_protocol.h"

#include <gtest/gtest.h>

#include <QFile>

#include "tests/support/test_environment.h"

using namespace vantor::files;

TEST(ReadReply, TakesUpToTheFirstCrLfOrEverything) {
    QByteArray buffer = "exists\r\nok\r\npart";
    EXPECT_EQ(ReadReply(buffer), "exists\r\n");
    EXPECT_EQ(ReadReply(buffer), "ok\r\n");
    EXPECT_EQ(ReadReply(buffer), "part");
    EXPECT_TRUE(buffer.isEmpty());
    EXPECT_TRUE(ReadReply(buffer).isEmpty());
}

TEST(TakeLine, WaitsForAWholeLineKeepsWhatFollowsAndRefusesEndlessOnes) {
    QByteArray buffer = "size 1";
    QByteArray line = "untouched";
    EXPECT_EQ(TakeLine(buffer, line), LineStatus::Incomplete);
    EXPECT_EQ(buffer, "size 1");
    EXPECT_EQ(line, "untouched");
    buffer += "1\r";
    EXPECT_EQ(TakeLine(buffer, line), LineStatus::Incomplete);
    buffer += "\nhello\r\nworld";
    EXPECT_EQ(TakeLine(buffer, line), LineStatus::Complete);
    EXPECT_EQ(line, "size 11");
    EXPECT_EQ(buffer, "hello\r\nworld");

    // A line of exactly the limit still counts; one byte more without its end is refused at once.
    QByteArray longest(kMaxReplyLine, 'x');
    buffer = longest + "\r";
    EXPECT_EQ(TakeLine(buffer, line), LineStatus::Incomplete);
    buffer += "\n";
    EXPECT_EQ(TakeLine(buffer, line), LineStatus::Complete);
    EXPECT_EQ(line, longest);
    buffer = longest + "xy";
    EXPECT_EQ(TakeLine(buffer, line), LineStatus::TooLong);
    buffer = QByteArray(1 << 20, 'z') + "\r\n";
    EXPECT_EQ(TakeLine(buffer, line), LineStatus::TooLong);
    EXPECT_EQ(buffer.size(), (1 << 20) + 2);
}

TEST(CopyCommand, FlagsRunTogetherBeforeTheDestination) {
    EXPECT_EQ(copyCommand("\\Temp\\a.exe", true, true), "copy -x -a \\Temp\\a.exe");
    EXPECT_EQ(copyCommand("\\Temp\\a.exe", false, true), "copy -a \\Temp\\a.exe");
    EXPECT_EQ(copyCommand("\\Temp\\a.exe", false, false), "copy \\Temp\\a.exe");
}

TEST(ParseSizeLine, ReadsTheNumberAfterTheFirstBlankAndRefusesGarbage) {
    EXPECT_EQ(parseSizeLine("size 1234\r\n"), 1234);
    EXPECT_EQ(parseSizeLine("anything  0 \r\n"), 0);
    EXPECT_EQ(parseSizeLine("77\r\n"), 77);  // no blank: the whole line
    EXPECT_FALSE(parseSizeLine("size\r\n"));
    EXPECT_FALSE(parseSizeLine("size 12x\r\n"));
    EXPECT_FALSE(parseSizeLine("size -5\r\n"));
    EXPECT_FALSE(parseSizeLine("size \r\n"));
}

namespace {
// The blocks of a file of `size` bytes. With `reuse`, every block comes through one buffer, as a copy
// reads them; each is copied out before the next overwrites it.
std::vector<QByteArray> blocksOf(qsizetype size, bool reuse = false) {
    const QString path = testsupport::freshFolder(QStringLiteral("blocks")) + QStringLiteral("/f.bin");
    QByteArray contents(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i) contents[i] = static_cast<char>(i * 7);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(contents);
    f.close();
    BlockSource source(path);
    EXPECT_TRUE(source.open());
    std::vector<QByteArray> blocks;
    QByteArray joined;
    QByteArray buffer;
    while (!source.finished()) {
        QByteArray block;
        if (reuse) {
            if (!source.next(buffer)) break;
            block = QByteArray(buffer.constData(), buffer.size());
        } else {
            block = source.next();
        }
        if (block.isEmpty()) break;
        blocks.push_back(block);
        joined += block.mid(1);
    }
    EXPECT_EQ(joined, contents);
    return blocks;
}
}  // namespace

TEST(BlockSource, FramesFilesIntoFlaggedBlocksOf1024) {
    auto b = blocksOf(0);
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(b[0], "0");
    b = blocksOf(1024);
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(b[0].size(), 1025);
    EXPECT_EQ(b[0].at(0), '0');
    b = blocksOf(1025);
    ASSERT_EQ(b.size(), 2u);
    EXPECT_EQ(b[0].size(), 1025);
    EXPECT_EQ(b[0].at(0), '1');
    EXPECT_EQ(b[1].size(), 2);
    EXPECT_EQ(b[1].at(0), '0');
    b = blocksOf(3000);
    ASSERT_EQ(b.size(), 3u);
    EXPECT_EQ(b[2].size(), 1 + 3000 - 2048);
}

TEST(BlockSource, AReusedBufferHoldsExactlyEachBlockAlsoWhenTheLastIsShorter) {
    const auto b = blocksOf(2500, true);
    ASSERT_EQ(b.size(), 3u);
    EXPECT_EQ(b[0].size(), 1025);
    EXPECT_EQ(b[1].size(), 1025);
    EXPECT_EQ(b[2].size(), 1 + 2500 - 2048);  // no bytes of the block before it behind its end
    EXPECT_EQ(b[2].at(0), '0');
    const auto empty = blocksOf(0, true);
    ASSERT_EQ(empty.size(), 1u);
    EXPECT_EQ(empty[0], "0");
}
