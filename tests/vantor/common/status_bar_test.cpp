#include "vantor/common/status_bar.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QWidget>

#include "vantor/common/c_mouser.h"
#include "vantor/common/c_status_bar.h"

using namespace vantor;

TEST(CStatusBar, WrappersEndedInReverseOrderLeaveTheFirstText) {
    StatusBar bar(2);
    bar.setPanelText(1, "Ready");
    {
        CStatusBar outer;
        outer.Init(&bar, 1);
        outer.setText("Copying a.txt");
        {
            CStatusBar inner;
            inner.Init(&bar, 1);
            inner.setText("Copying b.txt");
            EXPECT_EQ(bar.panel(1)->text(), "Copying b.txt");
        }
        EXPECT_EQ(bar.panel(1)->text(), "Copying a.txt");
    }
    EXPECT_EQ(bar.panel(1)->text(), "Ready");
    EXPECT_EQ(bar.panelText(2), "");
}

TEST(CStatusBar, PlainWrapperWritesTheMainBarAndKeepsItsText) {
    StatusBar bar(1);
    setMainStatusBar(&bar);
    bar.setPanelText(1, "old");
    {
        CStatusBar status;
        status.setText("Connected to 10.0.0.1");
        EXPECT_EQ(status.Text(), "Connected to 10.0.0.1");
        EXPECT_FALSE(status.Reset());
    }
    EXPECT_EQ(bar.panelText(1), "Connected to 10.0.0.1");
    setMainStatusBar(nullptr);
}

TEST(CStatusBar, OutlivingItsStatusBarIsHarmless) {
    CStatusBar status;
    {
        StatusBar bar(1);
        status.Init(&bar, 1);
        status.setText("x");
    }
    status.setText("y");
    EXPECT_EQ(status.Text(), "");
}

TEST(CMouser, RestoresThePreviousPointerOfScreenAndWindow) {
    QWidget window;
    {
        CMouser outer;
        outer.SetBusy(Screen);
        EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        {
            CMouser inner;
            inner.SetCursor(Screen, pointer::Cross);
            inner.SetBusy(&window);  // releases the screen first
            EXPECT_EQ(MousePointer(Screen), pointer::Hourglass);
            EXPECT_EQ(MousePointer(&window), pointer::Hourglass);
            EXPECT_EQ(window.cursor().shape(), Qt::WaitCursor);
        }
        EXPECT_EQ(MousePointer(&window), pointer::Default);
        EXPECT_EQ(MousePointer(Screen), pointer::Hourglass);
        outer.ReleaseLinks();
        EXPECT_EQ(MousePointer(Screen), pointer::Default);
    }
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}
