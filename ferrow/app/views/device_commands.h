#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

class QAction;
class QMenu;
class QWidget;

namespace ferrow {

class CDoc;
class CDeviceView;
class ODevice;

// The device commands of the Edit and Device menus, the toolbar and the tree's "Device" context menu,
// with their enabling rules. A disabled command cannot be invoked, and each command checks its rule
// again when it runs. The states follow the document by themselves (a short idle-time refresh, as a
// frame refreshes its command states); updateStates() applies them at once. GUI thread only.
class DeviceCommands : public QObject {
    Q_OBJECT
public:
    static constexpr int kStateRefreshMs = 100;

    DeviceCommands(CDoc& doc, CDeviceView& tree, QWidget* dialogParent);
    ~DeviceCommands() override;

    void updateStates();
    // The status bar's selection pane: "Connecting to %s", "%s has %d Tags", or empty.
    QString selectionPaneText() const;
    // File New and Open are allowed only while no device is connecting.
    bool noDeviceConnecting() const;

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
    void OnMonitor();

    CDoc& doc_;
    CDeviceView& tree_;
    QWidget* dialogParent_;
    QTimer refresh_;
    QString paneText_;
};

}  // namespace ferrow
