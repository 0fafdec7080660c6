#include "ferrow/access/tag_registry.h"

#include <optional>

#include "ferrow/devlink/device_link.h"
#include "ferrow/model/cdoc.h"
#include "ferrow/model/device.h"
#include "ferrow/model/locks.h"

namespace ferrow::access {

namespace {

std::optional<std::string> exchangeLine(DeviceLink& link, const std::string& line) {
    OPortRequest request;
    if (!request.SetCommand(line) || !link.m_pCommandPort->Execute(request)) return std::nullopt;
    return std::string(request.m_szReply);
}

// A use of one of the device's tags, taken under the document lock while the document still has the
// device; empty otherwise. Without a live document the caller's devices are its own and outlive it.
TagRef useOfDevice(ODevice* device) {
    std::lock_guard document(documentLock());
    bool present = true;
    if (CDoc* doc = CDoc::Live()) {
        present = false;
        for (std::size_t i = 0; i < doc->DeviceCount() && !present; ++i) present = doc->Device(i) == device;
    }
    if (!present || device->m_tags.empty()) return {};
    return TagRef(device->m_tags.front().get());
}

}  // namespace

TagRegistry& TagRegistry::Shared() {
    static TagRegistry registry;
    return registry;
}

void TagRegistry::Hold(ODevice* device, const std::string& tag) {
    std::lock_guard lock(stateLock_);
    DeviceRegistrations& registrations = devices_[device];
    if (++registrations.tags[tag].holders == 1) registrations.added = true;
}

int TagRegistry::Holders(ODevice* device, const std::string& tag) {
    std::lock_guard lock(stateLock_);
    const auto found = devices_.find(device);
    if (found == devices_.end()) return 0;
    const auto registration = found->second.tags.find(tag);
    return registration == found->second.tags.end() ? 0 : registration->second.holders;
}

void TagRegistry::Release(const std::vector<std::pair<ODevice*, std::string>>& holds) {
    std::lock_guard exchanges(exchangeLock_);
    std::vector<ODevice*> emptied;
    {
        std::lock_guard lock(stateLock_);
        for (const auto& [device, tag] : holds) {
            const auto found = devices_.find(device);
            if (found == devices_.end()) continue;
            auto& tags = found->second.tags;
            const auto registration = tags.find(tag);
            if (registration == tags.end() || --registration->second.holders > 0) continue;
            tags.erase(registration);
            if (!tags.empty()) continue;
            devices_.erase(found);
            emptied.push_back(device);
        }
    }
    for (ODevice* device : emptied) {
        const TagRef use = useOfDevice(device);
        if (!use) continue;
        if (DeviceLink* link = FindLink(*device); link && link->IsConnected())
            exchangeLine(*link, "rem/" + std::to_string(kHandle) + "\r\n");
    }
}

void TagRegistry::Sync(const std::vector<TagRef>& deviceTags) {
    std::unique_lock exchanges(exchangeLock_, std::try_to_lock);
    // Another thread is sending: it, or the next pass, covers these devices.
    if (!exchanges.owns_lock()) return;
    for (const TagRef& tag : deviceTags) {
        ODevice* device = tag && tag->m_pGroup ? tag->m_pGroup->GetDevice() : nullptr;
        if (device) SyncDevice(*device);
    }
}

void TagRegistry::SyncDevice(ODevice& device) {
    DeviceLink* link = FindLink(device);
    if (!link || !link->IsConnected()) return;
    const unsigned connection = link->ConnectionNumber();
    std::vector<std::string> missing;
    {
        std::lock_guard lock(stateLock_);
        const auto found = devices_.find(&device);
        // Nothing new since this connection was served: the usual case, checked on every pass.
        if (found == devices_.end() || (!found->second.added && found->second.syncedIn == connection)) return;
        found->second.added = false;
        for (const auto& [name, registration] : found->second.tags)
            if (registration.sentIn != connection && registration.refusedIn != connection)
                missing.push_back(name);
    }
    for (const std::string& name : missing) {
        const auto reply = exchangeLine(*link, "chgdp/" + std::to_string(kHandle) + "/" + name + "\r\n");
        // Lost with the connection: the next connection sends it.
        if (!reply) return;
        std::lock_guard lock(stateLock_);
        const auto found = devices_.find(&device);
        if (found == devices_.end()) return;
        const auto registration = found->second.tags.find(name);
        if (registration == found->second.tags.end()) continue;
        if (reply->empty())
            registration->second.refusedIn = connection;
        else
            registration->second.sentIn = connection;
    }
    std::lock_guard lock(stateLock_);
    if (const auto found = devices_.find(&device); found != devices_.end())
        found->second.syncedIn = connection;
}

}  // namespace ferrow::access
