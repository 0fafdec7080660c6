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
inline FILETIME CoFileTimeNow() { return currentFileTime(); }

DATE dateFromFileTime(const FILETIME& time);
// False when the date lies before 1601 or past what 64 bits of ticks hold.
bool fileTimeFromDate(DATE date, FILETIME* time);

// DOS date and time words: day, month, year-1980 in the date (bits 0-4, 5-8, 9-15); seconds/2, minutes,
// hours in the time (bits 0-4, 5-10, 11-15). No time-zone shift anywhere.
using WORD = std::uint16_t;
// False outside the years 1980 to 2107; seconds are cut to the 2-second step below.
bool FileTimeToDosDateTime(const FILETIME& time, WORD* dosDate, WORD* dosTime);
// Non-zero on success. As on the platform: day 0 and month 0 roll back, a day past the month's end rolls
// forward; years past 2099, month 13, hour 24, minute 60 or second 60 fail.
int DosDateTimeToVariantTime(WORD dosDate, WORD dosTime, DATE* date);
// Non-zero on success; dates before 1980 or after 2099 fail.
int VariantTimeToDosDateTime(DATE date, WORD* dosDate, WORD* dosTime);

}  // namespace platform::com
