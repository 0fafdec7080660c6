#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "ferrow/ua/data_source.h"
#include "ferrow/ua/subscription_messages.h"

namespace ferrow::ua {

// One monitored item: what it watches, its filter and its queue of values waiting to be published.
// Decides which samples are changes worth reporting and keeps the queue within its size, marking the
// value after a gap with the Overflow bit. Lives on the endpoint's thread.
class MonitoredItem {
  public:
    std::uint32_t id = 0;
    std::uint32_t clientHandle = 0;
    // What it watches: the node and attribute only, as an index range or a data encoding is refused when
    // the item is made. The node's tag knows the DA item ID.
    NodeId nodeId;
    std::uint32_t attributeId = 13;
    std::optional<TagType> tagType;  // a device tag's value; other nodes are sampled on the publishing cycle
    MonitoringMode mode = MonitoringMode::Reporting;
    double samplingInterval = 0;
    std::uint32_t queueSize = 1;
    bool discardOldest = true;
    DataChangeFilter filter;
    TimestampsToReturn timestamps = TimestampsToReturn::Both;
    UaDataSource::WatchId watch = 0;
    bool gone = false;  // its node left the address space

    // A new sample of the watched value; queued when it passes the filter (always the first one).
    void offer(const DataValue& value);
    // Hands at most `most` of the values queued to `each`, oldest first; the rest stay queued.
    template <class Each>
    void drainQueued(std::size_t most, Each&& each) {
        const std::size_t taken = std::min(most, queue_.size());
        for (std::size_t i = 0; i < taken; ++i) each(queue_[i]);
        if (taken == queue_.size())
            std::vector<DataValue>().swap(queue_);  // its block goes too
        else
            queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(taken));
        if (lastQueued_ && taken < most) {
            each(last_->toDataValue());
            lastQueued_ = false;
        }
    }
    std::size_t queuedCount() const { return queue_.size() + (lastQueued_ ? 1 : 0); }
    bool hasQueued() const { return lastQueued_ || !queue_.empty(); }
    void clearQueue() {
        queue_.clear();
        lastQueued_ = false;
    }
    // Forget the last value, so that the next sample is reported whatever it is.
    void resetLastValue() { reportNext_ = true; }

  private:
    bool passesFilter(const DataValue& value) const;
    void enqueue(DataValue value);

    // The last value queued, whole: the filter compares the next sample with it, and with a queue of
    // one it is also the value waiting. A single scalar stays in place (in a Variant it would take a
    // heap block of its own), as a TagValue when it is of one of its kinds (a Scalar takes more than twice
    // the room).
    struct Reported {
        std::variant<std::monostate, TagValue, Variant> value;  // none, a single scalar, any other
        BuiltinType scalarType = BuiltinType::Null;
        bool hasStatus = false;
        std::uint16_t sourcePicoseconds = 0, serverPicoseconds = 0;
        std::uint32_t status = 0;
        std::optional<DateTime> sourceTimestamp, serverTimestamp;

        static Reported of(const DataValue& value);
        DataValue toDataValue() const;
        bool sameValue(const std::optional<Variant>& other) const;
        std::optional<double> number() const;
    };
    std::optional<Reported> last_;
    // The value waiting is last_ itself: the common case, a queue of one, needs no block of its own.
    bool lastQueued_ = false;
    bool reportNext_ = false;  // the next sample passes the filter whatever it is
    // Values waiting when the queue holds more than one. A vector rather than a deque: an empty deque
    // costs more than half a kilobyte.
    std::vector<DataValue> queue_;
};

// Reads a DataChangeFilter (or none) and says why it cannot be used on the item, status Good when it can.
std::uint32_t parseFilter(const ExtensionObject& filter, bool numericValue, DataChangeFilter& out);

}  // namespace ferrow::ua
