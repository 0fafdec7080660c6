#pragma once

#include <QStringList>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "ferrow/devlink/device_link.h"
#include "ferrow/devlink/oport.h"
#include "ferrow/devlink/trace.h"
#include "ferrow/model/device.h"
#include "ferrow/model/locks.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_environment.h"

namespace ferrowtest {

using namespace std::chrono_literals;

// Collects the device link's diagnostic texts.
class TraceLog : public ferrow::TraceOutput {
  public:
    TraceLog() { ferrow::setTraceOutput(this); }
    ~TraceLog() override { ferrow::setTraceOutput(nullptr); }
    void Write(std::string_view text) override {
        std::lock_guard lock(mutex_);
        text_ += text;
    }
    std::string text() const {
        std::lock_guard lock(mutex_);
        return text_;
    }

  private:
    mutable std::mutex mutex_;
    std::string text_;
};

template <typename Pred>
bool eventually(Pred pred, std::chrono::milliseconds limit = 30s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// For a tag's value, quality and time, which the workers write under the value lock.
template <typename Pred>
bool eventuallyUnderValueLock(Pred pred, std::chrono::milliseconds limit = 30s) {
    return eventually(
        [&] {
            std::lock_guard lock(ferrow::valueLock());
            return pred();
        },
        limit);
}

inline void pointAt(ferrow::ODevice& device, const QString& address) {
    const QStringList octets = address.split('.');
    for (int i = 0; i < 4; ++i)
        device.m_params.m_strOctet[static_cast<std::size_t>(i)] = octets[i].toStdString();
}

// A device linked to a scripted peer on a loopback address of its own. The peer learns which of its two
// connections is the command connection from the first request that arrives.
struct LinkedDevice {
    LinkedDevice() : address(testsupport::uniqueLoopbackAddress()), peer(address, 4224) {
        device = ferrow::MakeLinkedDevice();
        device->m_strName = "Dev";
        pointAt(*device, address);
    }

    bool connect(int alreadyAccepted = 0) {
        auto connecting = std::async(std::launch::async, [this] { return device->Connect(); });
        if (!peer.waitForConnections(alreadyAccepted + 2)) return false;
        if (!eventually([&] { return device->IsConnected(); })) return false;
        // Connect's own "simulate/off" goes out only when the command port was connected in time.
        eventually(
            [&] {
                return connecting.wait_for(0ms) == std::future_status::ready || findCommand(alreadyAccepted);
            },
            500ms);
        if (commandIndex >= 0) peer.send("ok\r\n", commandIndex);
        if (!connecting.get()) return false;
        if (commandIndex < 0) {
            auto simulate = std::async(std::launch::async,
                                       [this] { return ferrow::LinkOf(*device).SetSimulation(false); });
            if (!eventually([&] { return findCommand(alreadyAccepted); })) return false;
            peer.send("ok\r\n", commandIndex);
            simulate.get();
        }
        notifyIndex = commandIndex == alreadyAccepted ? alreadyAccepted + 1 : alreadyAccepted;
        peer.clearReceived(commandIndex);
        return true;
    }

    bool findCommand(int from) {
        for (int i = from; i < from + 2; ++i)
            if (peer.received(i).contains("simulate/off\r\n")) commandIndex = i;
        return commandIndex >= 0;
    }

    // Runs `call` on another thread, answers the request it sends with `reply`, and returns its result.
    template <typename F>
    auto answer(F call, const QByteArray& request, const QByteArray& reply) {
        auto result = std::async(std::launch::async, call);
        EXPECT_TRUE(peer.waitForContains(request, commandIndex)) << request.toStdString();
        peer.clearReceived(commandIndex);
        if (!reply.isNull()) peer.send(reply, commandIndex);
        return result.get();
    }

    ferrow::OqnTag* addTag(const std::string& name, std::uint16_t type, bool output = true) {
        auto tag = std::make_unique<ferrow::OqnTag>();
        tag->m_strName = name;
        tag->m_vtDevice = tag->m_vtCanonical = type;
        tag->m_bOutput = output;
        ferrow::OqnTag* raw = tag.get();
        device->AddTag(std::move(tag));
        return raw;
    }

    TraceLog trace;
    QString address;
    testsupport::ScriptedPeer peer;
    std::unique_ptr<ferrow::ODevice> device;
    int commandIndex = -1;
    int notifyIndex = -1;
};

}  // namespace ferrowtest
