#include "ferrow/model/device.h"

#include "ferrow/devlink/oport.h"
#include "ferrow/model/locks.h"
#include "ferrow/model/name_order.h"

namespace ferrow {

std::string ODeviceParams::Address() const {
    return m_strOctet[0] + "." + m_strOctet[1] + "." + m_strOctet[2] + "." + m_strOctet[3];
}

std::optional<std::string> ODeviceParams::NumericAddress() const {
    std::string address;
    for (const std::string& octet : m_strOctet) {
        if (octet.empty() || octet.size() > 3) return std::nullopt;
        int value = 0;
        for (char c : octet) {
            if (c < '0' || c > '9') return std::nullopt;
            value = value * 10 + (c - '0');
        }
        if (value > 255) return std::nullopt;
        if (!address.empty()) address += '.';
        address += std::to_string(value);
    }
    return address;
}

ODevice::ODevice() {
    m_strName = "Device";
    m_pCommandPort = std::make_unique<OPort>(this, OPort::kCommandPort);
    m_pNotifyPort = std::make_unique<OPort>(this, OPort::kNotifyPort);
}

ODevice::~ODevice() { StopPorts(); }

void ODevice::StopPorts() {
    // Both sockets are shut down first, so that neither worker keeps the other's stop waiting.
    if (m_pCommandPort) m_pCommandPort->Abort();
    if (m_pNotifyPort) m_pNotifyPort->Abort();
    if (m_pCommandPort) m_pCommandPort->Stop();
    if (m_pNotifyPort) m_pNotifyPort->Stop();
}

void ODevice::AddTag(std::unique_ptr<OTag> tag) {
    std::lock_guard document(documentLock());
    tag->m_pGroup = this;
    std::lock_guard tags(tagsLock_);
    insertIntoSorted(m_tags, std::move(tag));
}

OTag* ODevice::FindPushedTag(std::string_view name) const {
    std::lock_guard tags(tagsLock_);
    for (const auto& tag : m_tags)
        if (equalNoCase(tag->m_strName, name)) return tag.get();
    return nullptr;
}

}  // namespace ferrow
