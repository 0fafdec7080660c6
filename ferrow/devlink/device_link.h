#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "ferrow/devlink/oport.h"
#include "ferrow/model/device.h"

namespace ferrow {

// A device's datapoint link: its command port and notification port, and the datapoint protocol spoken
// on them. Owned by its device (as the device's LinkControl); constructing it starts both port workers,
// Stop ends them without waiting for the device. Its operations may run on any thread; an exchange
// waits for the command port's worker.
class DeviceLink final : public LinkControl {
  public:
    explicit DeviceLink(ODevice& device);
    ~DeviceLink() override;
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    // LinkControl
    bool Connect() override;
    bool IsConnected() const override;
    bool IsConnecting() const override;
    bool HasOpenPort() const override;
    void Stop() override;

    ODevice& Device() const { return device_; }
    // Counts the command connections established: the device forgets its registrations with each.
    unsigned ConnectionNumber() const { return m_pCommandPort->m_nConnections; }

    bool SetSimulation(bool on);
    std::unique_ptr<OqnTag> QueryTag(int n);
    // The device's datapoints in enumeration order, without adding them. `complete` tells whether the
    // device ended the list itself (rather than the connection failing or `cancel` being set).
    std::vector<std::unique_ptr<OqnTag>> FetchTags(bool* complete = nullptr,
                                                   const std::atomic<bool>* cancel = nullptr);
    int LoadTags();
    // The device's reply to "getdp" for the tag; empty when the exchange failed.
    std::string ReadValue(const OTag& tag);
    // "setdp" of the value in the device's bytes; false when the value has no such bytes, the exchange
    // failed or the device refused.
    bool SendValue(const OqnTag& tag, const platform::com::VARIANT& value);
    // Sends the tag's own value (converted to its canonical type first) and sets its quality by the
    // outcome.
    bool WriteTag(OTag& tag);
    // An exchange failed: both connections are given up and the tags marked.
    void OnCommFailure();
    // The device closed the notification connection (or it broke): from the notification worker.
    void OnNotificationsEnded();

    // Held by a client's write from setting the tag's value to the end of its exchange, so that two
    // writes to one device cannot cross (the device keeping one value, the tag showing the other).
    std::mutex& writeLock() { return writeLock_; }

    std::unique_ptr<OPort> m_pCommandPort;
    std::unique_ptr<OPort> m_pNotifyPort;

  private:
    ODevice& device_;
    std::mutex writeLock_;
};

// Gives the device a link of its own (replacing the null one) and returns it.
DeviceLink& AttachDeviceLink(ODevice& device);
// A new device with a link.
std::unique_ptr<ODevice> MakeLinkedDevice();
// The device's link; the device must have been given one by AttachDeviceLink (std::bad_cast otherwise).
DeviceLink& LinkOf(const ODevice& device);
// The device's link, or null for a device without one.
DeviceLink* FindLink(const ODevice& device);

// Stores a value that travelled as hex text into the tag: quality good, timestamp now, under the value
// lock. False (tag unchanged) for text over 64 characters, text that is not hex, or a type that takes no
// value from the device.
bool StoreHexValue(OqnTag& tag, std::string_view text);

}  // namespace ferrow
