#include "ferrow/model/device.h"

#include "ferrow/model/locks.h"
#include "ferrow/model/name_order.h"

namespace ferrow {

using platform::com::currentFileTime;
using platform::com::FILETIME;

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

ODevice::ODevice() : link_(std::make_unique<NullLinkControl>()) { m_strName = "Device"; }

ODevice::~ODevice() {
    // The link's workers store into the tags: they end before the tags go.
    link_->Stop();
    link_.reset();
}

void ODevice::AttachLink(std::unique_ptr<LinkControl> link) {
    link_->Stop();
    link_ = link ? std::move(link) : std::make_unique<NullLinkControl>();
}

void ODevice::AddTag(std::unique_ptr<OTag> tag) {
    std::lock_guard document(documentLock());
    tag->m_pGroup = this;
    std::lock_guard tags(tagsLock_);
    insertIntoSorted(m_tags, std::move(tag));
}

void ODevice::MarkCommFailure() {
    // The tag list does not change under us: the tag-list lock is taken by its only writer too. The
    // value lock comes first (see locks.h).
    std::lock_guard values(valueLock());
    std::lock_guard tags(tagsLock_);
    const FILETIME now = currentFileTime();
    for (auto& tag : m_tags) {
        tag->m_wQuality = kQualityCommFailure;
        tag->m_ftTimestamp = now;
    }
}

OTag* ODevice::FindPushedTag(std::string_view name) const {
    std::lock_guard tags(tagsLock_);
    for (const auto& tag : m_tags)
        if (equalNoCase(tag->m_strName, name)) return tag.get();
    return nullptr;
}

}  // namespace ferrow
