#pragma once

#include <QAction>
#include <QApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

#include "devsim/datapoint_service.h"
#include "devsim/simulated_device.h"
#include "ferrow/app/views/device_commands.h"
#include "ferrow/app/views/device_dlg.h"
#include "ferrow/app/views/device_view.h"
#include "ferrow/app/views/tag_view.h"
#include "ferrow/devlink/device_link.h"
#include "ferrow/devlink/trace.h"
#include "ferrow/model/cdoc.h"
#include "ferrow/model/device.h"
#include "platform/ui/scripted_dialogs.h"
#include "platform/ui/wait.h"
#include "tests/support/device_fixture.h"
#include "tests/support/test_environment.h"

namespace viewstest {

using namespace std::chrono_literals;

// The device link's diagnostics are not these tests' business.
struct QuietTrace : ferrow::TraceOutput {
    QuietTrace() { ferrow::setTraceOutput(this); }
    ~QuietTrace() override { ferrow::setTraceOutput(nullptr); }
    void Write(std::string_view) override {}
};

inline bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 30s) {
    return platform::ui::waitUntil(done, limit);
}

// Runs `act` on the device dialog as soon as it is shown modally (New Device, Properties).
inline void onNextDialog(std::function<void(ferrow::CDeviceDlg&)> act) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        auto* dialog = qobject_cast<ferrow::CDeviceDlg*>(QApplication::activeModalWidget());
        if (!dialog) return;
        timer->stop();
        timer->deleteLater();
        act(*dialog);
    });
    timer->start();
}

inline void fill(ferrow::CDeviceDlg& dialog, const QString& name, const QString& address) {
    dialog.nameEdit()->setText(name);
    const QStringList octets = address.split('.');
    for (int i = 0; i < 4; ++i) dialog.octetEdit(i)->setText(octets.value(i));
}

// The two views and the device commands in one window, over a fresh document, as the frame arranges
// them; the commands' shortcuts work in this window.
struct ViewsWindow {
    ViewsWindow() {
        auto* layout = new QHBoxLayout(&host);
        tree = new ferrow::CDeviceView(doc, &host);
        tags = new ferrow::CTagView(doc, &host);
        layout->addWidget(tree, 1);
        layout->addWidget(tags, 2);
        commands = new ferrow::DeviceCommands(doc, *tree, &host);
        host.addActions({commands->newDevice, commands->deleteSelection, commands->properties,
                         commands->connectDevice, commands->simulate, commands->monitor});
        host.resize(600, 400);
        host.show();
        activate();
        doc.OnNewDocument();
    }

    // New Device through its command and the dialog; the device it made.
    ferrow::ODevice* newDevice(const QString& name, const QString& address) {
        onNextDialog([&](ferrow::CDeviceDlg& dialog) {
            fill(dialog, name, address);
            dialog.accept();
        });
        commands->newDevice->trigger();
        return static_cast<ferrow::ODevice*>(doc.m_pSelection.load());
    }

    // Window shortcuts go to the application's active window. A closed dialog may have left this one
    // inactive, and a menu closed a moment ago may still be the active window while the platform
    // already reports this one active: wait until the application says so.
    void activate() {
        host.activateWindow();
        activeWindow = QTest::qWaitFor([&] { return QApplication::activeWindow() == &host; });
    }

    // A key pressed in this window.
    void key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        activate();
        QTest::keyClick(&host, key, modifiers);
    }

    QTreeWidgetItem* itemOf(const ferrow::OTagGroup* object) const { return tree->itemOf(object); }
    int imageOf(const ferrow::OTagGroup* object) const {
        return ferrow::CDeviceView::imageOf(itemOf(object));
    }
    int rows() const { return tags->rows().rowCount(); }
    QString cell(int row, int column) const { return tags->rows().text(row, column); }
    QString valueOf(const QString& name) const {
        for (int row = 0; row < rows(); ++row)
            if (cell(row, 0) == name) return cell(row, 2);
        return QStringLiteral("<no row>");
    }
    bool loaded(ferrow::ODevice* device) {
        return waitFor(
            [&] { return device->m_bTagsLoaded && rows() == static_cast<int>(device->m_tags.size()); });
    }

    QuietTrace quiet;
    platform::ui::ScriptedDialogs dialogs;
    ferrow::CDoc doc{ferrow::MakeLinkedDevice};
    QWidget host;
    bool activeWindow = false;
    ferrow::CDeviceView* tree;
    ferrow::CTagView* tags;
    ferrow::DeviceCommands* commands;
};

}  // namespace viewstest
