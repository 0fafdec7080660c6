#include "ferrow/devlink/tag_lists.h"

#include <optional>
#include <string>

#include "ferrow/devlink/device_link.h"
#include "ferrow/model/locks.h"

namespace ferrow {

namespace {
ODevice* deviceOf(OTag* tag) { return tag->m_pGroup ? tag->m_pGroup->GetDevice() : nullptr; }

std::optional<std::string> exchange(ODevice& device, const std::string& line) {
    OPortRequest request;
    DeviceLink* link = FindLink(device);
    if (!link || !request.SetCommand(line) || !link->m_pCommandPort->Execute(request)) return std::nullopt;
    return std::string(request.m_szReply);
}
}  // namespace

bool SubscribeTags(int handle, const std::vector<OTag*>& tags) {
    for (OTag* tag : tags) {
        ODevice* device = deviceOf(tag);
        if (!device) return false;
        const auto reply =
            exchange(*device, "chgdp/" + std::to_string(handle) + "/" + tag->m_strName + "\r\n");
        if (!reply || reply->empty()) return false;
    }
    return true;
}

bool UnsubscribeTags(int handle, const std::vector<OTag*>& tags) {
    ODevice* previous = nullptr;
    for (OTag* tag : tags) {
        ODevice* device = deviceOf(tag);
        if (device && device != previous) exchange(*device, "rem/" + std::to_string(handle) + "\r\n");
        previous = device;
    }
    return true;
}

bool ReadTags(bool poll, const std::vector<OTag*>& tags) {
    if (!poll) return true;
    const auto began = platform::com::currentFileTime();
    for (OTag* tag : tags) {
        ODevice* device = deviceOf(tag);
        std::string text;
        DeviceLink* link = device ? FindLink(*device) : nullptr;
        if (link && link->IsConnected()) {
            text = link->ReadValue(*tag);
            std::lock_guard lock(valueLock());
            device->m_params.m_ftLastRead = began;
        }
        if (text.empty()) {
            if (device) device->MarkCommFailure();
            return false;
        }
        StoreHexValue(*static_cast<OqnTag*>(tag), text);
    }
    return true;
}

}  // namespace ferrow
