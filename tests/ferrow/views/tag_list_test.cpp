#include <gtest/gtest.h>

#include <QHeaderView>
#include <QMenu>
#include <QTest>

#include "views_window.h"

using namespace ferrow;
using namespace viewstest;

namespace {
void clickColumn(CTagView& view, int column) {
    QHeaderView* header = view.header();
    const QPoint at(header->sectionViewportPosition(column) + 5, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
}

QStringList column(const ViewsWindow& window, int c) {
    QStringList texts;
    for (int row = 0; row < window.rows(); ++row) texts << window.cell(row, c);
    return texts;
}

void setOnDevice(devsim::SimulatedDevice& sim, const char* name, const char* hex) {
    sim.run([&] { sim.datapoints().setValue(name, hex); });
}
}  // namespace

TEST(TagList, ColumnsAndTheirWidths) {
    ViewsWindow window;
    auto* header = window.tags->header();
    ASSERT_EQ(window.tags->model()->columnCount(), 3);
    EXPECT_EQ(window.tags->model()->headerData(0, Qt::Horizontal).toString(), "Name");
    EXPECT_EQ(window.tags->model()->headerData(1, Qt::Horizontal).toString(), "Type");
    EXPECT_EQ(window.tags->model()->headerData(2, Qt::Horizontal).toString(), "Value");
    EXPECT_EQ(header->sectionSize(0), 110);
    EXPECT_EQ(header->sectionSize(1), 80);
    EXPECT_EQ(header->sectionSize(2), 80);

    // The "Tag" menu offers only a disabled "Properties...".
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10),
                            window.tags->viewport()->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(window.tags->viewport(), &event);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->title(), "Tag");
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions()[0]->text(), "Properties...");
    EXPECT_FALSE(menu->actions()[0]->isEnabled());
    menu->close();
}

// Monitoring: the value timer runs, pushed values show in the value column by type, and the qualities
// show as the list shows them.
TEST(TagList, MonitoringShowsLiveValuesByTypeAndQuality) {
    auto sim = testsupport::startDevice();
    ASSERT_TRUE(sim);
    ViewsWindow window;
    ODevice* plant = window.newDevice("Plant", sim->options().address);
    ASSERT_TRUE(window.loaded(plant));
    EXPECT_EQ(window.valueOf("Level"), "");  // not monitoring: no values

    window.commands->updateStates();
    ASSERT_TRUE(window.commands->monitor->isEnabled());
    window.commands->monitor->trigger();
    EXPECT_TRUE(window.commands->monitor->isChecked());
    EXPECT_TRUE(window.tags->valueTimerRunning());
    int subscriptions = 0;
    ASSERT_TRUE(waitFor([&] {
        sim->run([&] { subscriptions = sim->datapoints().subscriptionCount(); });
        return subscriptions == 11;
    }));
    // No value has come yet: uncertain, and of no type.
    ASSERT_TRUE(waitFor([&] { return window.valueOf("Level") == "? (uncertain)"; }));

    setOnDevice(*sim, "Level", "0000C03F");    // VT_R4 1.5
    setOnDevice(*sim, "Counter", "FFFFFFFF");  // VT_I4 -1
    setOnDevice(*sim, "Pressure", "FFFF");     // VT_I2 -1
    setOnDevice(*sim, "Alarm", "FFFF");        // VT_BOOL true
    setOnDevice(*sim, "Valve", "0000");        // VT_BOOL false
    setOnDevice(*sim, "Status", "FE");         // VT_UI1 254
    EXPECT_TRUE(waitFor([&] { return window.valueOf("Status") == "254"; }));
    EXPECT_EQ(window.valueOf("Level"), "1.5");
    EXPECT_EQ(window.valueOf("Counter"), "4294967295");
    EXPECT_EQ(window.valueOf("Pressure"), "65535");
    EXPECT_EQ(window.valueOf("Alarm"), "On");
    EXPECT_EQ(window.valueOf("Valve"), "Off");
    EXPECT_EQ(window.valueOf("Speed"), "? (uncertain)");
    window.commands->updateStates();
    EXPECT_FALSE(window.commands->deleteSelection->isEnabled());  // monitoring

    // The device closes its notification connection: every value is bad, the device not connected.
    sim->run([&] { sim->datapoints().closeNotificationConnections(); });
    EXPECT_TRUE(
        waitFor([&] { return window.valueOf("Level") == "Bad" && window.valueOf("Speed") == "Bad"; }));
    EXPECT_TRUE(waitFor([&] { return window.imageOf(plant) == 3; }));

    window.commands->monitor->trigger();
    EXPECT_FALSE(window.commands->monitor->isChecked());
    EXPECT_FALSE(window.tags->valueTimerRunning());
    EXPECT_EQ(window.valueOf("Level"), "");  // refilled
}

// Alternating direction per column; Name ignores case; Type and Value order by their text.
TEST(TagList, ColumnClicksSortAscendingDescendingAscending) {
    auto sim = testsupport::startDevice();
    ASSERT_TRUE(sim);
    ViewsWindow window;
    ODevice* plant = window.newDevice("Plant", sim->options().address);
    ASSERT_TRUE(window.loaded(plant));
    const QStringList listOrder = column(window, 0);
    QStringList ascending = listOrder;
    std::sort(ascending.begin(), ascending.end(), [](const QString& a, const QString& b) {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    });
    QStringList descending(ascending.rbegin(), ascending.rend());

    clickColumn(*window.tags, 0);
    EXPECT_EQ(column(window, 0), ascending);
    EXPECT_EQ(window.tags->sortColumn(), 0);
    clickColumn(*window.tags, 0);
    EXPECT_EQ(column(window, 0), descending);
    EXPECT_EQ(window.tags->sortColumn(), CTagView::kNoSortColumn);
    clickColumn(*window.tags, 0);
    EXPECT_EQ(column(window, 0), ascending);

    // Type: Input before Output; equal texts keep the order they had (here: by name, descending after
    // the next click reversed nothing else).
    clickColumn(*window.tags, 1);
    const QStringList types = column(window, 1);
    EXPECT_EQ(types.indexOf("Output"), types.count("Input"));
    EXPECT_EQ(column(window, 0).first(), "Alarm");
    clickColumn(*window.tags, 1);
    EXPECT_EQ(column(window, 1).first(), "Output");

    // A refill forgets the sort column: the next click on it sorts ascending again.
    clickColumn(*window.tags, 0);
    window.doc.UpdateAllViews(kHintSelection);
    EXPECT_EQ(column(window, 0), listOrder);
    EXPECT_EQ(window.tags->sortColumn(), CTagView::kNoSortColumn);
    clickColumn(*window.tags, 0);
    EXPECT_EQ(column(window, 0), ascending);
}
