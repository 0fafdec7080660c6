#include "ferrow/ua/memory_data_source.h"

namespace ferrow::ua {

namespace {
const TagInfo* findIn(const std::vector<FolderInfo>& folders, const std::string& itemId) {
    for (const FolderInfo& folder : folders) {
        for (const TagInfo& tag : folder.tags)
            if (tag.itemId == itemId) return &tag;
        if (const TagInfo* tag = findIn(folder.folders, itemId)) return tag;
    }
    return nullptr;
}
}  // namespace

const TagInfo* MemoryDataSource::findTag(const std::string& itemId) const { return findIn(devices_, itemId); }

void MemoryDataSource::setDevices(std::vector<FolderInfo> devices) {
    std::function<void()> listener;
    {
        std::lock_guard lock(mutex_);
        devices_ = std::move(devices);
        listener = listener_;
    }
    if (listener) listener();
}

void MemoryDataSource::setSample(const std::string& itemId, TagSample sample) {
    {
        std::lock_guard lock(mutex_);
        samples_[itemId] = sample;
    }
    notify(itemId, sample);
}

void MemoryDataSource::notify(const std::string& itemId, const TagSample& sample) {
    std::vector<std::shared_ptr<std::function<void(const TagSample&)>>> targets;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [id, watch] : watches_)
            if (watch.itemId == itemId) targets.push_back(watch.onChange);
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
    std::size_t n = 0;
    for (const auto& [id, watch] : watches_) n += watch.itemId == itemId;
    return n;
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

std::optional<TagSample> MemoryDataSource::readCached(const std::string& itemId) const {
    std::lock_guard lock(mutex_);
    if (!findTag(itemId)) return std::nullopt;
    const auto it = samples_.find(itemId);
    return it == samples_.end() ? TagSample() : it->second;
}

void MemoryDataSource::readFromDevice(std::vector<std::string> itemIds,
                                      std::function<void(std::vector<std::optional<TagSample>>)> done) {
    std::vector<std::optional<TagSample>> results;
    for (const std::string& itemId : itemIds) {
        std::optional<TagSample> sample = readCached(itemId);
        std::lock_guard lock(mutex_);
        results.push_back(reachable_ ? sample : std::nullopt);
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
                TagSample& sample = samples_[itemId];
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
        watches_[id] = Watch{itemId, callback};
        if (const auto it = samples_.find(itemId); it != samples_.end()) current = it->second;
    }
    (*callback)(current);
    return id;
}

void MemoryDataSource::unwatch(WatchId id) {
    std::lock_guard lock(mutex_);
    watches_.erase(id);
}

}  // namespace ferrow::ua
