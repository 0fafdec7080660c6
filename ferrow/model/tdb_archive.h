#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ferrow {

// What a configuration file holds, apart from the live objects: groups and devices, no tags.
struct TdbGroup {
    bool isDevice = false;
    std::string name = "Group";
    std::string description;
    std::uint16_t reserved = 1;
    // Devices only.
    std::uint32_t deviceReserved = 0;
    std::uint32_t simulate = 0;
    std::array<std::string, 4> octets;
    std::uint32_t paramsReserved = 1000;
    std::uint16_t paramsWord = 0;
    std::vector<TdbGroup> groups;
};

struct TdbDocument {
    std::uint16_t nextDevice = 1;
    TdbGroup root;
};

// Limits a file must keep to; beyond them it is refused rather than built.
inline constexpr int kMaxTdbDepth = 32;
inline constexpr int kMaxTdbDevices = 1024;

// The object archive of a configuration: class records, object indexes and the fields of CDoc,
// OTagGroup, ODevice and ODeviceParams, little-endian.
std::string WriteTdb(const TdbDocument& document);
// Reads a whole file; an empty file is an empty configuration. False with a reason in `error` for
// anything else that does not follow the format. Never allocates more than the file's size per item.
bool ReadTdb(std::string_view bytes, TdbDocument* document, std::string* error);

}  // namespace ferrow
