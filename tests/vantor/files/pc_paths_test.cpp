#include "vantor/files/pc_paths.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "tests/support/test_environment.h"

using namespace vantor::files;

TEST(PcPaths, StarDotStarMeansEveryFileAndQuestionMarkAloneIsOneName) {
    const QString dir = testsupport::freshFolder(QStringLiteral("pattern"));
    for (const char* name : {"b.txt", "a", "c.bin", "?x"}) {
        QFile f(dir + QLatin1Char('/') + QLatin1String(name));
        f.open(QIODevice::WriteOnly);
    }
    QDir(dir).mkdir(QStringLiteral("sub.d"));
    EXPECT_EQ(filesMatching(dir + QStringLiteral("/*.*")), (QStringList{"?x", "a", "b.txt", "c.bin"}));
    EXPECT_EQ(filesMatching(dir + QStringLiteral("/*.txt")), (QStringList{"b.txt"}));
    EXPECT_TRUE(isWildcardSource(dir + QStringLiteral("/*.txt")));
    EXPECT_FALSE(isWildcardSource(dir + QStringLiteral("/?x")));
}

TEST(PcPaths, DownloadTargetTakesTheDeviceNameOnlyInsideTheChosenFolder) {
    EXPECT_EQ(downloadTarget(QStringLiteral("/tmp/out/x.bin"), QStringLiteral("\\Temp\\a.txt")),
              "/tmp/out/x.bin");
    EXPECT_EQ(downloadTarget(QStringLiteral("/tmp/out/"), QStringLiteral("\\Temp\\a.txt")), "/tmp/out/a.txt");
    EXPECT_EQ(downloadTarget(QStringLiteral("/tmp/out/"), QStringLiteral("\\Temp\\..\\..\\/etc/passwd")),
              "/tmp/out/passwd");
    EXPECT_FALSE(downloadTarget(QStringLiteral("/tmp/out/"), QStringLiteral("\\Temp\\..")));
    EXPECT_FALSE(downloadTarget(QStringLiteral("/tmp/out/"), QStringLiteral("\\Temp\\")));
    EXPECT_FALSE(downloadTarget(QStringLiteral("/tmp/out/"), QStringLiteral("\\Temp\\x/..")));
}
