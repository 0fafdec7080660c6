#include "platform/ui/status_bar.h"

#include <gtest/gtest.h>

#include <QLabel>

#include "tests/support/accessible_names.h"

using platform::ui::StatusBar;

TEST(StatusBar, PanelsCarryTheirGivenNamesAndAreReadAsTheirText) {
    StatusBar bar({{QStringLiteral("progress"), 3}, {QStringLiteral("connection"), 2}});
    ASSERT_EQ(bar.panelCount(), 2);
    auto* connection = bar.findChild<QLabel*>(QStringLiteral("connection"));
    ASSERT_EQ(connection, bar.panel(2));
    bar.setPanelText(2, QStringLiteral("Connected to 127.0.0.5"));
    EXPECT_EQ(connection->text(), "Connected to 127.0.0.5");
    EXPECT_EQ(testsupport::accessibleName(connection), "Connected to 127.0.0.5");
    EXPECT_EQ(bar.panelText(1), "");
}

TEST(StatusBar, NumberedPanelsAndIndicesOutsideTheBarAreHarmless) {
    StatusBar bar(2);
    EXPECT_EQ(bar.panel(1)->objectName(), "panel1");
    EXPECT_EQ(bar.panel(2)->objectName(), "panel2");
    EXPECT_EQ(bar.panel(0), nullptr);
    EXPECT_EQ(bar.panel(3), nullptr);
    bar.setPanelText(3, QStringLiteral("lost"));
    EXPECT_EQ(bar.panelText(3), "");
    // Text from the network is shown as it is, never read as markup.
    bar.setPanelText(1, QStringLiteral("<b>x</b>"));
    EXPECT_EQ(bar.panel(1)->textFormat(), Qt::PlainText);
}
