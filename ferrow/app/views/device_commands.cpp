#include "ferrow/app/views/device_commands.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QThread>
#include <atomic>
#include <mutex>
#include <system_error>
#include <thread>

#include "ferrow/app/views/device_dlg.h"
#include "ferrow/app/views/device_view.h"
#include "ferrow/devlink/monitor.h"
#include "ferrow/model/cdoc.h"
#include "ferrow/model/device.h"
#include "ferrow/model/locks.h"
#include "platform/ui/time_scale.h"
#include "platform/ui/wait.h"

namespace ferrow {

namespace {
QAction* makeAction(QObject* parent, const char* text, const char* name, const QKeySequence& key = {}) {
    auto* action = new QAction(QString::fromLatin1(text), parent);
    action->setObjectName(QString::fromLatin1(name));
    if (!key.isEmpty()) action->setShortcut(key);
    return action;
}
}  // namespace

DeviceCommands::DeviceCommands(CDoc& doc, CDeviceView& tree, QWidget* dialogParent)
    : QObject(&tree), doc_(doc), tree_(tree), dialogParent_(dialogParent) {
    newDevice = makeAction(this, "New &Device...", "ID_DEVICE_NEW", QKeySequence(Qt::CTRL | Qt::Key_D));
    deleteSelection = makeAction(this, "&Delete", "ID_EDIT_DELETE", QKeySequence(Qt::Key_Delete));
    properties =
        makeAction(this, "Pr&operties...", "ID_DEVICE_PROPERTIES", QKeySequence(Qt::CTRL | Qt::Key_P));
    connectDevice = makeAction(this, "Connect", "ID_DEVICE_CONNECT");
    simulate = makeAction(this, "Simulate", "ID_DEVICE_SIMULATE");
    simulate->setCheckable(true);
    monitor = makeAction(this, "&Monitor", "ID_DEVICE_MONITOR");
    monitor->setCheckable(true);

    connect(newDevice, &QAction::triggered, this, &DeviceCommands::OnNewDevice);
    connect(deleteSelection, &QAction::triggered, this, &DeviceCommands::OnDelete);
    connect(properties, &QAction::triggered, this, &DeviceCommands::OnProperties);
    connect(connectDevice, &QAction::triggered, this, &DeviceCommands::OnConnect);
    connect(simulate, &QAction::triggered, this, &DeviceCommands::OnSimulate);
    connect(monitor, &QAction::triggered, this, &DeviceCommands::OnMonitor);

    deviceMenu = new QMenu(QStringLiteral("Device"), &tree);
    deviceMenu->setObjectName(QStringLiteral("Device"));
    deviceMenu->addAction(deleteSelection);
    deviceMenu->addAction(properties);
    deviceMenu->addAction(connectDevice);
    deviceMenu->addAction(simulate);
    connect(deviceMenu, &QMenu::aboutToShow, this, &DeviceCommands::updateStates);
    tree.setContextMenu(deviceMenu);

    connect(&tree, &QTreeWidget::currentItemChanged, this, &DeviceCommands::updateStates);
    refresh_.setInterval(kStateRefreshMs);
    connect(&refresh_, &QTimer::timeout, this, &DeviceCommands::updateStates);
    refresh_.start();
    updateStates();
}

DeviceCommands::~DeviceCommands() {
    // The monitor started here ends before the document it watches can go.
    StopMonitor(doc_);
}

ODevice* DeviceCommands::SelectedDevice() const {
    OTagGroup* selection = doc_.m_pSelection;
    return selection && selection->IsDevice() ? static_cast<ODevice*>(selection) : nullptr;
}

bool DeviceCommands::MonitorRunning() const { return doc_.m_bMonitor && doc_.m_hMonitorThread.joinable(); }

bool DeviceCommands::CanDelete() const {
    ODevice* device = SelectedDevice();
    return device && !device->IsConnecting() && device->m_nUseCount == 0 && !doc_.m_bMonitor &&
           !device->TagsHeld();
}

bool DeviceCommands::CanConnect() const {
    ODevice* device = SelectedDevice();
    return device && !device->IsConnected() && !device->IsConnecting();
}

bool DeviceCommands::CanSimulate() const {
    ODevice* device = SelectedDevice();
    return device && device->IsConnected() && !simulating_;
}

bool DeviceCommands::noDeviceConnecting() const {
    for (std::size_t i = 0; i < doc_.DeviceCount(); ++i)
        if (doc_.Device(i)->IsConnecting()) return false;
    return true;
}

bool DeviceCommands::filesMayChange() const { return noDeviceConnecting() && !simulating_; }

void DeviceCommands::updateStates() {
    ODevice* device = SelectedDevice();
    newDevice->setEnabled(true);
    deleteSelection->setEnabled(CanDelete());
    properties->setEnabled(device != nullptr && !tagListActive_);
    connectDevice->setEnabled(CanConnect());
    simulate->setEnabled(CanSimulate());
    simulate->setChecked(device && device->m_bSimulate);
    monitor->setEnabled(doc_.DeviceCount() > 0);
    monitor->setChecked(MonitorRunning());
    const QString text = selectionPaneText();
    if (text != paneText_) {
        paneText_ = text;
        emit selectionPaneChanged(text);
    }
}

QString DeviceCommands::selectionPaneText() const {
    // Names and tag lists change only on this thread; the window never waits for the document lock.
    OTagGroup* selection = doc_.m_pSelection;
    if (!selection) return {};
    const QString name = QString::fromLatin1(selection->m_strName);
    ODevice* device = SelectedDevice();
    if (device && device->IsConnecting()) return QStringLiteral("Connecting to %1").arg(name);
    return QStringLiteral("%1 has %2 Tags").arg(name).arg(selection->m_tags.size());
}

void DeviceCommands::OnNewDevice() {
    doc_.AddDevice([this](ODevice& device) {
        CDeviceDlg dialog(doc_, device, dialogParent_);
        if (dialog.exec() != QDialog::Accepted) return false;
        dialog.Fields().ApplyTo(device);
        return true;
    });
    updateStates();
}

void DeviceCommands::OnDelete() {
    if (!CanDelete()) return;
    doc_.DeleteSelection();
    updateStates();
}

void DeviceCommands::watchTagList(QWidget* tagList) {
    tagList_ = tagList;
    // Menus, dialogs and the toolbar take the focus for a while without changing the view worked in.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (!now || !tagList_) return;
        if (tagList_->isAncestorOf(now) || now == tagList_)
            tagListActive_ = true;
        else if (tree_.isAncestorOf(now) || now == &tree_)
            tagListActive_ = false;
        else
            return;
        updateStates();
    });
}

void DeviceCommands::OnProperties() {
    ODevice* device = SelectedDevice();
    if (!device || tagListActive_) return;
    CDeviceDlg dialog(doc_, *device, dialogParent_);
    if (dialog.exec() != QDialog::Accepted || device->HasOpenPort()) return;
    {
        std::lock_guard lock(documentLock());
        dialog.Fields().ApplyTo(*device);
    }
    doc_.UpdateAllViews(kHintProperties, device);
    doc_.SetModifiedFlag();
    updateStates();
}

void DeviceCommands::OnConnect() {
    if (!CanConnect()) return;
    SelectedDevice()->Connect();
    updateStates();
}

void DeviceCommands::OnSimulate() {
    if (!CanSimulate()) return;
    ODevice* device = SelectedDevice();
    device->m_bSimulate = device->m_bSimulate ? 0 : 1;
    SwitchSimulation(*device, device->m_bSimulate != 0);
    updateStates();
}

void DeviceCommands::SwitchSimulation(ODevice& device, bool on) {
    // The window's events run while we wait: Delete (the use count), New and Open (filesMayChange) and a
    // second switch leave the device alone until the exchange is over.
    simulating_ = true;
    ++device.m_nUseCount;
    updateStates();
    std::atomic<bool> done{false};
    QAbstractEventDispatcher* dispatcher = QThread::currentThread()->eventDispatcher();
    std::thread exchange;
    try {
        exchange = std::thread([&device, on, &done, dispatcher] {
            LinkOf(device).SetSimulation(on);
            done = true;
            if (dispatcher) dispatcher->wakeUp();
        });
    } catch (const std::system_error&) {
        LinkOf(device).SetSimulation(on);
        done = true;
    }
    platform::ui::waitUntil([&done] { return done.load(); }, platform::scaled(kSimulateLimit));
    // The device has had its time: its exchange ends now as a failed one, so the join is short.
    if (!done) LinkOf(device).m_pCommandPort->Abort();
    if (exchange.joinable()) exchange.join();
    --device.m_nUseCount;
    simulating_ = false;
}

void DeviceCommands::OnMonitor() {
    if (MonitorRunning()) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        StopMonitor(doc_);
        QApplication::restoreOverrideCursor();
    } else if (doc_.DeviceCount() > 0) {
        StartMonitor(doc_);
    }
    updateStates();
}

}  // namespace ferrow
