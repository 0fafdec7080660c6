// The main window's controls, size limits, layout and stored placement.
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>

#include "platform/settings/settings_store.h"
#include "tests/vantor/shell/main_window_fixture.h"
#include "vantor/common/status_bar.h"

using namespace vantortest;
using MainWindow = MainWindowTest;

TEST_F(MainWindow, StartsRestrictedWithItsMenusAndVersion) {
    open();
    EXPECT_EQ(window->windowTitle(), "Vantor");
    EXPECT_EQ(window->Label1->text(), "Morvane VoRezav1 Client");
    EXPECT_TRUE(
        QRegularExpression("^\\d+\\.\\d\\d\\.\\d\\d\\d\\d$").match(window->lbVersion->text()).hasMatch())
        << window->lbVersion->text().toStdString();
    QStringList menu;
    for (QMenu* m : {window->mnuFile, window->mnuLog, window->mnuTools, window->mnuBoot, window->mnuAbout}) {
        QStringList items;
        for (QAction* a : m->actions()) items << (a->isSeparator() ? "-" : a->text());
        menu << m->title() + ": " + items.join(", ");
    }
    EXPECT_EQ(menu, (QStringList{"&File: Copy to &CE, Copy to &PC, -, &Directory view, -, &Exit",
                                 "&Log: &Clear, &Show",
                                 "Tools: Clock, IP Address, Gateway Address, Subnet Mask, Boot",
                                 "Boot: Warm, Cold, Flash", "About: About"}));
    // Restricted at start: no cold or flash boot, bold status text.
    EXPECT_FALSE(window->mnuBCold->isVisible());
    EXPECT_FALSE(window->mnuBFlash->isVisible());
    EXPECT_TRUE(window->mnuBWarm->isVisible());
    EXPECT_TRUE(window->sbStatus->panel(1)->font().bold());
    EXPECT_FALSE(deviceCommandsEnabled());
}

TEST_F(MainWindow, SizeIsLimitedToStartSizeAndScreenLess50) {
    open();
    const QSize screen = window->screen()->size();
    EXPECT_EQ(window->minimumSize(), window->startSize());
    EXPECT_EQ(window->maximumSize(), screen - QSize(50, 50));
    window->resize(10, 10);
    EXPECT_EQ(window->size(), window->startSize());
}

TEST_F(MainWindow, ControlsKeepTheirDistancesToTheRightAndBottomEdges) {
    open();
    const QRect frame2 = window->Frame2->geometry();
    const QRect exit = window->cbExit->geometry();
    const QRect log = window->cbLog->geometry();
    const QRect list = window->lbIPs->geometry();
    const QRect command = window->tbCmd->geometry();
    window->resize(window->size() + QSize(10, 90));
    EXPECT_EQ(window->Frame2->geometry(), frame2.adjusted(0, 0, 10, 90));
    EXPECT_EQ(window->cbExit->geometry(), exit.translated(10, 90));
    EXPECT_EQ(window->cbLog->geometry(), log.translated(0, 90));
    EXPECT_EQ(window->tbCmd->geometry(), command.adjusted(0, 0, 10, 0));
    EXPECT_EQ(window->lbIPs->height(), list.height() + 90);  // 1350 twips: beyond the 200 threshold
    window->resize(window->size() - QSize(0, 6));            // 90 twips less: within the 100 threshold
    EXPECT_EQ(window->lbIPs->height(), list.height() + 90);
    window->resize(window->size() - QSize(0, 10));
    EXPECT_EQ(window->lbIPs->height(), list.height() + 74);
}

TEST_F(MainWindow, PlacementIsStoredInTwipsWhenItCloses) {
    open();
    window->resize(window->size() + QSize(20, 10));
    const QRect g = window->frameGeometry();
    window->close();
    const auto setting = [](const char* key) { return platform::GetSetting("Vantor", "Settings", key); };
    EXPECT_EQ(setting("MainLeft"), QString::number(g.x() * 15));
    EXPECT_EQ(setting("MainTop"), QString::number(g.y() * 15));
    EXPECT_EQ(setting("MainWidth"), QString::number(g.width() * 15));
    EXPECT_EQ(setting("MainHeight"), QString::number(g.height() * 15));
}
