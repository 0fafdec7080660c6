#include "platform/settings/settings_store.h"

#include <gtest/gtest.h>

#include <QFile>

#include "tests/support/test_environment.h"

using namespace platform;

TEST(SettingsStore, SavesAndReadsBackByApplicationSectionAndKey) {
    testsupport::resetFolders();
    EXPECT_EQ(GetSetting("Vantor", "Settings", "MainLeft", "500"), "500");
    SaveSetting("Vantor", "Settings", "MainLeft", "1230");
    SaveSetting("Lintra", "Settings", "MainLeft", "45");
    EXPECT_EQ(GetSetting("Vantor", "Settings", "MainLeft"), "1230");
    EXPECT_EQ(GetSetting("Lintra", "Settings", "MainLeft"), "45");
    EXPECT_EQ(GetSetting("Vantor", "Other", "MainLeft", "x"), "x");
    DeleteSetting("Vantor", "Settings", "MainLeft");
    EXPECT_EQ(GetSetting("Vantor", "Settings", "MainLeft", "d"), "d");
}

TEST(SettingsStore, KeepsValuesThatLookLikeSeparatorsOrNumbers) {
    testsupport::resetFolders();
    SaveSetting("Pavane", "Settings", "IP", "10.0.0.1");
    SaveSetting("Pavane", "Settings", "Path", "C:\\dir\\nk.bin");
    EXPECT_EQ(GetSetting("Pavane", "Settings", "IP"), "10.0.0.1");
    EXPECT_EQ(GetSetting("Pavane", "Settings", "Path"), "C:\\dir\\nk.bin");
    EXPECT_TRUE(QFile::exists(settingsFolder() + "/Pavane.ini"));
}
