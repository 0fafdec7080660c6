#include <QAction>
#include <QTimer>

#include "devsim/datapoint_service.h"
#include "ferrow/app/c_main_frame.h"
#include "ferrow/app/views/device_commands.h"
#include "ferrow/devlink/oport.h"
#include "ferrow/model/cdoc.h"
#include "ferrow/model/device.h"
#include "ferrow/model/locks.h"
#include "platform/ui/wait.h"
#include "tests/ferrow/app/app_fixture.h"
#include "tests/support/device_fixture.h"

// The Simulate command waits for its device with the window still working.

using namespace std::chrono_literals;

namespace {

class SimulateInTheWindow : public ferrowtest::FerrowAppTest {
  protected:
    // Ferrow with one device on a simulated board, connected, its tags loaded, selected.
    void startWithPlant() {
        sim = testsupport::startDevice();
        ASSERT_TRUE(sim);
        app = &start({});
        frame = app->mainFrame();
        plant = app->document()->AddDevice([&](ferrow::ODevice& device) {
            device.m_strName = "Plant";
            const QStringList octets = sim->options().address.split(QLatin1Char('.'));
            for (int i = 0; i < 4; ++i)
                device.m_params.m_strOctet[static_cast<std::size_t>(i)] = octets[i].toStdString();
            return true;
        });
        ASSERT_NE(plant, nullptr);
        ASSERT_TRUE(platform::ui::waitUntil([&] { return plant->m_bTagsLoaded.load(); }, 30s));
        ASSERT_EQ(app->document()->m_pSelection.load(), plant);
        frame->m_pCommands->updateStates();
        ASSERT_TRUE(frame->m_pCommands->simulate->isEnabled());
    }

    bool boardSimulating() {
        bool on = false;
        sim->run([&] { on = sim->datapoints().simulating(); });
        return on;
    }

    std::unique_ptr<devsim::SimulatedDevice> sim;
    ferrow::CFerrowApp* app = nullptr;
    ferrow::CMainFrame* frame = nullptr;
    ferrow::ODevice* plant = nullptr;
};

}  // namespace

TEST_F(SimulateInTheWindow, TheWindowKeepsWorkingWhileTheDeviceIsWaitedFor) {
    startWithPlant();
    if (HasFatalFailure()) return;
    ferrow::DeviceCommands& commands = *frame->m_pCommands;

    // A device that answers: switched on when the command returns, with its check mark.
    commands.simulate->trigger();
    EXPECT_TRUE(boardSimulating());
    EXPECT_EQ(plant->m_bSimulate, 1u);
    EXPECT_TRUE(commands.simulate->isChecked());

    // A device that never answers: the window's timers run while the switch waits for it, and what the
    // user may do meanwhile cannot take the device away or send a second switch.
    sim->datapoints().faults().silent = true;
    int ticks = 0;
    bool newRefused = false;
    bool deleteOffered = true;
    bool simulateOffered = true;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (++ticks != 1) return;
        frame->UpdateCommandStates();
        simulateOffered = commands.simulate->isEnabled();
        deleteOffered = commands.deleteSelection->isEnabled();
        newRefused = !frame->actFileNew->isEnabled();
        frame->OnFileNew();
        commands.simulate->trigger();
        app->document()->DeleteSelection();
    });
    ticker.start();
    const auto began = std::chrono::steady_clock::now();
    commands.simulate->trigger();
    const auto took = std::chrono::steady_clock::now() - began;
    ticker.stop();
    EXPECT_GT(ticks, 0);
    EXPECT_FALSE(simulateOffered);
    EXPECT_FALSE(deleteOffered);
    EXPECT_TRUE(newRefused);
    EXPECT_EQ(app->document()->DeviceCount(), 1u);
    EXPECT_EQ(app->document()->Device(0), plant);

    // After the limit, as when the window waited without events: the switch is noted, the device counts
    // as not answering, and no message is shown.
    EXPECT_GE(took, platform::scaled(ferrow::OPort::kReplyLimit));
    EXPECT_TRUE(sim->log().contains("< simulate/off"));
    EXPECT_EQ(plant->m_bSimulate, 0u);
    EXPECT_FALSE(plant->IsConnected());
    EXPECT_EQ(plant->m_nUseCount.load(), 0);
    commands.updateStates();
    EXPECT_FALSE(commands.simulate->isEnabled());
    EXPECT_FALSE(commands.simulate->isChecked());
    EXPECT_TRUE(boxes.boxes().empty());
    {
        std::lock_guard values(ferrow::valueLock());
        EXPECT_EQ(plant->m_tags.front()->m_wQuality, ferrow::kQualityCommFailure);
    }
}

// Connect starts the device's new session with the simulation off, and the check mark says so.
TEST_F(SimulateInTheWindow, ConnectSwitchesTheSimulationOffAndClearsTheCheckMark) {
    startWithPlant();
    if (HasFatalFailure()) return;
    ferrow::DeviceCommands& commands = *frame->m_pCommands;
    commands.simulate->trigger();
    ASSERT_TRUE(boardSimulating());
    ASSERT_TRUE(commands.simulate->isChecked());

    // The device drops its notification connection: not connected, while its command connection stands.
    sim->run([&] { sim->datapoints().closeNotificationConnections(); });
    ASSERT_TRUE(platform::ui::waitUntil([&] { return !plant->IsConnected(); }, 30s));
    commands.updateStates();
    ASSERT_TRUE(commands.connectDevice->isEnabled());
    commands.connectDevice->trigger();
    ASSERT_TRUE(platform::ui::waitUntil([&] { return plant->IsConnected(); }, 30s));
    commands.updateStates();
    EXPECT_FALSE(boardSimulating());
    EXPECT_EQ(plant->m_bSimulate, 0u);
    EXPECT_FALSE(commands.simulate->isChecked());
}
