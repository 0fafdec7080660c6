#include "vantor/shell/window_layout.h"

#include <gtest/gtest.h>

using vantor::WindowLayout;

TEST(WindowLayout, KeepsRightAndBottomMarginsByMovingOrSizing) {
    WindowLayout layout;
    const QSize form(9000, 6000);
    const int moving =
        layout.record(WindowLayout::MoveLeft | WindowLayout::MoveTop, {7000, 5000, 1000, 400}, form);
    const int sizing =
        layout.record(WindowLayout::SizeWidth | WindowLayout::SizeHeight, {300, 600, 6000, 4000}, form);
    EXPECT_EQ(layout.rightMargin(moving), 1000);
    EXPECT_EQ(layout.bottomMargin(moving), 600);

    const QSize bigger(10500, 7500);
    EXPECT_EQ(layout.place(moving, {7000, 5000, 1000, 400}, bigger), QRect(8500, 6500, 1000, 400));
    EXPECT_EQ(layout.place(sizing, {300, 600, 6000, 4000}, bigger), QRect(300, 600, 7500, 5500));
    // A minimized window: sizes stop at zero instead of going negative.
    EXPECT_EQ(layout.place(sizing, {300, 600, 6000, 4000}, QSize(0, 0)), QRect(300, 600, 0, 0));
}

TEST(WindowLayout, ListHeightFollowsOnlyBeyondItsThresholds) {
    WindowLayout layout;
    const QSize form(9000, 6000);
    const int list =
        layout.record(WindowLayout::SizeHeight | WindowLayout::Hysteresis, {150, 300, 2500, 4500}, form);
    const QRect start(150, 300, 2500, 4500);
    EXPECT_EQ(layout.place(list, start, QSize(9000, 6200)).height(), 4500);  // 200 more: not yet
    EXPECT_EQ(layout.place(list, start, QSize(9000, 6215)).height(), 4715);  // beyond 200: grows
    EXPECT_EQ(layout.place(list, start, QSize(9000, 5900)).height(), 4500);  // 100 less: stays
    EXPECT_EQ(layout.place(list, start, QSize(9000, 5885)).height(), 4385);  // beyond 100: shrinks
}
