#pragma once

#include <cstdint>

namespace platform::com {

using DWORD = std::uint32_t;
// Days since 30 Dec 1899 00:00; the fraction is the time of day.
using DATE = double;

// UTC time in 100 ns ticks since 1 Jan 1601, split in two halves as the OPC structures carry it.
struct FILETIME {
    DWORD dwLowDateTime = 0;
    DWORD dwHighDateTime = 0;

    std::uint64_t ticks() const { return (std::uint64_t{dwHighDateTime} << 32) | dwLowDateTime; }
    static FILETIME fromTicks(std::uint64_t ticks) {
        return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    }
    friend bool operator==(const FILETIME& a, const FILETIME& b) { return a.ticks() == b.ticks(); }
};

inline constexpr std::uint64_t kTicksPerDay = 864'000'000'000ULL;
// 1 Jan 1601 to 30 Dec 1899.
inline constexpr std::uint64_t kDaysFrom1601ToDate0 = 109'205;
// 1 Jan 1601 to 1 Jan 1970, in ticks.
inline constexpr std::uint64_t kUnixEpochTicks = 116'444'736'000'000'000ULL;

// The current UTC time.
FILETIME currentFileTime();

DATE dateFromFileTime(const FILETIME& time);
// False when the date lies before 1601 or past what 64 bits of ticks hold.
bool fileTimeFromDate(DATE date, FILETIME* time);

}  // namespace platform::com
