#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "iplist/ip_list_file.h"
#include "iplist/ip_list_variants.h"
#include "tests/support/test_environment.h"

using namespace iplist;

namespace {
QString listFile(const QByteArray& contents) {
    const QString path = testsupport::freshFolder("iplist") + "/qnIPs.txt";
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(contents);
    return path;
}

QByteArray contentsOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
}  // namespace

TEST(IpListFile, ReadingStopsAtTheFirstEmptyLineAndTakesLinesUnchanged) {
    const QString path = listFile("10.0.0.1\r\n host a \r\n\r\n10.0.0.3\r\n");
    EXPECT_EQ(readLines(path, true), QStringList({"10.0.0.1", " host a "}));
    EXPECT_EQ(readLines(path, false), QStringList({"10.0.0.1", " host a ", "", "10.0.0.3"}));
}

TEST(IpListFile, AcceptsLfOnlyAndAMissingLastLineEnd) {
    EXPECT_EQ(readLines(listFile("a\nb\r\nc"), true), QStringList({"a", "b", "c"}));
}

TEST(IpListFile, MissingFileIsNothingAndGarbageLoadsWithoutFailing) {
    EXPECT_FALSE(readLines(testsupport::freshFolder("iplist") + "/qnIPs.txt", true));
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 37) % 256);
    const auto lines = readLines(listFile(garbage), false);
    ASSERT_TRUE(lines);
    EXPECT_FALSE(lines->isEmpty());
}

TEST(IpListFile, WritesEveryLineWithCrLfAsEightBitText) {
    const QString path = testsupport::freshFolder("iplist") + "/qnIPs.txt";
    ASSERT_TRUE(writeLines(path, {"10.0.0.1", QString::fromLatin1("h\xf6st")}));
    EXPECT_EQ(contentsOf(path), "10.0.0.1\r\nh\xf6st\r\n");
}

TEST(VantorList, DisconnectIsNeverWrittenAndAnEmptyThirdLineEndsTheList) {
    const QString path = listFile("10.0.0.1\r\n10.0.0.2\r\n\r\n10.0.0.4\r\n");
    const QStringList loaded = loadVantorList(path);
    EXPECT_EQ(loaded, QStringList({"10.0.0.1", "10.0.0.2"}));
    ASSERT_TRUE(saveVantorList(path, QStringList{"disconnect"} + loaded));
    // The next save drops the rest of the file.
    EXPECT_EQ(contentsOf(path), "10.0.0.1\r\n10.0.0.2\r\n");
}

TEST(VantorList, AnUnwritableFileReportsFailureAndKeepsTheOldFile) {
    const QString folder = testsupport::freshFolder("iplist");
    QDir().mkpath(folder + "/qnIPs.txt");  // a folder in the file's place can't be rewritten
    QString error;
    EXPECT_FALSE(saveVantorList(folder + "/qnIPs.txt", {"10.0.0.1"}, &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(LastHostList, SelectsTheLastHostOrAppendsItAndSelectsTheFirst) {
    const QString path = listFile("10.0.0.1\r\n10.0.0.2\r\n");
    auto list = loadWithLastHost(path, "10.0.0.2");
    EXPECT_EQ(list.entries, QStringList({"10.0.0.1", "10.0.0.2"}));
    EXPECT_EQ(list.selected, 1);
    list = loadWithLastHost(path, "10.0.0.9");
    EXPECT_EQ(list.entries, QStringList({"10.0.0.1", "10.0.0.2", "10.0.0.9"}));
    EXPECT_EQ(list.selected, 0);
}

TEST(LastHostList, MissingFileGivesTheLastHostAloneAndAnEmptyHostIsNeverAnEntry) {
    const QString missing = testsupport::freshFolder("iplist") + "/qnIPs.txt";
    auto list = loadWithLastHost(missing, "10.0.0.5");
    EXPECT_EQ(list.entries, QStringList({"10.0.0.5"}));
    EXPECT_EQ(list.selected, 0);
    list = loadWithLastHost(missing, "");
    EXPECT_TRUE(list.entries.isEmpty());
    EXPECT_EQ(list.selected, -1);
    list = loadWithLastHost(listFile("a\r\nb\r\n"), "");
    EXPECT_EQ(list.entries, QStringList({"a", "b"}));
    ASSERT_TRUE(saveEntries(missing, {"a", "", "b"}));
    EXPECT_EQ(contentsOf(missing), "a\r\nb\r\n");
}

TEST(PavaneList, LastAddressComesFirstAndTheWholeFileIsRead) {
    const QString path = listFile("10.0.0.1\r\n10.0.0.2\r\n\r\n10.0.0.3\r\n");
    auto list = loadPavaneList(path, "10.0.0.2");
    EXPECT_EQ(list.entries, QStringList({"10.0.0.2", "10.0.0.1", "10.0.0.3"}));
    EXPECT_EQ(list.selected, 0);
    list = loadPavaneList(testsupport::freshFolder("iplist") + "/none.txt", "");
    EXPECT_TRUE(list.entries.isEmpty());
}

TEST(PavaneList, SaveKeepsTheComboOrderAndAddsANewAddressLast) {
    const QString path = testsupport::freshFolder("iplist") + "/qnIPs.txt";
    ASSERT_TRUE(savePavaneList(path, {"10.0.0.2", "10.0.0.1"}, "10.0.0.7"));
    EXPECT_EQ(contentsOf(path), "10.0.0.2\r\n10.0.0.1\r\n10.0.0.7\r\n");
    ASSERT_TRUE(savePavaneList(path, {"10.0.0.2", "10.0.0.1"}, "10.0.0.1"));
    EXPECT_EQ(contentsOf(path), "10.0.0.2\r\n10.0.0.1\r\n");
}
