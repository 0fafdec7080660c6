#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ferrow/model/link_control.h"
#include "ferrow/model/tag_group.h"
#include "platform/com/filetime.h"

namespace ferrow {

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

// One device of the configuration: a group whose tags the device reports, reached through a link
// (LinkControl) that the program attaches; a device without one never connects. Destroying it stops the
// link first, without waiting for the device. Lives on the thread that owns the document; its
// operations may run on any thread.
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

    // The link's connection state and Connect (see LinkControl).
    bool IsConnected() const { return link_->IsConnected(); }
    bool IsConnecting() const { return link_->IsConnecting(); }
    bool HasOpenPort() const { return link_->HasOpenPort(); }
    bool Connect() { return link_->Connect(); }
    // Marks every tag of the device with a communication failure, timestamp now.
    void MarkCommFailure();
    // Replaces the link (the old one is stopped first). Call before the device is shared.
    void AttachLink(std::unique_ptr<LinkControl> link);
    LinkControl& Link() const { return *link_; }
    // Stops the link's work; the destructor does it, the document may do it earlier.
    void StopLink() { link_->Stop(); }

    std::atomic<bool> m_bTagsLoaded{false};
    std::uint32_t m_dwReserved = 0;
    ODeviceParams m_params;
    std::uint32_t m_bSimulate = 0;

  private:
    std::unique_ptr<LinkControl> link_;
    // The tag-list lock: guards m_tags against the notification worker; changed only while the document
    // lock is held too. Last in the lock order (see locks.h).
    mutable std::mutex tagsLock_;
};

}  // namespace ferrow
