#include <gtest/gtest.h>

#include <QContextMenuEvent>
#include <QDeadlineTimer>
#include <QMenu>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>

#include "platform/ui/time_scale.h"
#include "views_window.h"

using namespace ferrow;
using namespace viewstest;

namespace {
std::unique_ptr<devsim::SimulatedDevice> slowDevice(int replyDelayMs) {
    auto sim = testsupport::startDevice();
    if (sim) sim->datapoints().faults().replyDelayMs = replyDelayMs;
    return sim;
}

// Runs `act` on the context menu as soon as it is open (the right click waits for it to close).
void onNextPopup(std::function<void(QMenu&)> act) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu || !menu->isVisible()) return;
        timer->stop();
        timer->deleteLater();
        act(*menu);
    });
    timer->start();
}

void rightClick(CDeviceView& tree, const QPoint& at) {
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, tree.viewport()->mapToGlobal(at));
    QApplication::sendEvent(tree.viewport(), &event);
}
}  // namespace

// A new device shows "not connected" until the timer tick after its connection, then "connected"; once
// its tags are in, the tree is rebuilt and the tag list fills.
TEST(DeviceTree, NewDeviceConnectsAndLoadsItsTags) {
    auto sim = slowDevice(100);  // the load takes over a second: the state before it can be seen
    ASSERT_TRUE(sim);
    ViewsWindow window;
    EXPECT_TRUE(window.tree->tagLoadingRunning());
    ODevice* boiler = window.newDevice("Boiler", sim->options().address);
    ASSERT_NE(boiler, nullptr);
    EXPECT_EQ(boiler->m_strName, "Boiler");
    ASSERT_EQ(window.tree->topLevelItemCount(), 1);
    EXPECT_EQ(window.tree->currentItem(), window.itemOf(boiler));
    EXPECT_EQ(window.imageOf(boiler), 3);
    EXPECT_EQ(window.tree->currentItem()->text(0), "Boiler");

    ASSERT_TRUE(waitFor([&] { return window.imageOf(boiler) == 1; }));
    EXPECT_FALSE(boiler->m_bTagsLoaded);
    EXPECT_EQ(window.rows(), 0);
    window.commands->updateStates();
    EXPECT_EQ(window.commands->selectionPaneText(), "Boiler has 0 Tags");

    ASSERT_TRUE(window.loaded(boiler));
    EXPECT_EQ(window.rows(), 11);
    EXPECT_EQ(window.cell(0, 0), "Alarm");
    EXPECT_EQ(window.cell(0, 1), "Input");
    EXPECT_EQ(window.cell(10, 0), "Valve");
    EXPECT_EQ(window.cell(10, 1), "Output");
    EXPECT_EQ(window.imageOf(boiler), 1);
    EXPECT_EQ(window.tree->currentItem(), window.itemOf(boiler));
    EXPECT_EQ(window.commands->selectionPaneText(), "Boiler has 11 Tags");
    EXPECT_EQ(window.doc.m_cfPrivate, RegisterClipboardFormat("FERROW"));
}

TEST(DeviceTree, DevicesInNameOrderAndSelectionChangesRefillTheList) {
    auto sim = testsupport::startDevice();
    ASSERT_TRUE(sim);
    ViewsWindow window;
    ODevice* plant = window.newDevice("Plant", sim->options().address);
    ASSERT_TRUE(window.loaded(plant));
    // Nobody listens at this one: it stays not connected.
    ODevice* alpha = window.newDevice("alpha", testsupport::uniqueLoopbackAddress());
    ASSERT_EQ(window.tree->topLevelItemCount(), 2);
    EXPECT_EQ(window.tree->topLevelItem(0), window.itemOf(alpha));
    EXPECT_EQ(window.tree->currentItem(), window.itemOf(alpha));
    EXPECT_EQ(window.rows(), 0);
    // Its connection attempt is refused; until then the pane says it is connecting.
    EXPECT_TRUE(waitFor([&] {
        window.commands->updateStates();
        return window.commands->selectionPaneText() == "alpha has 0 Tags";
    })) << window.commands->selectionPaneText().toStdString();

    window.tree->setCurrentItem(window.itemOf(plant));
    EXPECT_EQ(window.doc.m_pSelection.load(), plant);
    EXPECT_EQ(window.rows(), 11);

    // A right click selects for the commands without moving the highlight or the list.
    const QRect alphaRect = window.tree->visualItemRect(window.itemOf(alpha));
    QString title;
    QStringList items;
    OTagGroup* selectedWhileOpen = nullptr;
    int rowsWhileOpen = 0;
    onNextPopup([&](QMenu& menu) {
        selectedWhileOpen = window.doc.m_pSelection.load();
        rowsWhileOpen = window.rows();
        title = menu.title();
        for (QAction* action : menu.actions())
            items << action->text() + (action->isEnabled() ? "" : " (disabled)");
        menu.close();
    });
    rightClick(*window.tree, alphaRect.center());
    EXPECT_EQ(selectedWhileOpen, alpha);
    EXPECT_EQ(rowsWhileOpen, 11);
    EXPECT_EQ(title, "Device");
    EXPECT_EQ(items, QStringList({"&Delete", "Pr&operties...", "Connect", "Simulate (disabled)"}));
    // Closed without a command: the selection is the highlighted item again, so Del and Ctrl+P act on
    // what the user sees.
    EXPECT_EQ(window.tree->currentItem(), window.itemOf(plant));
    EXPECT_EQ(window.doc.m_pSelection.load(), plant);

    // Beside every item: no menu.
    rightClick(*window.tree, QPoint(5, window.tree->viewport()->height() - 5));
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);

    // Deleting the first device leaves nothing selected and the list empty.
    window.tree->setCurrentItem(window.itemOf(alpha));
    window.commands->updateStates();
    window.key(Qt::Key_Delete);
    ASSERT_EQ(window.tree->topLevelItemCount(), 1);
    EXPECT_EQ(window.doc.m_pSelection.load(), nullptr);
    EXPECT_EQ(window.rows(), 0);
    EXPECT_EQ(window.commands->selectionPaneText(), "");
}

// A device that stops answering in the middle of its list: the load ends within the reply limit, the
// device shows as not connected, and after Connect its whole list comes.
TEST(DeviceTree, DeviceFallingSilentDuringTheLoad) {
    platform::setTimeScale(0.1);  // reply limit 1 s
    const auto restoreScale = qScopeGuard([] { platform::setTimeScale(1.0); });
    auto sim = testsupport::startDevice();
    ASSERT_TRUE(sim);
    sim->datapoints().faults().repliesBeforeSilence = 5;
    ViewsWindow window;
    ODevice* plant = window.newDevice("Plant", sim->options().address);
    ASSERT_TRUE(waitFor([&] { return window.tree->loadingDevice() == plant; }));
    int paints = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++paints; });
    ticker.start(10);
    ASSERT_TRUE(waitFor([&] { return window.tree->loadingDevice() == nullptr; }, 60s));
    EXPECT_GE(paints, 3);  // the window's events ran during the load (a blocked window ticks once)
    EXPECT_FALSE(plant->m_bTagsLoaded);
    EXPECT_TRUE(plant->m_tags.empty());
    EXPECT_FALSE(plant->IsConnected());
    EXPECT_EQ(window.imageOf(plant), 3);
    window.commands->updateStates();
    EXPECT_TRUE(window.commands->connectDevice->isEnabled());

    sim->datapoints().faults().silent = false;
    window.commands->connectDevice->trigger();
    EXPECT_TRUE(window.loaded(plant));
    EXPECT_EQ(plant->m_tags.size(), 11u);
    EXPECT_EQ(window.imageOf(plant), 1);
}

// New (and Open, and the end of the program) while a device that has stopped answering is loading its
// tags: the load is cut short at once instead of waiting for the device's reply limit, and the worker
// never touches the deleted device.
TEST(DeviceTree, NewDocumentCutsARunningLoadShort) {
    // A reply limit of a minute: a New that waited for it would run into the hang limit below.
    platform::setTimeScale(6.0);
    const auto restoreScale = qScopeGuard([] { platform::setTimeScale(1.0); });
    auto sim = testsupport::startDevice();
    ASSERT_TRUE(sim);
    sim->datapoints().faults().repliesBeforeSilence = 3;
    ViewsWindow window;
    ODevice* plant = window.newDevice("Plant", sim->options().address);
    ASSERT_TRUE(waitFor([&] { return window.tree->loadingDevice() == plant; }));
    EXPECT_EQ(plant->m_nUseCount, 1);
    window.commands->updateStates();
    EXPECT_FALSE(window.commands->deleteSelection->isEnabled());  // the loader holds the device

    const QDeadlineTimer hangLimit(30s);
    ASSERT_TRUE(window.doc.OnNewDocument());
    EXPECT_FALSE(hangLimit.hasExpired());
    EXPECT_EQ(window.tree->loadingDevice(), nullptr);
    EXPECT_EQ(window.tree->topLevelItemCount(), 0);
    EXPECT_EQ(window.doc.DeviceCount(), 0u);
    EXPECT_EQ(window.rows(), 0);
}
