// Sub-groups of a device in the configuration tree: three levels below the device are shown, groups
// carry the group image (its selected form the next one up), and a group added to a list appears in
// its list's order.

#include <gtest/gtest.h>

#include "ferrow/app/views/tree_images.h"
#include "ferrow/model/locks.h"
#include "views_window.h"

using namespace ferrow;
using namespace viewstest;

namespace {

// A group named `name` at `position` of `parent`'s list.
OTagGroup* addGroup(OTagGroup& parent, const std::string& name, std::size_t position) {
    std::lock_guard lock(documentLock());
    auto group = std::make_unique<OTagGroup>();
    group->m_strName = name;
    group->m_pParent = &parent;
    OTagGroup* added = group.get();
    parent.m_groups.insert(parent.m_groups.begin() + static_cast<std::ptrdiff_t>(position), std::move(group));
    return added;
}

QStringList childNames(QTreeWidgetItem* item) {
    QStringList names;
    for (int i = 0; i < item->childCount(); ++i) names << item->child(i)->text(0);
    return names;
}

}  // namespace

TEST(SubGroupTree, ThreeLevelsBelowTheDeviceWithTheGroupImageInListOrder) {
    auto sim = testsupport::startDevice();
    ASSERT_TRUE(sim);
    ViewsWindow window;
    ODevice* plant = window.newDevice("Plant", sim->options().address);
    ASSERT_NE(plant, nullptr);
    ASSERT_TRUE(window.loaded(plant));  // the load's own rebuild is over
    const std::size_t loadedGroups = plant->m_groups.size();

    OTagGroup* area = addGroup(*plant, "Area", loadedGroups);
    OTagGroup* line = addGroup(*area, "Line", 0);
    OTagGroup* cell = addGroup(*line, "Cell", 0);
    OTagGroup* station = addGroup(*cell, "Station", 0);
    window.doc.UpdateAllViews(kHintRebuild);
    ASSERT_NE(window.itemOf(area), nullptr);
    ASSERT_NE(window.itemOf(line), nullptr);
    ASSERT_NE(window.itemOf(cell), nullptr);
    EXPECT_EQ(window.itemOf(area)->parent(), window.itemOf(plant));
    EXPECT_EQ(window.itemOf(line)->parent(), window.itemOf(area));
    EXPECT_EQ(window.itemOf(cell)->parent(), window.itemOf(line));
    EXPECT_EQ(window.itemOf(station), nullptr);  // a fourth level is not shown
    EXPECT_EQ(window.itemOf(cell)->childCount(), 0);

    for (OTagGroup* group : {area, line, cell}) {
        EXPECT_EQ(window.imageOf(group), kImageNotConnected) << group->m_strName;
        const QIcon icon = window.itemOf(group)->icon(0);
        EXPECT_EQ(icon.pixmap(kImageSize, QIcon::Normal).toImage(), treeImage(3).toImage());
        EXPECT_EQ(icon.pixmap(kImageSize, QIcon::Selected).toImage(), treeImage(4).toImage());
    }

    // Added groups go where their list has them: after the group before them, or first.
    OTagGroup* zone = addGroup(*area, "Zone", 1);
    window.doc.UpdateAllViews(kHintAdded, zone);
    OTagGroup* middle = addGroup(*area, "Middle", 1);
    window.doc.UpdateAllViews(kHintAdded, middle);
    OTagGroup* front = addGroup(*area, "Front", 0);
    window.doc.UpdateAllViews(kHintAdded, front);
    EXPECT_EQ(childNames(window.itemOf(area)), (QStringList{"Front", "Line", "Middle", "Zone"}));
    EXPECT_EQ(window.tree->currentItem(), window.itemOf(front));
    EXPECT_EQ(window.imageOf(middle), kImageNotConnected);
    // A rebuild shows the same order.
    window.doc.UpdateAllViews(kHintRebuild);
    EXPECT_EQ(childNames(window.itemOf(area)), (QStringList{"Front", "Line", "Middle", "Zone"}));
}
