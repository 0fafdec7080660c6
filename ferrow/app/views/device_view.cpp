#include "ferrow/app/views/device_view.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <map>
#include <mutex>
#include <string>

#include "ferrow/app/views/tree_images.h"
#include "ferrow/model/cdoc.h"
#include "ferrow/model/device.h"

namespace ferrow {

namespace {
// Groups are shown down to this many levels below their device.
constexpr int kGroupLevels = 3;

void forgetItems(OTagGroup& group) {
    group.m_hTreeItem = nullptr;
    for (const auto& child : group.m_groups) forgetItems(*child);
}
}  // namespace

unsigned RegisterClipboardFormat(const char* name) {
    static std::mutex lock;
    static std::map<std::string, unsigned> formats;
    std::lock_guard guard(lock);
    return formats.emplace(name, 0xC000u + static_cast<unsigned>(formats.size())).first->second;
}

CDeviceView::CDeviceView(CDoc& doc, QWidget* parent) : QTreeWidget(parent), doc_(doc) {
    setObjectName(QStringLiteral("CDeviceView"));
    setColumnCount(1);
    setHeaderHidden(true);
    setRootIsDecorated(true);
    setItemsExpandable(true);
    setIconSize(QSize(kImageSize, kImageSize));
    setSelectionMode(QAbstractItemView::SingleSelection);
    doc_.m_pDeviceView = this;
    tagTimer_.setInterval(kTagLoadingPeriod);
    connect(&tagTimer_, &QTimer::timeout, this, &CDeviceView::OnTimer);
    connect(&loader_, &TagLoader::loaded, this, &CDeviceView::OnTagsLoaded, Qt::DirectConnection);
    connect(this, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current) { OnSelChanged(current); });
}

CDeviceView::~CDeviceView() {
    loader_.cancel();
    if (doc_.m_pDeviceView == this) doc_.m_pDeviceView = nullptr;
}

OTagGroup* CDeviceView::objectOf(const QTreeWidgetItem* item) {
    return item ? reinterpret_cast<OTagGroup*>(item->data(0, kObjectRole).value<quintptr>()) : nullptr;
}

int CDeviceView::imageOf(const QTreeWidgetItem* item) {
    return item ? item->data(0, kImageRole).toInt() : -1;
}

QTreeWidgetItem* CDeviceView::itemOf(const OTagGroup* object) const {
    return object ? static_cast<QTreeWidgetItem*>(object->m_hTreeItem) : nullptr;
}

void CDeviceView::OnUpdate(int hint, OTagGroup* object) {
    if (firstUpdate_) {
        firstUpdate_ = false;
        doc_.m_cfPrivate = RegisterClipboardFormat("FERROW");
    }
    switch (hint) {
        case kHintRebuild:
        case kHintProperties:
            // Without an object both mean "rebuild" (the tag-loading timer sends 1 after a load).
            if (object)
                RefreshItem(object);
            else
                Rebuild();
            break;
        case kHintImages:
            UpdateImages();
            break;
        case kHintAdded:
            InsertObject(object);
            break;
        case kHintClear:
            // The devices go next: no worker may still be talking to one of them.
            loader_.cancel();
            DeleteAllItems();
            break;
        default:
            break;
    }
}

void CDeviceView::StartTagLoading() {
    if (!tagTimer_.isActive()) tagTimer_.start();
}

void CDeviceView::DeleteAllItems() {
    suppressSelection_ = true;
    forgetItems(doc_.m_root);
    clear();
    suppressSelection_ = false;
}

int CDeviceView::DeviceImage(const ODevice& device) const {
    return device.IsConnected() ? kImageConnected : kImageNotConnected;
}

void CDeviceView::SetImage(QTreeWidgetItem* item, int image) {
    item->setData(0, kImageRole, image);
    item->setIcon(0, treeIcon(image));
}

QTreeWidgetItem* CDeviceView::MakeItem(OTagGroup* object, int image) {
    auto* item = new QTreeWidgetItem;
    item->setText(0, QString::fromLatin1(object->m_strName));
    item->setData(0, kObjectRole, QVariant::fromValue(reinterpret_cast<quintptr>(object)));
    SetImage(item, image);
    object->m_hTreeItem = item;
    return item;
}

void CDeviceView::InsertGroups(QTreeWidgetItem* parent, OTagGroup& group, int depth) {
    if (depth > kGroupLevels) return;
    for (const auto& child : group.m_groups) {
        QTreeWidgetItem* item = MakeItem(child.get(), kImageNotConnected);
        parent->addChild(item);
        InsertGroups(item, *child, depth + 1);
    }
}

// The device list, names and tag lists change only on this thread (under the document lock, for the
// other threads' sake), so reading them here needs no lock: an OPC thread that holds the document lock
// across a device's reply never stalls the window.
void CDeviceView::Rebuild() {
    DeleteAllItems();
    suppressSelection_ = true;
    for (std::size_t i = 0; i < doc_.DeviceCount(); ++i) {
        ODevice* device = doc_.Device(i);
        QTreeWidgetItem* item = MakeItem(device, DeviceImage(*device));
        addTopLevelItem(item);
        InsertGroups(item, *device, 1);
    }
    suppressSelection_ = false;
    SelectDocumentSelection();
}

void CDeviceView::SelectDocumentSelection() {
    QTreeWidgetItem* item = itemOf(doc_.m_pSelection);
    if (!item) return;
    if (currentItem() == item)
        OnSelChanged(item);  // a rebuilt tree shows the selection's tags afresh
    else
        setCurrentItem(item);
    scrollToItem(item);
}

void CDeviceView::InsertObject(OTagGroup* object) {
    if (!object) return;
    const bool device = object->IsDevice();
    OTagGroup* parentGroup = device ? &doc_.m_root : object->m_pParent;
    QTreeWidgetItem* parentItem = device ? nullptr : itemOf(parentGroup);
    if (!parentGroup || (!device && !parentItem)) return;
    // After the item of the element that precedes it in its parent's list; first when none does.
    int position = 0;
    const auto& list = parentGroup->m_groups;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].get() != object) continue;
        if (i > 0) {
            QTreeWidgetItem* before = itemOf(list[i - 1].get());
            if (before)
                position = (device ? indexOfTopLevelItem(before) : parentItem->indexOfChild(before)) + 1;
        }
        break;
    }
    // A new device starts out "not connected"; the timer shows its connection at the next tick.
    QTreeWidgetItem* item = MakeItem(object, kImageNotConnected);
    if (device)
        insertTopLevelItem(position, item);
    else
        parentItem->insertChild(position, item);
    setCurrentItem(item);
    scrollToItem(item);
}

void CDeviceView::RefreshItem(OTagGroup* object) {
    QTreeWidgetItem* item = itemOf(object);
    if (!item) return;
    item->setText(0, QString::fromLatin1(object->m_strName));
    SetImage(item, object->IsDevice() ? DeviceImage(static_cast<ODevice&>(*object)) : kImageNotConnected);
}

void CDeviceView::UpdateImages() {
    for (std::size_t i = 0; i < doc_.DeviceCount(); ++i) {
        ODevice* device = doc_.Device(i);
        QTreeWidgetItem* item = itemOf(device);
        const int image = DeviceImage(*device);
        if (item && imageOf(item) != image) SetImage(item, image);
    }
}

void CDeviceView::OnSelChanged(QTreeWidgetItem* current) {
    if (suppressSelection_ || !current) return;
    doc_.m_pSelection = objectOf(current);
    doc_.UpdateAllViews(kHintSelection, nullptr, this);
}

void CDeviceView::contextMenuEvent(QContextMenuEvent* event) {
    // The item under the cursor becomes the document's selection for the menu's command; the
    // highlight stays where it is. A menu closed without a command gives the selection back to the
    // highlighted item, which Del, Ctrl+P and the monitor then act on, as the user sees it.
    QTreeWidgetItem* item = itemAt(viewport()->mapFromGlobal(event->globalPos()));
    if (!item) return;
    event->accept();
    doc_.m_pSelection = objectOf(item);
    const QPointer<CDeviceView> alive(this);
    if (contextMenu_ && contextMenu_->exec(event->globalPos())) return;
    if (!alive) return;
    if (QTreeWidgetItem* highlighted = currentItem()) doc_.m_pSelection = objectOf(highlighted);
}

void CDeviceView::OnTimer() {
    StartNextLoad();
    // A load that has ended rebuilds the tree from OnTagsLoaded; the images follow the states here.
    OnUpdate(kHintImages, nullptr);
}

void CDeviceView::StartNextLoad() {
    if (loader_.busy()) return;
    for (std::size_t i = 0; i < doc_.DeviceCount(); ++i) {
        ODevice* device = doc_.Device(i);
        if (!device->m_bTagsLoaded && device->IsConnected()) {
            loader_.start(*device);
            return;
        }
    }
}

void CDeviceView::OnTagsLoaded(ODevice* device, bool complete) {
    auto tags = loader_.takeTags();
    if (complete) {
        for (auto& tag : tags) device->AddTag(std::move(tag));
        device->m_bTagsLoaded = true;
        OnUpdate(kHintProperties, nullptr);
    } else {
        // The device stopped answering: a part of its list is no list. It shows as not connected, and
        // after the next Connect its tags are fetched again.
        OnUpdate(kHintImages, nullptr);
    }
    emit tagLoadEnded(device, complete);
    StartNextLoad();
}

}  // namespace ferrow
