#include "platform/ui/window_placement.h"

#include <gtest/gtest.h>

#include <QWidget>

#include "platform/settings/settings_store.h"

using namespace platform::ui;

TEST(WindowPlacement, StoredInTwipsAndRestoredToThePixelWithADefaultOf500Twips) {
    QWidget fresh;
    restoreWindowPosition(fresh, "PlacementTest", "Settings");
    EXPECT_EQ(fresh.pos(), QPoint(500 / kTwipsPerPixel, 500 / kTwipsPerPixel));

    QWidget window;
    window.move(40, 60);
    window.resize(300, 200);
    storeWindowPlacement(window, "PlacementTest", "Settings");
    EXPECT_EQ(platform::GetSetting("PlacementTest", "Settings", "MainLeft"), "600");
    EXPECT_EQ(platform::GetSetting("PlacementTest", "Settings", "MainTop"), "900");
    EXPECT_EQ(platform::GetSetting("PlacementTest", "Settings", "MainWidth").toInt(),
              window.frameGeometry().width() * kTwipsPerPixel);

    QWidget again;
    restoreWindowPosition(again, "PlacementTest", "Settings");
    EXPECT_EQ(again.pos(), QPoint(40, 60));
}
