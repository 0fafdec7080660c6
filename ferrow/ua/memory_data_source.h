#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "ferrow/ua/data_source.h"

namespace ferrow::ua {

// A data source held in memory, for tests and the test server: a configuration the test sets, samples it
// changes, writes that succeed or fail as scripted. Thread-safe; callbacks run on the caller's thread,
// outside its lock.
class MemoryDataSource : public UaDataSource {
  public:
    void setDevices(std::vector<FolderInfo> devices);
    // Sets a tag's sample and tells its watchers.
    void setSample(const std::string& itemId, TagSample sample);
    // What writes to the tag answer (Accepted stores the value and tells the watchers).
    void setWriteOutcome(const std::string& itemId, WriteOutcome outcome);
    void setDevicesReachable(bool reachable);
    // Watches held for a tag: a stand-in for the device registrations.
    std::size_t watchCount(const std::string& itemId) const;
    std::size_t watchCount() const;
    // The last value written to a tag and accepted.
    std::optional<TagValue> lastWrite(const std::string& itemId) const;

    std::vector<FolderInfo> devices() const override;
    void setConfigurationListener(std::function<void()> listener) override;
    std::optional<TagSample> readCached(const std::string& itemId) const override;
    void readFromDevice(std::vector<std::string> itemIds,
                        std::function<void(std::vector<std::optional<TagSample>>)> done) override;
    void write(std::vector<std::pair<std::string, TagValue>> items,
               std::function<void(std::vector<WriteOutcome>)> done) override;
    WatchId watch(const std::string& itemId, std::function<void(const TagSample&)> onChange) override;
    void unwatch(WatchId id) override;

  private:
    using Callback = std::shared_ptr<std::function<void(const TagSample&)>>;  // runs outside the lock
    // A tag's configuration, sample and watches under one key: a read costs one lookup, a watch an entry
    // in a vector.
    struct TagState {
        const TagInfo* info = nullptr;  // into devices_; none for a tag the configuration lacks
        TagSample sample;
        std::vector<std::pair<WatchId, Callback>> watches;
    };
    const TagInfo* findTag(const std::string& itemId) const;  // under the lock
    void indexTags(const std::vector<FolderInfo>& folders);   // under the lock
    std::optional<TagSample> cachedLocked(const std::string& itemId) const;
    void notify(const std::string& itemId, const TagSample& sample);

    mutable std::mutex mutex_;
    std::vector<FolderInfo> devices_;
    // So that a change or a read costs the same with ten tags as with ten thousand. A tag without entry
    // has the empty sample.
    std::unordered_map<std::string, TagState> tags_;
    std::map<std::string, WriteOutcome> writeOutcomes_;
    std::map<std::string, TagValue> lastWrites_;
    // Every watch's tag, in the order of the ids (they only grow). Entries of tags_ stay where they are.
    std::vector<std::pair<WatchId, TagState*>> watches_;
    WatchId nextWatch_ = 1;
    bool reachable_ = true;
    std::function<void()> listener_;
};

}  // namespace ferrow::ua
