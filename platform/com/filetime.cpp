#include "platform/com/filetime.h"

#include <chrono>
#include <cmath>

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
    const double ticks = (date + static_cast<double>(kDaysFrom1601ToDate0)) * static_cast<double>(kTicksPerDay);
    if (!(ticks >= 0.0) || ticks >= 18446744073709549568.0) return false;
    *time = FILETIME::fromTicks(static_cast<std::uint64_t>(std::llround(ticks)));
    return true;
}

}  // namespace platform::com
