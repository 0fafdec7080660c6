#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>

#include "ferrow/devlink/device_link.h"

class QAction;
class QMenu;
class QWidget;

namespace ferrow {

class CDoc;
class CDeviceView;
class ODevice;

// The device commands of the Edit menu, the toolbar and the tree's "Device" context menu,
// with their enabling rules. A disabled command cannot be invoked, and each command checks its rule
// again when it runs. The states follow the document by themselves (a short idle-time refresh, as a
// frame refreshes its command states); updateStates() applies them at once. GUI thread only.
class DeviceCommands : public QObject {
    Q_OBJECT
  public:
    static constexpr int kStateRefreshMs = 100;
    // How long Simulate waits for its exchange, which may queue behind another caller's: the reply limit
    // and a margin. The window keeps working meanwhile.
    static constexpr std::chrono::milliseconds kSimulateLimit =
        OPort::kReplyLimit + std::chrono::milliseconds{2000};

    DeviceCommands(CDoc& doc, CDeviceView& tree, QWidget* dialogParent);
    ~DeviceCommands() override;

    void updateStates();
    // Properties acts on the device tree's selection only: while the tag list is the view the user
    // works in (it had the focus last), it is disabled, its shortcut too.
    void watchTagList(QWidget* tagList);
    // The status bar's selection pane: "Connecting to %s", "%s has %d Tags", or empty.
    QString selectionPaneText() const;
    // Whether no device of the configuration is connecting.
    bool noDeviceConnecting() const;
    // File New and Open are allowed only while no device is connecting and no device command is
    // waiting for its device (a new configuration would delete the device under it).
    bool filesMayChange() const;

    QAction* newDevice;
    QAction* deleteSelection;
    QAction* properties;
    QAction* connectDevice;
    QAction* simulate;
    QAction* monitor;
    // The tree's context menu "Device": Delete, Properties, Connect, Simulate.
    QMenu* deviceMenu;

  signals:
    // After updateStates, when the selection pane's text changed.
    void selectionPaneChanged(const QString& text);

  private:
    ODevice* SelectedDevice() const;
    bool CanDelete() const;
    bool CanConnect() const;
    bool CanSimulate() const;
    bool MonitorRunning() const;

    void OnNewDevice();
    void OnDelete();
    void OnProperties();
    void OnConnect();
    void OnSimulate();
    // Sends the switch from a thread of its own and waits, processing the window's events, until it is
    // done; cut short after kSimulateLimit (scaled). The device cannot be deleted meanwhile.
    void SwitchSimulation(ODevice& device, bool on);
    void OnMonitor();

    CDoc& doc_;
    CDeviceView& tree_;
    QWidget* dialogParent_;
    QTimer refresh_;
    QString paneText_;
    bool simulating_ = false;  // a Simulate exchange is in progress
    QWidget* tagList_ = nullptr;
    bool tagListActive_ = false;  // the tag list, not the tree, had the focus last
};

}  // namespace ferrow
