#pragma once

#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ferrow/model/tag.h"

namespace ferrow {
class ODevice;
}

namespace ferrow::access {

class TagRegistry;

// The tags a watch's items refer to, grouped by device, and the registrations the watch holds for them
// in the core's TagRegistry. A tag is in its device's list once per item that watches it; while a device
// has a list here its use count is one higher, so it is not deleted under the watch. A registration, once
// held, stays held until the watch ends (TakeHolds), however its items come and go.
//
// Guarded by the lock of the watch that holds it; the device lists are changed under the value lock as
// well, which this class takes itself. The watch must Clear it before it is destroyed.
class WatchedTags {
  public:
    WatchedTags() = default;
    WatchedTags(const WatchedTags&) = delete;
    WatchedTags& operator=(const WatchedTags&) = delete;

    // One more item watching the tag of `device` (which may be null: a tag without a device). May throw
    // std::bad_alloc, leaving everything as it was.
    void Add(ODevice* device, OTag* tag);
    // One item fewer watching the tag; the device's list goes, with its use, when it is left empty.
    void Remove(ODevice* device, OTag* tag);
    // Every list goes, with the devices' uses; the registrations stay held.
    void Clear();

    // Under the watch's lock: holds in `registry` the registrations of the tags added since the last
    // call that the watch does not hold yet, and returns a tag of each device with tags, for Sync. May
    // throw std::bad_alloc.
    std::vector<TagRef> HoldAdded(TagRegistry& registry);
    // The registrations held, which the watch holds no more: for the registry's Release.
    std::vector<std::pair<ODevice*, std::string>> TakeHolds();

    bool empty() const { return devices_.empty(); }

  private:
    struct DeviceTags {
        ODevice* device = nullptr;
        std::vector<OTag*> tags;
        bool added = true;  // tags were added that the watch does not hold registered yet
    };

    void RemoveDevice(std::size_t index);

    std::vector<std::unique_ptr<DeviceTags>> devices_;
    std::set<std::pair<ODevice*, std::string>> held_;
};

}  // namespace ferrow::access
