#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ferrow/model/tag_group.h"
#include "platform/com/filetime.h"

namespace ferrow {

class OPort;

// A device's address and reserved settings, as the device dialog edits them.
struct ODeviceParams {
    std::array<std::string, 4> m_strOctet;
    std::uint32_t m_dwReserved = 1000;
    std::uint32_t m_dwReserved2 = 0;
    std::uint32_t m_wReserved = 0;
    platform::com::FILETIME m_ftLastRead;  // written under the value lock

    // The octets joined by "." as typed ("010" stays "010").
    std::string Address() const;
    // The address a connection goes to: each octet as its decimal value 0-255 ("010" is 10), so that
    // nothing reads it as octal or hands it to a name lookup; none when an octet is no such number.
    std::optional<std::string> NumericAddress() const;
};

// One device of the configuration: a group whose tags the device reports, reached through a command
// port and a notification port. Constructing it starts both port workers; destroying it stops them
// first, without waiting for the device. Lives on the thread that owns the document; its operations
// may run on any thread.
class ODevice : public OTagGroup {
public:
    ODevice();
    ~ODevice() override;

    ODevice* GetDevice() override { return this; }
    std::string GetPath() const override { return m_strName + "."; }
    bool IsDevice() const override { return true; }

    // Name order into m_tags; takes the document lock.
    void AddTag(std::unique_ptr<OTag> tag);
    // The notification connection's lookup: the device's own tag of that name, ignoring case. It
    // takes only the tag-list lock, so a worker never waits for the document.
    OTag* FindPushedTag(std::string_view name) const;

    // Device link (see the port): connection state and the datapoint operations.
    bool IsConnected() const;
    bool IsConnecting() const;
    bool Connect();
    bool SetSimulation(bool on);
    std::unique_ptr<OqnTag> QueryTag(int n);
    // The device's datapoints in enumeration order, without adding them. `complete` tells whether the
    // device ended the list itself (rather than the connection failing or `cancel` being set).
    std::vector<std::unique_ptr<OqnTag>> FetchTags(bool* complete = nullptr, const std::atomic<bool>* cancel = nullptr);
    int LoadTags();
    std::string ReadValue(const OTag& tag);
    bool SendValue(const OqnTag& tag, const platform::com::VARIANT& value);
    bool WriteTag(OTag& tag);
    void OnCommFailure();
    // The device closed the notification connection (or it broke): from the notification worker.
    void OnNotificationsEnded();
    void MarkCommFailure();
    // Stops both workers; the destructor does it, the document may do it earlier.
    void StopPorts();

    std::unique_ptr<OPort> m_pCommandPort;
    std::unique_ptr<OPort> m_pNotifyPort;
    std::atomic<bool> m_bTagsLoaded{false};
    std::uint32_t m_dwReserved = 0;
    ODeviceParams m_params;
    std::uint32_t m_bSimulate = 0;

    // Held by a client's write from setting the tag's value to the end of its exchange, so that two
    // writes to one device cannot cross (the device keeping one value, the tag showing the other).
    std::mutex& writeLock() { return writeLock_; }

private:
    std::mutex writeLock_;
    // The tag-list lock: guards m_tags against the notification worker; changed only while the document
    // lock is held too. Last in the lock order (see locks.h).
    mutable std::mutex tagsLock_;
};

}  // namespace ferrow
