#include "ferrow/ua/memory_data_source.h"

#include <algorithm>

namespace ferrow::ua {

const TagInfo* MemoryDataSource::findTag(const std::string& itemId) const {
    const auto it = tags_.find(itemId);
    return it == tags_.end() ? nullptr : it->second.info;
}

void MemoryDataSource::indexTags(const std::vector<FolderInfo>& folders) {
    for (const FolderInfo& folder : folders) {
        for (const TagInfo& tag : folder.tags) {
            TagState& state = tags_[tag.itemId];
            if (!state.info) state.info = &tag;  // the first of a name, as lookups in the folders find
        }
        indexTags(folder.folders);
    }
}

void MemoryDataSource::setDevices(std::vector<FolderInfo> devices) {
    std::function<void()> listener;
    {
        std::lock_guard lock(mutex_);
        devices_ = std::move(devices);
        for (auto& [itemId, state] : tags_) state.info = nullptr;
        indexTags(devices_);
        listener = listener_;
    }
    if (listener) listener();
}

void MemoryDataSource::setSample(const std::string& itemId, TagSample sample) {
    {
        std::lock_guard lock(mutex_);
        tags_[itemId].sample = sample;
    }
    notify(itemId, sample);
}

void MemoryDataSource::notify(const std::string& itemId, const TagSample& sample) {
    std::vector<Callback> targets;
    {
        std::lock_guard lock(mutex_);
        const auto it = tags_.find(itemId);
        if (it == tags_.end()) return;
        for (const auto& watch : it->second.watches) targets.push_back(watch.second);
    }
    for (const auto& target : targets) (*target)(sample);
}

void MemoryDataSource::setWriteOutcome(const std::string& itemId, WriteOutcome outcome) {
    std::lock_guard lock(mutex_);
    writeOutcomes_[itemId] = outcome;
}

void MemoryDataSource::setDevicesReachable(bool reachable) {
    std::lock_guard lock(mutex_);
    reachable_ = reachable;
}

std::size_t MemoryDataSource::watchCount(const std::string& itemId) const {
    std::lock_guard lock(mutex_);
    const auto it = tags_.find(itemId);
    return it == tags_.end() ? 0 : it->second.watches.size();
}

std::size_t MemoryDataSource::watchCount() const {
    std::lock_guard lock(mutex_);
    return watches_.size();
}

std::optional<TagValue> MemoryDataSource::lastWrite(const std::string& itemId) const {
    std::lock_guard lock(mutex_);
    const auto it = lastWrites_.find(itemId);
    return it == lastWrites_.end() ? std::nullopt : std::optional<TagValue>(it->second);
}

std::vector<FolderInfo> MemoryDataSource::devices() const {
    std::lock_guard lock(mutex_);
    return devices_;
}

void MemoryDataSource::setConfigurationListener(std::function<void()> listener) {
    std::lock_guard lock(mutex_);
    listener_ = std::move(listener);
}

std::optional<TagSample> MemoryDataSource::cachedLocked(const std::string& itemId) const {
    const auto it = tags_.find(itemId);
    if (it == tags_.end() || !it->second.info) return std::nullopt;
    return it->second.sample;
}

std::optional<TagSample> MemoryDataSource::readCached(const std::string& itemId) const {
    std::lock_guard lock(mutex_);
    return cachedLocked(itemId);
}

void MemoryDataSource::readFromDevice(std::vector<std::string> itemIds,
                                      std::function<void(std::vector<std::optional<TagSample>>)> done) {
    std::vector<std::optional<TagSample>> results(itemIds.size());
    {
        std::lock_guard lock(mutex_);
        if (reachable_)
            for (std::size_t i = 0; i < itemIds.size(); ++i) results[i] = cachedLocked(itemIds[i]);
    }
    done(std::move(results));
}

void MemoryDataSource::write(std::vector<std::pair<std::string, TagValue>> items,
                             std::function<void(std::vector<WriteOutcome>)> done) {
    std::vector<WriteOutcome> outcomes;
    std::vector<std::pair<std::string, TagSample>> changes;
    {
        std::lock_guard lock(mutex_);
        for (auto& [itemId, value] : items) {
            const TagInfo* tag = findTag(itemId);
            WriteOutcome outcome = !tag             ? WriteOutcome::UnknownTag
                                   : !tag->writable ? WriteOutcome::NotWritable
                                   : !reachable_    ? WriteOutcome::NoCommunication
                                                    : WriteOutcome::Accepted;
            if (const auto it = writeOutcomes_.find(itemId);
                it != writeOutcomes_.end() && outcome == WriteOutcome::Accepted)
                outcome = it->second;
            if (outcome == WriteOutcome::Accepted) {
                lastWrites_[itemId] = value;
                TagSample& sample = tags_[itemId].sample;
                sample = TagSample{value, 0xC0, DateTime::now()};
                changes.emplace_back(itemId, sample);
            }
            outcomes.push_back(outcome);
        }
    }
    for (const auto& [itemId, sample] : changes) notify(itemId, sample);
    done(std::move(outcomes));
}

UaDataSource::WatchId MemoryDataSource::watch(const std::string& itemId,
                                              std::function<void(const TagSample&)> onChange) {
    auto callback = std::make_shared<std::function<void(const TagSample&)>>(std::move(onChange));
    TagSample current;
    WatchId id = 0;
    {
        std::lock_guard lock(mutex_);
        id = nextWatch_++;
        TagState& tag = tags_[itemId];
        tag.watches.emplace_back(id, callback);
        watches_.emplace_back(id, &tag);
        current = tag.sample;
    }
    (*callback)(current);
    return id;
}

void MemoryDataSource::unwatch(WatchId id) {
    std::lock_guard lock(mutex_);
    const auto watch =
        std::lower_bound(watches_.begin(), watches_.end(), id,
                         [](const auto& entry, WatchId wanted) { return entry.first < wanted; });
    if (watch == watches_.end() || watch->first != id) return;
    auto& tagWatches = watch->second->watches;
    std::erase_if(tagWatches, [id](const auto& entry) { return entry.first == id; });
    if (tagWatches.empty()) tagWatches.shrink_to_fit();
    watches_.erase(watch);
}

}  // namespace ferrow::ua
