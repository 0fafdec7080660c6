#include "devsim/device_files.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "tests/support/test_environment.h"

TEST(DeviceFiles, SeedsTheRootWithFlashFolderAndFiles) {
    const QString root = testsupport::freshFolder("root");
    ASSERT_TRUE(devsim::DeviceFiles::seed(root));
    EXPECT_TRUE(QDir(root + "/MorvFlash").exists());
    EXPECT_TRUE(QFile::exists(root + "/Readme.txt"));
}

TEST(DeviceFiles, MapsDevicePathsIgnoringCaseAndNeverLeavesTheRoot) {
    const QString root = testsupport::freshFolder("root");
    ASSERT_TRUE(devsim::DeviceFiles::seed(root));
    devsim::DeviceFiles files(root);
    EXPECT_EQ(files.hostPath("\\morvflash\\AUTOSTART.BAT"), files.root() + "/MorvFlash/Autostart.bat");
    EXPECT_EQ(files.hostPath("\\"), files.root());
    EXPECT_EQ(files.hostPath("\\Temp\\new.txt"), files.root() + "/Temp/new.txt");
    EXPECT_FALSE(files.hostPath("\\..\\etc\\passwd"));
    EXPECT_FALSE(files.hostPath("\\Temp\\..\\..\\x"));
    EXPECT_FALSE(files.hostPath("C:\\x"));
}
