// The user file: salted hashes only, passwords checked, users replaced and removed, the file private.
#include "ferrow/ua/user_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QFile>

#include "tests/support/test_environment.h"

namespace ferrow::ua {
namespace {

class UserStoreTest : public ::testing::Test {
  protected:
    UserStore users{testsupport::freshFolder(QStringLiteral("data")) +
                    QStringLiteral("/quillon/ferrow/ua-users")};

    QByteArray fileContents() const {
        QFile file(users.path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

TEST_F(UserStoreTest, AddedUsersLogInWithTheirPasswordOnly) {
    QString error;
    ASSERT_TRUE(users.add("operator", "s3cret pass", &error)) << error.toStdString();
    ASSERT_TRUE(users.add("engineer", "other", &error)) << error.toStdString();
    EXPECT_TRUE(users.verify("operator", "s3cret pass"));
    EXPECT_TRUE(users.verify("engineer", "other"));
    EXPECT_FALSE(users.verify("operator", "other"));
    EXPECT_FALSE(users.verify("operator", "s3cret pas"));
    EXPECT_FALSE(users.verify("operator", ""));
    EXPECT_FALSE(users.verify("nobody", "s3cret pass"));
    EXPECT_FALSE(users.verify("", ""));

    const QByteArray contents = fileContents();
    EXPECT_FALSE(contents.contains("s3cret")) << "only hashes are kept";
    EXPECT_EQ(contents.count('\n'), 2);
    EXPECT_TRUE(contents.contains(":pbkdf2-sha256:100000:"));
    struct stat status {};
    ASSERT_EQ(::stat(QFile::encodeName(users.path()).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
}

TEST_F(UserStoreTest, SamePasswordTwiceGivesDifferentHashes) {
    ASSERT_TRUE(users.add("a", "same"));
    ASSERT_TRUE(users.add("b", "same"));
    const QList<QByteArray> lines = fileContents().trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2);
    EXPECT_NE(lines[0].mid(lines[0].indexOf(':')), lines[1].mid(lines[1].indexOf(':')));
}

TEST_F(UserStoreTest, AddingAgainReplacesThePassword) {
    ASSERT_TRUE(users.add("operator", "first"));
    ASSERT_TRUE(users.add("operator", "second"));
    EXPECT_FALSE(users.verify("operator", "first"));
    EXPECT_TRUE(users.verify("operator", "second"));
    EXPECT_EQ(fileContents().count('\n'), 1);
}

TEST_F(UserStoreTest, RemovedUsersAreGoneAndUnknownOnesSaySo) {
    ASSERT_TRUE(users.add("operator", "pw"));
    ASSERT_TRUE(users.add("engineer", "pw2"));
    QString error;
    EXPECT_TRUE(users.remove("operator", &error)) << error.toStdString();
    EXPECT_FALSE(users.contains("operator"));
    EXPECT_FALSE(users.verify("operator", "pw"));
    EXPECT_TRUE(users.verify("engineer", "pw2"));
    EXPECT_FALSE(users.remove("operator", &error));
    EXPECT_TRUE(error.contains(QStringLiteral("operator")));
}

TEST_F(UserStoreTest, BadNamesAndPasswordsAreRefused) {
    QString error;
    const std::string longName(UserStore::kMaximumNameLength + 1, 'n');
    for (const std::string_view name : {std::string_view(""), std::string_view("a:b"),
                                        std::string_view("a\nb"), std::string_view(longName)}) {
        error.clear();
        EXPECT_FALSE(users.add(name, "pw", &error));
        EXPECT_FALSE(error.isEmpty());
    }
    EXPECT_FALSE(users.add("operator", "", &error));
    EXPECT_FALSE(users.add("operator", std::string(UserStore::kMaximumPasswordLength + 1, 'p'), &error));
    EXPECT_FALSE(QFile::exists(users.path()));
}

TEST_F(UserStoreTest, LinesItCannotReadAreKeptAndNeverMatch) {
    ASSERT_TRUE(users.add("operator", "pw"));
    {
        QFile file(users.path());
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write("legacy:plain:pw\n");
    }
    EXPECT_FALSE(users.verify("legacy", "pw"));
    ASSERT_TRUE(users.add("engineer", "pw2"));
    EXPECT_TRUE(fileContents().contains("legacy:plain:pw\n"));
    EXPECT_TRUE(users.verify("operator", "pw"));
}

}  // namespace
}  // namespace ferrow::ua
