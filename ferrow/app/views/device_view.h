#pragma once

#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>

#include "ferrow/app/views/tag_loader.h"
#include "ferrow/model/doc_view.h"

namespace ferrow {

class CDoc;
class ODevice;

// The device tree: the configuration's devices (and their groups) with their connection images. It
// carries the "Device" context menu and runs the tag-loading timer, which fetches the datapoints of
// each newly connected device on a worker (TagLoader) and adds them here on the user-interface
// thread. Registers itself as the document's device view for its lifetime; the document outlives it.
// GUI thread only.
class CDeviceView : public QTreeWidget, public CDocView {
    Q_OBJECT
  public:
    static constexpr int kTagLoadingTimer = 45001;
    static constexpr std::chrono::milliseconds kTagLoadingPeriod{500};
    // Item data: the object (OTagGroup*) and the image index.
    static constexpr int kObjectRole = Qt::UserRole;
    static constexpr int kImageRole = Qt::UserRole + 1;

    CDeviceView(CDoc& doc, QWidget* parent = nullptr);
    ~CDeviceView() override;

    void OnUpdate(int hint, OTagGroup* object) override;
    void StartTagLoading() override;

    // The "Device" menu that a right click on an item opens (not owned).
    void setContextMenu(QMenu* menu) { contextMenu_ = menu; }
    QMenu* contextMenu() const { return contextMenu_; }

    QTreeWidgetItem* itemOf(const OTagGroup* object) const;
    static OTagGroup* objectOf(const QTreeWidgetItem* item);
    static int imageOf(const QTreeWidgetItem* item);
    bool tagLoadingRunning() const { return tagTimer_.isActive(); }
    // The device whose tags are being fetched, or null.
    ODevice* loadingDevice() const { return loader_.device(); }

  signals:
    // A device's tag list was added (or, when the device failed on the way, given up).
    void tagLoadEnded(ferrow::ODevice* device, bool loaded);

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void DeleteAllItems();
    void Rebuild();
    QTreeWidgetItem* MakeItem(OTagGroup* object, int image);
    void InsertGroups(QTreeWidgetItem* parent, OTagGroup& group, int depth);
    void InsertObject(OTagGroup* object);
    void RefreshItem(OTagGroup* object);
    void UpdateImages();
    void SelectDocumentSelection();
    void SetImage(QTreeWidgetItem* item, int image);
    int DeviceImage(const ODevice& device) const;
    void OnSelChanged(QTreeWidgetItem* current);
    void OnTimer();
    void StartNextLoad();
    void OnTagsLoaded(ODevice* device, bool complete);

    CDoc& doc_;
    bool firstUpdate_ = true;
    bool suppressSelection_ = false;
    QPointer<QMenu> contextMenu_;
    QTimer tagTimer_;
    TagLoader loader_;
};

// The number a clipboard format name is known by in this process (the first is 0xC000).
unsigned RegisterClipboardFormat(const char* name);

}  // namespace ferrow
