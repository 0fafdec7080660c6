#include "ferrow/access/watched_tags.h"

#include <algorithm>
#include <mutex>

#include "ferrow/access/tag_registry.h"
#include "ferrow/model/device.h"
#include "ferrow/model/locks.h"

namespace ferrow::access {

void WatchedTags::Add(ODevice* device, OTag* tag) {
    for (auto& entry : devices_) {
        if (entry->device != device) continue;
        std::lock_guard values(valueLock());
        entry->tags.push_back(tag);
        entry->added = true;
        return;
    }
    auto entry = std::make_unique<DeviceTags>();
    entry->device = device;
    entry->tags.push_back(tag);
    {
        std::lock_guard values(valueLock());
        devices_.push_back(std::move(entry));
    }
    if (device) ++device->m_nUseCount;
}

void WatchedTags::Remove(ODevice* device, OTag* tag) {
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        DeviceTags& entry = *devices_[i];
        if (entry.device != device) continue;
        {
            std::lock_guard values(valueLock());
            auto& tags = entry.tags;
            if (auto it = std::find(tags.begin(), tags.end(), tag); it != tags.end()) tags.erase(it);
        }
        if (entry.tags.empty()) RemoveDevice(i);
        return;
    }
}

void WatchedTags::Clear() {
    while (!devices_.empty()) RemoveDevice(devices_.size() - 1);
}

void WatchedTags::RemoveDevice(std::size_t index) {
    ODevice* device = devices_[index]->device;
    {
        std::lock_guard values(valueLock());
        devices_.erase(devices_.begin() + static_cast<std::ptrdiff_t>(index));
    }
    if (device) --device->m_nUseCount;
}

std::vector<TagRef> WatchedTags::HoldAdded(TagRegistry& registry) {
    std::vector<TagRef> deviceTags;
    std::lock_guard values(valueLock());
    for (auto& entry : devices_) {
        if (entry->added && entry->device) {
            entry->added = false;
            for (OTag* tag : entry->tags) {
                if (held_.emplace(entry->device, tag->m_strName).second)
                    registry.Hold(entry->device, tag->m_strName);
            }
        }
        if (entry->device && !entry->tags.empty()) deviceTags.emplace_back(entry->tags.front());
    }
    return deviceTags;
}

std::vector<std::pair<ODevice*, std::string>> WatchedTags::TakeHolds() {
    std::vector<std::pair<ODevice*, std::string>> holds(held_.begin(), held_.end());
    held_.clear();
    return holds;
}

}  // namespace ferrow::access
