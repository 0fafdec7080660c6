#pragma once

#include <QStringList>
#include <chrono>
#include <memory>
#include <thread>

#include "devsim/datapoint_service.h"
#include "ferrow/devlink/device_link.h"
#include "ferrow/model/device.h"
#include "tests/support/device_fixture.h"

namespace accesstest {

using namespace std::chrono_literals;

template <typename Pred>
bool eventually(Pred pred, std::chrono::milliseconds limit = 10s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// A simulated device and a linked device of our own pointed at it, connected, with its 11 datapoints.
struct AccessDevice {
    bool start() {
        sim = testsupport::startDevice();
        if (!sim) return false;
        device = ferrow::MakeLinkedDevice();
        device->m_strName = "Device1";
        const QStringList octets = sim->options().address.split('.');
        for (int i = 0; i < 4; ++i)
            device->m_params.m_strOctet[static_cast<std::size_t>(i)] = octets[i].toStdString();
        return connect() && ferrow::LinkOf(*device).LoadTags() == 11;
    }
    bool connect() {
        return eventually([&] {
            if (!device->IsConnected()) device->Connect();
            return device->IsConnected();
        });
    }
    // The device forgets the PC's registrations with its command connection; the link learns of the
    // loss at its next exchange, and connects again.
    bool dropCommandConnectionAndReconnect() {
        sim->run([&] { sim->datapoints().closeCommandConnections(); });
        ferrow::OqnTag* any = tag("Level");
        if (!eventually(
                [&] { return ferrow::LinkOf(*device).ReadValue(*any).empty() && !device->IsConnected(); }))
            return false;
        return connect();
    }
    ferrow::OqnTag* tag(const std::string& name) {
        return static_cast<ferrow::OqnTag*>(device->FindPushedTag(name));
    }
    int logCount(const std::string& fragment) const {
        int n = 0;
        for (const std::string& entry : sim->log().entries()) n += entry.find(fragment) != std::string::npos;
        return n;
    }

    std::unique_ptr<devsim::SimulatedDevice> sim;
    std::unique_ptr<ferrow::ODevice> device;
};

}  // namespace accesstest
