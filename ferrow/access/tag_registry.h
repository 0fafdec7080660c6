#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "ferrow/model/tag.h"

namespace ferrow {
class ODevice;
}

namespace ferrow::access {

// The registrations of tags with their devices ("chgdp"), shared by every watch of every front end:
// one per tag, counted by the watches that hold it, all under one handle. A device forgets its
// registrations with its command connection, so whatever a device holds is sent again once it has
// connected again. The device knows no removal of a single registration: the handle is dropped ("rem")
// when the last tag of a device is let go; a tag let go before that stays registered, which only
// brings its pushed values into the tag.
//
// Devices are compared, never dereferenced, unless a caller vouches for them (Sync) or the document
// still has them (Release). Any thread; device exchanges run without the state lock, one Sync or
// Release at a time. For its locks' place in the lock order see ferrow/model/locks.h.
class TagRegistry {
  public:
    // The handle every registration of the core goes under (the monitor uses 0).
    static constexpr int kHandle = 1;

    static TagRegistry& Shared();

    // A watch's hold on the tag's registration; nothing is sent until Sync.
    void Hold(ODevice* device, const std::string& tag);
    // Lets go of holds taken with Hold; the device's handle is dropped when it keeps no hold. Devices
    // the document no longer has are forgotten without an exchange.
    void Release(const std::vector<std::pair<ODevice*, std::string>>& holds);
    // Sends what the devices of these tags are missing: registrations never sent, or sent before the
    // device's latest connection. A registration the connected device refuses is not repeated until it
    // connects again. The tags keep their devices alive meanwhile.
    void Sync(const std::vector<TagRef>& deviceTags);

    // How many watches hold the tag (for tests).
    int Holders(ODevice* device, const std::string& tag);

  private:
    struct Registration {
        int holders = 0;
        unsigned sentIn = 0;     // the device connection it was sent in; 0 for none
        unsigned refusedIn = 0;  // the device connection that refused it
    };
    struct DeviceRegistrations {
        std::map<std::string, Registration> tags;
        unsigned syncedIn = 0;  // the device connection in which every tag held then was sent
        bool added = false;     // a tag was held since the last sync
    };

    void SyncDevice(ODevice& device);

    std::mutex stateLock_;  // guards devices_
    std::map<ODevice*, DeviceRegistrations> devices_;
    std::mutex exchangeLock_;  // one device exchange sequence at a time
};

}  // namespace ferrow::access
