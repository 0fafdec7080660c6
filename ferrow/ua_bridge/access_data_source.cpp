#include "ferrow/ua_bridge/access_data_source.h"

#include <algorithm>

#include "ferrow/access/device_io.h"
#include "ferrow/access/tag_registry.h"
#include "ferrow/model/cdoc.h"
#include "ferrow/model/device.h"
#include "ferrow/model/locks.h"
#include "ferrow/ua_bridge/configuration_tree.h"
#include "ferrow/ua_bridge/tag_values.h"

namespace ferrow::ua_bridge {

using ua::TagSample;
using ua::WriteOutcome;

namespace {

// The DA quality "bad, configuration error": what a watch of an unknown item reports.
constexpr std::uint16_t kQualityConfigError = 0x04;
// Device reads and writes run at most this many at a time.
constexpr int kDeviceCallThreads = 2;

// Under the value lock.
TagSample sampleOf(const OTag& tag) {
    return TagSample{tagValueOf(tag.m_value, tagTypeOf(tag.m_vtCanonical)), tag.m_wQuality,
                     dateTimeOf(tag.m_ftTimestamp)};
}

WriteOutcome outcomeOf(access::WriteResult result) {
    switch (result) {
        case access::WriteResult::Written:
            return WriteOutcome::Accepted;
        case access::WriteResult::NotWritable:
            return WriteOutcome::NotWritable;
        case access::WriteResult::NotConnected:
        case access::WriteResult::NoAnswer:
            return WriteOutcome::NoCommunication;
        case access::WriteResult::Unconvertible:
        case access::WriteResult::OutOfRange:
        case access::WriteResult::Refused:
            return WriteOutcome::DeviceRefused;
    }
    return WriteOutcome::DeviceRefused;
}

}  // namespace

AccessDataSource::AccessDataSource(CDoc& doc) : doc_(doc) {
    deviceCalls_.setMaxThreadCount(kDeviceCallThreads);
    // The registry the passes use is made first, so that it outlives the scheduler's threads at exit.
    access::TagRegistry::Shared();
    job_ = access::UpdateScheduler::Shared().Start([this] { return pass(); });
}

AccessDataSource::~AccessDataSource() {
    access::UpdateScheduler::Shared().Stop(job_);
    // Reads and writes end within their devices' reply limits.
    deviceCalls_.waitForDone();
    std::vector<std::pair<ODevice*, std::string>> holds;
    {
        std::lock_guard lock(watchLock_);
        tagUses_ -= static_cast<int>(firstReads_.size());
        firstReads_.clear();
        holds = std::move(releases_);
        for (const auto& [id, watch] : watches_)
            if (watch.device) holds.emplace_back(watch.device, watch.tag->m_strName);
        watches_.clear();
        watchCount_ = 0;
    }
    access::TagRegistry::Shared().Release(holds);
}

std::vector<ua::FolderInfo> AccessDataSource::devices() const { return configurationTree(doc_); }

void AccessDataSource::setConfigurationListener(std::function<void()> listener) {
    // The fingerprint is taken before the listener is set, so that a change in between is not missed.
    std::string fingerprint = listener ? treeFingerprint(configurationTree(doc_)) : std::string();
    std::lock_guard lock(listenerLock_);
    listener_ = std::move(listener);
    fingerprint_ = std::move(fingerprint);
}

std::optional<TagSample> AccessDataSource::readCached(const std::string& itemId) const {
    const TagUse use(tagUses_);
    const TagRef tag = doc_.AcquireItem(itemId);
    if (!tag) return std::nullopt;
    std::lock_guard values(valueLock());
    return sampleOf(*tag.get());
}

void AccessDataSource::readFromDevice(std::vector<std::string> itemIds,
                                      std::function<void(std::vector<std::optional<TagSample>>)> done) {
    auto use = std::make_shared<TagUse>(tagUses_);
    deviceCalls_.start([this, use, itemIds = std::move(itemIds), done = std::move(done)]() mutable {
        std::vector<std::optional<TagSample>> samples;
        samples.reserve(itemIds.size());
        for (const std::string& itemId : itemIds) {
            const TagRef tag = doc_.AcquireItem(itemId);
            if (!tag || !access::ReadFromDevice(*tag.get())) {
                samples.emplace_back();
                continue;
            }
            std::lock_guard values(valueLock());
            samples.emplace_back(sampleOf(*tag.get()));
        }
        use.reset();
        done(std::move(samples));
    });
}

void AccessDataSource::write(std::vector<std::pair<std::string, ua::TagValue>> items,
                             std::function<void(std::vector<WriteOutcome>)> done) {
    auto use = std::make_shared<TagUse>(tagUses_);
    deviceCalls_.start([this, use, items = std::move(items), done = std::move(done)]() mutable {
        std::vector<WriteOutcome> outcomes;
        outcomes.reserve(items.size());
        for (const auto& [itemId, value] : items) {
            const TagRef tag = doc_.AcquireItem(itemId);
            if (!tag) {
                outcomes.push_back(WriteOutcome::UnknownTag);
                continue;
            }
            platform::com::VARIANT variant = variantOf(value);
            outcomes.push_back(outcomeOf(access::WriteToDevice(*tag.get(), variant)));
            platform::com::VariantClear(&variant);
        }
        use.reset();
        done(std::move(outcomes));
    });
}

ua::UaDataSource::WatchId AccessDataSource::watch(const std::string& itemId,
                                                  std::function<void(const TagSample&)> onChange) {
    const TagUse use(tagUses_);
    ODevice* device = nullptr;
    TagRef tag = doc_.AcquireItem(itemId, &device);
    std::lock_guard lock(watchLock_);
    const WatchId id = nextWatch_++;
    Watch& added = watches_.try_emplace(id).first->second;  // in place: a map's elements stay where they are
    added.tag = std::move(tag);
    added.device = device;
    added.onChange = std::move(onChange);
    watchCount_ = watches_.size();
    if (!added.tag) {
        added.device = nullptr;
        added.onChange(TagSample{std::monostate{}, kQualityConfigError, ua::DateTime::now()});
        return id;
    }
    added.type = tagTypeOf(added.tag->m_vtCanonical);
    if (added.device) access::TagRegistry::Shared().Hold(added.device, added.tag->m_strName);
    // The first sample goes out under the watch lock, so that no pass reports a later one before it.
    std::optional<TagSample> first;
    {
        std::lock_guard values(valueLock());
        first = takeOver(added);
        if (added.tag->m_value.vt == platform::com::VT_EMPTY) {
            const auto same = [&](const TagRef& t) { return t.get() == added.tag.get(); };
            if (std::none_of(firstReads_.begin(), firstReads_.end(), same)) {
                ++tagUses_;  // until the read has ended, even when the watch ends first
                firstReads_.push_back(added.tag);
            }
        }
    }
    if (first) added.onChange(*first);
    return id;
}

void AccessDataSource::unwatch(WatchId id) {
    std::lock_guard lock(watchLock_);
    const auto found = watches_.find(id);
    if (found == watches_.end()) return;
    if (found->second.device) releases_.emplace_back(found->second.device, found->second.tag->m_strName);
    watches_.erase(found);
    watchCount_ = watches_.size();
}

bool AccessDataSource::holdsTags() const { return watchCount_.load() != 0 || tagUses_.load() != 0; }

std::optional<TagSample> AccessDataSource::takeOver(Watch& watch) {
    if (!access::TakeOver(watch.state, *watch.tag.get(), 0.0f, passNumber_)) return std::nullopt;
    watch.state.Delivered(passNumber_);
    return TagSample{tagValueOf(watch.state.cachedValue, watch.type), watch.state.cachedQuality,
                     dateTimeOf(watch.state.cachedTimestamp)};
}

std::optional<std::chrono::milliseconds> AccessDataSource::pass() {
    // Device exchanges run without the watch lock, so that the endpoint's calls never wait for a device.
    std::vector<std::pair<ODevice*, std::string>> releases;
    std::vector<TagRef> deviceTags;
    std::vector<TagRef> firstReads;
    std::optional<TagUse> use;  // the tags copied here stay counted after their watches end
    {
        std::lock_guard lock(watchLock_);
        if (!watches_.empty()) use.emplace(tagUses_);
        releases.swap(releases_);
        firstReads.swap(firstReads_);
        std::vector<ODevice*> seen;
        for (const auto& [id, watch] : watches_) {
            if (!watch.device || std::find(seen.begin(), seen.end(), watch.device) != seen.end()) continue;
            seen.push_back(watch.device);
            deviceTags.push_back(watch.tag);
        }
    }
    access::TagRegistry& registry = access::TagRegistry::Shared();
    if (!releases.empty()) registry.Release(releases);
    if (!deviceTags.empty()) registry.Sync(deviceTags);
    if (!firstReads.empty()) readFirstValues(std::move(firstReads));

    bool watching;
    {
        std::lock_guard lock(watchLock_);
        watching = !watches_.empty();
        if (watching) {
            ++passNumber_;
            std::lock_guard values(valueLock());
            for (auto& [id, watch] : watches_) {
                if (!watch.tag) continue;
                if (const auto sample = takeOver(watch)) watch.onChange(*sample);
            }
        }
    }

    const auto now = std::chrono::steady_clock::now();
    if (now >= nextConfigurationCheck_) {
        nextConfigurationCheck_ = now + kConfigurationCheckPeriod;
        checkConfiguration();
    }
    // Without watches a pass only lets go of registrations and compares the configuration.
    return watching ? kPassPeriod : kIdlePassPeriod;
}

void AccessDataSource::readFirstValues(std::vector<TagRef> tags) {
    // The values land in the tags; the passes take them over like any change.
    deviceCalls_.start([this, tags = std::move(tags)]() mutable {
        for (const TagRef& tag : tags) access::ReadFromDevice(*tag.get());
        const auto count = static_cast<int>(tags.size());
        tags.clear();
        tagUses_ -= count;
    });
}

void AccessDataSource::checkConfiguration() {
    {
        std::lock_guard lock(listenerLock_);
        if (!listener_) return;
    }
    std::string fingerprint = treeFingerprint(configurationTree(doc_));
    std::function<void()> listener;
    {
        std::lock_guard lock(listenerLock_);
        if (!listener_ || fingerprint == fingerprint_) return;
        fingerprint_ = std::move(fingerprint);
        listener = listener_;
    }
    listener();
}

}  // namespace ferrow::ua_bridge
