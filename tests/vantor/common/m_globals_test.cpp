#include "vantor/common/m_globals.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QTimer>

#include "platform/ui/time_scale.h"

using namespace vantor::MGlobals;
using namespace std::chrono_literals;

TEST(BinToNum, ReadsLittleEndianNumbersOfEachKind) {
    EXPECT_EQ(BinToNum(QByteArray("\xff\xff\xff\xff", 4), kLong).toInt(), -1);
    EXPECT_EQ(BinToNum(QByteArray("\x01\x00\x00\x80", 4), kLong).toInt(), -2147483647);
    EXPECT_EQ(BinToNum(QByteArray("\x10\x27\x00\x00", 4), kLong).toInt(), 10000);
    EXPECT_EQ(BinToNum(QByteArray("\x01\x02", 2), kInteger).toDouble(), 513.0);
    EXPECT_EQ(BinToNum(QByteArray("\xff\xff", 2), kInteger).toDouble(), 65535.0);
    EXPECT_EQ(BinToNum(QByteArray("\xfe\x01", 2), kByte).toInt(), 254);
}

TEST(BinToNum, UnknownKindsAndShortTextGiveEmpty) {
    EXPECT_FALSE(BinToNum(QByteArray("\x01\x02\x03\x04", 4), 5).isValid());
    EXPECT_FALSE(BinToNum(QByteArray("\x01\x02\x03", 3), kLong).isValid());
    EXPECT_FALSE(BinToNum(QByteArray("\x01", 1), kInteger).isValid());
    EXPECT_FALSE(BinToNum(QByteArray(), kByte).isValid());
}

TEST(PathParts, DevicePathsSplitAtTheLastBackslashAfterTheDrive) {
    EXPECT_EQ(FileNamePart("C:\\dir\\file.txt"), "file.txt");
    EXPECT_EQ(FolderPart("C:\\dir\\file.txt"), "C:\\dir\\");
    EXPECT_EQ(FileNamePart("file.txt"), "file.txt");
    EXPECT_EQ(FolderPart("file.txt"), "");
    EXPECT_EQ(FileNamePart("C:name"), "name");
    EXPECT_EQ(FolderPart("C:name"), "C:");
    EXPECT_EQ(FileNamePart("\\MorvFlash\\"), "");
    EXPECT_EQ(FolderPart("\\MorvFlash\\"), "\\MorvFlash\\");
}

TEST(PathParts, PcPathsSplitAtTheLastSlashAndKeepColons) {
    EXPECT_EQ(FileNamePart("/home/me/a:b.txt", PathKind::Pc), "a:b.txt");
    EXPECT_EQ(FolderPart("/home/me/a:b.txt", PathKind::Pc), "/home/me/");
    EXPECT_EQ(FileNamePart("*.*", PathKind::Pc), "*.*");
    EXPECT_EQ(FolderPart("*.*", PathKind::Pc), "");
}

TEST(AccessDigest, TakesTheLastTwoCharactersOfEachStepShortestText) {
    // "A" (65): x = 65 -> "65". Then "B" (66): x = 66 * sqrt(65) = 532.10901138770..., 15 digits.
    EXPECT_EQ(digestNumberText(66 * std::sqrt(65.0)), "532.109011387704");
    EXPECT_EQ(AccessDigest("A"), "65");
    EXPECT_EQ(AccessDigest("AB"), "6504");
    EXPECT_EQ(AccessDigest(""), "");
    // Whole numbers have no decimal point: "d" (100) then "d" again: 100 * sqrt(100) = 1000.
    EXPECT_EQ(AccessDigest("dd"), "0000");
    EXPECT_EQ(digestNumberText(0.5), "0.5");
}

TEST(WaitSeconds, WaitsTheScaledTimeWhileEventsRun) {
    platform::setTimeScale(0.1);
    bool ranDuringTheWait = false;
    // Posted now, delivered only by an event loop that runs while WaitSeconds waits.
    QTimer::singleShot(0, [&] { ranDuringTheWait = true; });
    const QDeadlineTimer scaledTime(200ms, Qt::PreciseTimer);
    WaitSeconds(2);
    platform::setTimeScale(1.0);
    EXPECT_TRUE(ranDuringTheWait);
    EXPECT_TRUE(scaledTime.hasExpired());
}
