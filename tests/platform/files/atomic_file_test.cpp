#include "platform/files/atomic_file.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "tests/support/test_environment.h"

namespace {
QByteArray contentsOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
}  // namespace

TEST(AtomicFile, ReplacesTheWholeFileAndLeavesNoTemporaryBehind) {
    const QString folder = testsupport::freshFolder("atomic");
    const QString path = folder + "/list.txt";
    ASSERT_TRUE(platform::writeFileAtomically(path, "first version, longer\r\n"));
    ASSERT_TRUE(platform::writeFileAtomically(path, "second\r\n"));
    EXPECT_EQ(contentsOf(path), "second\r\n");
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{"list.txt"});
}

TEST(AtomicFile, AFailedRewriteKeepsTheOldFileAndSaysWhy) {
    const QString folder = testsupport::freshFolder("atomic");
    // A folder where the file should be can't be replaced by a file.
    ASSERT_TRUE(QDir().mkpath(folder + "/blocked"));
    QString error;
    EXPECT_FALSE(platform::writeFileAtomically(folder + "/blocked", "x", &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(platform::writeFileAtomically(folder + "/missing/folder/file", "x", &error));
}
