#include "platform/com/filetime.h"

#include <chrono>
#include <cmath>

#include "platform/com/civil_date.h"

namespace platform::com {

FILETIME currentFileTime() {
    using namespace std::chrono;
    const auto sinceEpoch = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
    return FILETIME::fromTicks(kUnixEpochTicks + static_cast<std::uint64_t>(sinceEpoch / 100));
}

DATE dateFromFileTime(const FILETIME& time) {
    return static_cast<double>(time.ticks()) / static_cast<double>(kTicksPerDay) -
           static_cast<double>(kDaysFrom1601ToDate0);
}

bool fileTimeFromDate(DATE date, FILETIME* time) {
    const double ticks =
        (date + static_cast<double>(kDaysFrom1601ToDate0)) * static_cast<double>(kTicksPerDay);
    if (!(ticks >= 0.0) || ticks >= 18446744073709549568.0) return false;
    *time = FILETIME::fromTicks(static_cast<std::uint64_t>(std::llround(ticks)));
    return true;
}

}  // namespace platform::com

namespace platform::com {

namespace {
constexpr std::int64_t kDate0From1970 = 25569;  // 30 Dec 1899 to 1 Jan 1970, in days

bool dosFields(std::int64_t days1970, std::int64_t secondsOfDay, WORD* dosDate, WORD* dosTime) {
    std::int64_t year;
    unsigned month, day;
    civilFromDays(days1970, &year, &month, &day);
    if (year < 1980 || year > 2107) return false;
    *dosDate = static_cast<WORD>(((year - 1980) << 9) | (month << 5) | day);
    *dosTime = static_cast<WORD>(((secondsOfDay / 3600) << 11) | (((secondsOfDay / 60) % 60) << 5) |
                                 ((secondsOfDay % 60) / 2));
    return true;
}
}  // namespace

bool FileTimeToDosDateTime(const FILETIME& time, WORD* dosDate, WORD* dosTime) {
    const auto seconds1601 = static_cast<std::int64_t>(time.ticks() / 10'000'000);
    const std::int64_t seconds1970 = seconds1601 - static_cast<std::int64_t>(kUnixEpochTicks / 10'000'000);
    const std::int64_t days = seconds1970 >= 0 ? seconds1970 / 86400 : (seconds1970 - 86399) / 86400;
    return dosFields(days, seconds1970 - days * 86400, dosDate, dosTime);
}

int DosDateTimeToVariantTime(WORD dosDate, WORD dosTime, DATE* date) {
    const unsigned day = dosDate & 0x1F, month = (dosDate >> 5) & 0x0F, year = 1980 + (dosDate >> 9);
    const unsigned second = (dosTime & 0x1F) * 2, minute = (dosTime >> 5) & 0x3F, hour = dosTime >> 11;
    if (year > 2099 || month > 12 || hour > 23 || minute > 59 || second > 59) return 0;
    // Month 0 is the month before January; day 0 the day before the first.
    const std::int64_t firstOfMonth =
        month == 0 ? daysFromCivil(year - 1, 12, 1) : daysFromCivil(year, month, 1);
    const std::int64_t days = firstOfMonth + static_cast<std::int64_t>(day) - 1;
    *date = static_cast<double>(days + kDate0From1970) + (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
    return 1;
}

int VariantTimeToDosDateTime(DATE date, WORD* dosDate, WORD* dosTime) {
    if (!(date >= 0.0) || date > 2958465.0) return 0;
    const auto wholeDays = static_cast<std::int64_t>(date);
    // Half a millisecond of slack: a DATE rarely holds a whole second exactly.
    const auto seconds =
        static_cast<std::int64_t>((date - static_cast<double>(wholeDays)) * 86400.0 + 0.0005);
    std::int64_t days = wholeDays - kDate0From1970;
    std::int64_t secondsOfDay = seconds;
    if (secondsOfDay >= 86400) {
        ++days;
        secondsOfDay -= 86400;
    }
    std::int64_t year;
    unsigned month, day;
    civilFromDays(days, &year, &month, &day);
    if (year > 2099) return 0;
    return dosFields(days, secondsOfDay, dosDate, dosTime) ? 1 : 0;
}

}  // namespace platform::com
