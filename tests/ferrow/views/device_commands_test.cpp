#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QTest>

#include "views_window.h"

using namespace ferrow;
using namespace viewstest;

namespace {
struct States {
    bool remove, properties, connect, simulate, monitor;
    bool operator==(const States&) const = default;
};

States states(ViewsWindow& window) {
    window.commands->updateStates();
    const DeviceCommands& c = *window.commands;
    return {c.deleteSelection->isEnabled(), c.properties->isEnabled(), c.connectDevice->isEnabled(),
            c.simulate->isEnabled(), c.monitor->isEnabled()};
}

std::ostream& operator<<(std::ostream& out, const States& s) {
    return out << "delete " << s.remove << " properties " << s.properties << " connect " << s.connect
               << " simulate " << s.simulate << " monitor " << s.monitor;
}
}  // namespace

TEST(DeviceCommands, TextsKeysAndChecks) {
    ViewsWindow window;
    const DeviceCommands& c = *window.commands;
    EXPECT_EQ(c.newDevice->text(), "New &Device...");
    EXPECT_EQ(c.newDevice->shortcut(), QKeySequence("Ctrl+D"));
    EXPECT_EQ(c.deleteSelection->text(), "&Delete");
    EXPECT_EQ(c.deleteSelection->shortcut(), QKeySequence(Qt::Key_Delete));
    EXPECT_EQ(c.properties->text(), "Pr&operties...");
    EXPECT_EQ(c.properties->shortcut(), QKeySequence("Ctrl+P"));
    EXPECT_EQ(c.connectDevice->text(), "Connect");
    EXPECT_EQ(c.simulate->text(), "Simulate");
    EXPECT_TRUE(c.simulate->isCheckable());
    EXPECT_EQ(c.monitor->text(), "&Monitor");
    EXPECT_TRUE(c.monitor->isCheckable());
}

// Every enabling rule, and the accelerators of disabled commands do nothing.
TEST(DeviceCommands, EnablingRules) {
    auto sim = testsupport::startDevice();
    ASSERT_TRUE(sim);
    ViewsWindow window;
    // Nothing in the configuration.
    EXPECT_EQ(states(window), (States{false, false, false, false, false}));
    EXPECT_TRUE(window.commands->newDevice->isEnabled());
    window.key(Qt::Key_P, Qt::ControlModifier);  // disabled: no dialog
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    // A device that does not answer: it may be connected (again), not simulated.
    ODevice* dead = window.newDevice("Dead", testsupport::uniqueLoopbackAddress());
    ASSERT_TRUE(waitFor([&] { return !dead->IsConnecting(); }));
    EXPECT_EQ(states(window), (States{true, true, true, false, true}));

    // A connected device: no Connect; Simulate with its check mark.
    ODevice* plant = window.newDevice("Plant", sim->options().address);
    ASSERT_TRUE(window.loaded(plant));
    EXPECT_EQ(states(window), (States{true, true, false, true, true}));
    window.commands->simulate->trigger();
    EXPECT_TRUE(plant->m_bSimulate);
    EXPECT_TRUE(window.commands->simulate->isChecked());
    bool simulating = false;
    sim->run([&] { simulating = sim->datapoints().simulating(); });
    EXPECT_TRUE(simulating);
    window.commands->simulate->trigger();
    EXPECT_FALSE(window.commands->simulate->isChecked());

    // An OPC item holding one of its tags: no Delete, and Del deletes nothing.
    TagRef held = window.doc.AcquireItem("Plant.Level");
    ASSERT_TRUE(held);
    EXPECT_EQ(states(window), (States{false, true, false, true, true}));
    window.key(Qt::Key_Delete);
    EXPECT_EQ(window.doc.DeviceCount(), 2u);
    held.reset();

    // Monitoring: no Delete either.
    window.commands->monitor->trigger();
    ASSERT_TRUE(window.commands->monitor->isChecked());
    EXPECT_EQ(states(window), (States{false, true, false, true, true}));
    window.key(Qt::Key_Delete);
    EXPECT_EQ(window.doc.DeviceCount(), 2u);
    window.commands->monitor->trigger();
    ASSERT_TRUE(waitFor([&] { return plant->m_nUseCount == 0; }));

    // Nothing selected after deleting the first device: only New Device and Monitor.
    EXPECT_TRUE(states(window).remove);
    window.key(Qt::Key_Delete);  // Plant goes; Dead before it is selected
    EXPECT_EQ(window.doc.m_pSelection.load(), dead);
    window.key(Qt::Key_Delete);
    EXPECT_EQ(window.doc.DeviceCount(), 0u);
    EXPECT_EQ(states(window), (States{false, false, false, false, false}));
    EXPECT_TRUE(window.doc.IsModified());
}

// Properties applies the dialog's values to a device that is not connected, marks the document and
// renames the item; a connected device's dialog is read-only and applies nothing.
TEST(DeviceCommands, PropertiesAppliesOnlyToADeviceThatIsNotConnected) {
    auto sim = testsupport::startDevice();
    ASSERT_TRUE(sim);
    ViewsWindow window;
    ODevice* dead = window.newDevice("Dead", testsupport::uniqueLoopbackAddress());
    ASSERT_TRUE(waitFor([&] { return !dead->IsConnecting(); }));
    dead->m_params.m_wReserved = 7;
    window.doc.SetModifiedFlag(false);
    onNextDialog([](CDeviceDlg& dialog) {
        EXPECT_FALSE(dialog.nameEdit()->isReadOnly());
        fill(dialog, "Pump", "10.1.2.3");
        dialog.accept();
    });
    window.key(Qt::Key_P, Qt::ControlModifier);
    EXPECT_EQ(dead->m_strName, "Pump");
    EXPECT_EQ(dead->m_params.Address(), "10.1.2.3");
    EXPECT_EQ(dead->m_params.m_wReserved, 7u);
    EXPECT_EQ(window.itemOf(dead)->text(0), "Pump");
    EXPECT_TRUE(window.doc.IsModified());

    ODevice* plant = window.newDevice("Plant", sim->options().address);
    ASSERT_TRUE(waitFor([&] { return plant->IsConnected(); }));
    onNextDialog([](CDeviceDlg& dialog) {
        EXPECT_TRUE(dialog.nameEdit()->isReadOnly());
        for (int i = 0; i < 4; ++i) EXPECT_TRUE(dialog.octetEdit(i)->isReadOnly());
        dialog.nameEdit()->setText("");  // no checks run for a connected device
        dialog.accept();
    });
    window.commands->properties->trigger();
    EXPECT_EQ(plant->m_strName, "Plant");
    EXPECT_TRUE(window.dialogs.boxes().empty());

    // With only its command connection left the device is still connected for the dialog. The device
    // tells its command connection by the requests on it: the tag list has been asked for on it.
    ASSERT_TRUE(window.loaded(plant));
    sim->run([&] { sim->datapoints().closeNotificationConnections(); });
    ASSERT_TRUE(waitFor([&] { return !plant->IsConnected(); }));
    onNextDialog([](CDeviceDlg& dialog) {
        for (int i = 0; i < 4; ++i) EXPECT_TRUE(dialog.octetEdit(i)->isReadOnly());
        fill(dialog, "Plant2", "10.9.9.9");
        dialog.accept();
    });
    window.commands->properties->trigger();
    EXPECT_EQ(plant->m_strName, "Plant");
    EXPECT_EQ(plant->m_params.Address(), sim->options().address.toStdString());
}

namespace {
// A datapoint port whose accept queue is full: connects to it neither succeed nor fail, they stay in
// progress (the kernel drops their SYNs), which is "connecting" for as long as the test needs.
class FullListener {
  public:
    explicit FullListener(const QString& address) {
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(4224);
        inet_pton(AF_INET, address.toLatin1().constData(), &at.sin_addr);
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        filler_ = ::socket(AF_INET, SOCK_STREAM, 0);
        ok_ = ::bind(listener_, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
              ::listen(listener_, 0) == 0 &&
              ::connect(filler_, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
    }
    ~FullListener() {
        ::close(filler_);
        ::close(listener_);
    }
    bool ok() const { return ok_; }

  private:
    int listener_ = -1;
    int filler_ = -1;
    bool ok_ = false;
};
}  // namespace

// While a device is connecting: no Delete, no Connect, no File New or Open, and the pane says so.
TEST(DeviceCommands, ConnectingDeviceRules) {
    const QString address = testsupport::uniqueLoopbackAddress();
    FullListener listener(address);
    ASSERT_TRUE(listener.ok());
    ViewsWindow window;
    ODevice* slow = window.newDevice("Slow", address);
    ASSERT_TRUE(waitFor([&] { return slow->IsConnecting(); }));
    EXPECT_EQ(states(window), (States{false, true, false, false, true}));
    EXPECT_FALSE(window.commands->noDeviceConnecting());
    EXPECT_EQ(window.commands->selectionPaneText(), "Connecting to Slow");
    window.key(Qt::Key_Delete);
    EXPECT_EQ(window.doc.DeviceCount(), 1u);
}
