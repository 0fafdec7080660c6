#include "ferrow/app/recent_file_list.h"

#include <gtest/gtest.h>

#include <QFile>

#include "platform/settings/settings_store.h"
#include "tests/support/test_environment.h"

using ferrow::RecentFileList;

namespace {

QString makeFile(const QString& folder, const QString& name) {
    const QString path = folder + QLatin1Char('/') + name;
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    return path;
}

QString stored(int n) {
    return platform::GetSetting(QStringLiteral("Ferrow"), QStringLiteral("Recent File List"),
                                QStringLiteral("File%1").arg(n));
}

class RecentFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        testsupport::resetFolders();
        folder = testsupport::freshFolder(QStringLiteral("recent"));
    }
    QString folder;
};

}  // namespace

TEST_F(RecentFiles, NewestFirstFourAtMostNoDuplicates) {
    RecentFileList list;
    list.ReadList();
    QStringList paths;
    for (int i = 1; i <= 5; ++i) paths << makeFile(folder, QStringLiteral("c%1.tdb").arg(i));
    for (const QString& path : paths) list.Add(path);
    EXPECT_EQ(list.files(), (QStringList{paths[4], paths[3], paths[2], paths[1]}));
    list.Add(paths[2]);
    EXPECT_EQ(list.files(), (QStringList{paths[2], paths[4], paths[3], paths[1]}));
    list.Remove(paths[4]);
    EXPECT_EQ(list.files(), (QStringList{paths[2], paths[3], paths[1]}));

    list.WriteList();
    EXPECT_EQ(stored(1), paths[2]);
    EXPECT_EQ(stored(3), paths[1]);
    EXPECT_EQ(stored(4), QString());
}

// A share or a disk may be away for a while: its files keep their places until one is opened.
TEST_F(RecentFiles, FilesThatAreMissingKeepTheirPlacesWhenRead) {
    const QString kept = makeFile(folder, QStringLiteral("kept.tdb"));
    const QString gone = folder + QStringLiteral("/gone.tdb");
    for (int n = 1; n <= 2; ++n)
        platform::SaveSetting(QStringLiteral("Ferrow"), QStringLiteral("Recent File List"),
                              QStringLiteral("File%1").arg(n), n == 1 ? gone : kept);
    EXPECT_EQ(RecentFileList::storedFirstFile(), gone);
    RecentFileList list;
    list.ReadList();
    EXPECT_EQ(list.files(), (QStringList{gone, kept}));
    list.WriteList();
    EXPECT_EQ(stored(1), gone);
    EXPECT_EQ(stored(2), kept);
}

TEST_F(RecentFiles, AListNeverReadIsNeverWritten) {
    const QString kept = makeFile(folder, QStringLiteral("kept.tdb"));
    platform::SaveSetting(QStringLiteral("Ferrow"), QStringLiteral("Recent File List"),
                          QStringLiteral("File1"), kept);
    RecentFileList list;
    list.WriteList();
    EXPECT_EQ(stored(1), kept);
}
