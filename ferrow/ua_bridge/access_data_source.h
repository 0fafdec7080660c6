#pragma once

#include <QThreadPool>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ferrow/access/item_state.h"
#include "ferrow/access/update_scheduler.h"
#include "ferrow/model/tag.h"
#include "ferrow/ua/data_source.h"

namespace ferrow {
class CDoc;
class ODevice;
}  // namespace ferrow

namespace ferrow::ua_bridge {

// The UA endpoint's data source on the data-access core: the document's devices as the configuration,
// watches that hold the tags' device registrations in the registry every front end shares (a DA group
// and a UA item on one tag make one "chgdp"), and device reads and writes with a result per item.
//
// The watches' passes run on the core's update scheduler; they take the tags' changes over, send the
// registrations the devices are missing, let go of the ones unwatched since, and look for configuration
// changes. A tag watched before it ever had a value is read from its device once, as the device sends
// nothing on registration, so that a watch's first sample after the empty one is the device's value. Device
// reads and writes run on a small pool of its own, never on the caller's thread. The document must outlive
// this object.
class AccessDataSource : public ua::UaDataSource {
  public:
    explicit AccessDataSource(CDoc& doc);
    // Ends the passes, waits for reads and writes under way and lets go of every registration held.
    ~AccessDataSource() override;
    AccessDataSource(const AccessDataSource&) = delete;
    AccessDataSource& operator=(const AccessDataSource&) = delete;

    std::vector<ua::FolderInfo> devices() const override;
    void setConfigurationListener(std::function<void()> listener) override;
    std::optional<ua::TagSample> readCached(const std::string& itemId) const override;
    void readFromDevice(std::vector<std::string> itemIds,
                        std::function<void(std::vector<std::optional<ua::TagSample>>)> done) override;
    void write(std::vector<std::pair<std::string, ua::TagValue>> items,
               std::function<void(std::vector<ua::WriteOutcome>)> done) override;
    WatchId watch(const std::string& itemId, std::function<void(const ua::TagSample&)> onChange) override;
    void unwatch(WatchId id) override;

    // Whether UA clients hold tags of the document: watches, or reads and writes under way. The document
    // is not replaced meanwhile (New and Open ask this as they ask whether DA clients are connected), as
    // the tags must stay. Any thread; may be asked under the document lock.
    bool holdsTags() const;

    // How often the passes take changes over (with watches and without), and how often they compare the
    // configuration.
    static constexpr std::chrono::milliseconds kPassPeriod{10};
    static constexpr std::chrono::milliseconds kIdlePassPeriod{100};
    static constexpr std::chrono::milliseconds kConfigurationCheckPeriod{500};

  private:
    // Counts a use of the document's tags from before the item is looked up until the tag is let go.
    class TagUse {
      public:
        explicit TagUse(std::atomic<int>& uses) : uses_(uses) { ++uses_; }
        ~TagUse() { --uses_; }
        TagUse(const TagUse&) = delete;
        TagUse& operator=(const TagUse&) = delete;

      private:
        std::atomic<int>& uses_;
    };
    struct Watch {
        TagRef tag;                 // empty for an item ID the configuration lacks
        ODevice* device = nullptr;  // the tag's device, whose registration the watch holds
        ua::TagType type = ua::TagType::Double;
        access::ItemState state;
        std::function<void(const ua::TagSample&)> onChange;
    };

    std::optional<std::chrono::milliseconds> pass();
    void readFirstValues(std::vector<TagRef> tags);
    void checkConfiguration();
    // Under the watch lock and the value lock: the sample to report when the tag changed.
    std::optional<ua::TagSample> takeOver(Watch& watch);

    CDoc& doc_;
    // Lookups, device calls and first reads under way; watches are not counted here.
    mutable std::atomic<int> tagUses_{0};
    std::atomic<std::size_t> watchCount_{0};
    std::mutex watchLock_;              // guards watches_, releases_, passNumber_ (before the value lock)
    std::map<WatchId, Watch> watches_;  // each in its node, without a block of its own
    std::vector<std::pair<ODevice*, std::string>> releases_;  // holds unwatched, let go in the next pass
    std::vector<TagRef>
        firstReads_;  // watched tags without a value yet, read in the next pass; each a tag use
    WatchId nextWatch_ = 1;
    std::uint64_t passNumber_ = 0;
    std::chrono::steady_clock::time_point nextConfigurationCheck_;  // used by the passes only

    mutable std::mutex listenerLock_;  // guards listener_ and fingerprint_
    std::function<void()> listener_;
    std::string fingerprint_;

    QThreadPool deviceCalls_;
    std::shared_ptr<access::UpdateScheduler::Job> job_;
};

}  // namespace ferrow::ua_bridge
