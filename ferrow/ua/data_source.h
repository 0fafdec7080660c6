#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "ferrow/ua/builtin_types.h"

namespace ferrow::ua {

// The type of a tag's value (the VARIANT type the configuration gives it).
enum class TagType : std::uint8_t {
    Boolean,
    SByte,
    Byte,
    Int16,
    UInt16,
    Int32,
    UInt32,
    Int64,
    UInt64,
    Float,
    Double,
    String,
    DateTime
};

// A tag's value in TagType's order after the empty alternative (no value yet).
using TagValue =
    std::variant<std::monostate, bool, std::int8_t, std::uint8_t, std::int16_t, std::uint16_t, std::int32_t,
                 std::uint32_t, std::int64_t, std::uint64_t, float, double, std::string, DateTime>;

// What the data-access core knows of a tag: its value, the DA quality word (0xC0 good, 0x18 communication
// failure, limit bits in the low two bits, ...) and the tag's time.
struct TagSample {
    TagValue value;
    std::uint16_t quality = 0x20;  // waiting for initial data
    DateTime timestamp;
    bool operator==(const TagSample&) const = default;
};

struct TagInfo {
    std::string name;    // the tag's own name
    std::string itemId;  // the DA item ID, e.g. "Device1.Counter"
    TagType type = TagType::Double;
    bool writable = false;  // an output tag
};

struct FolderInfo {
    std::string name;  // the device's or the group's own name
    std::string path;  // device name and group names joined with "."
    std::vector<FolderInfo> folders;
    std::vector<TagInfo> tags;
};

enum class WriteOutcome : std::uint8_t { Accepted, UnknownTag, NotWritable, DeviceRefused, NoCommunication };

// The endpoint's only way to the devices' data: the configuration as a tree, cached and device reads,
// writes with a result per item and watches of tags. Implemented by the data-access core in Ferrow and
// by MemoryDataSource in tests. Callbacks may come on any thread, also from inside the call that starts
// them; the endpoint takes them over to its own thread. Calls come from the endpoint's thread.
class UaDataSource {
  public:
    using WatchId = std::uint64_t;
    virtual ~UaDataSource() = default;

    virtual std::vector<FolderInfo> devices() const = 0;
    // `listener` runs whenever devices() would return something else; it replaces any earlier one, and
    // an empty function removes it.
    virtual void setConfigurationListener(std::function<void()> listener) = 0;

    // The tag's cached sample; nothing for an unknown tag.
    virtual std::optional<TagSample> readCached(const std::string& itemId) const = 0;
    // Reads from the devices within their reply limits; an empty result is a tag that is gone or a
    // device that could not be reached.
    virtual void readFromDevice(std::vector<std::string> itemIds,
                                std::function<void(std::vector<std::optional<TagSample>>)> done) = 0;
    // Writes, each completed only once its device accepted the value or failed.
    virtual void write(std::vector<std::pair<std::string, TagValue>> items,
                       std::function<void(std::vector<WriteOutcome>)> done) = 0;

    // Calls `onChange` with the current sample at once and then with every change, until unwatch. All
    // watches of one tag share one device registration.
    virtual WatchId watch(const std::string& itemId, std::function<void(const TagSample&)> onChange) = 0;
    virtual void unwatch(WatchId id) = 0;
};

}  // namespace ferrow::ua
