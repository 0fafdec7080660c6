#include <gtest/gtest.h>

#include <ctime>

#include "platform/com/filetime.h"

using namespace platform::com;

TEST(FileTime, DateZeroAndUnixEpoch) {
    const FILETIME date0 = FILETIME::fromTicks(0x014F35A9A90CC000ULL);
    EXPECT_DOUBLE_EQ(dateFromFileTime(date0), 0.0);
    FILETIME back;
    ASSERT_TRUE(fileTimeFromDate(0.0, &back));
    EXPECT_EQ(back.ticks(), 94'353'120'000'000'000ULL);
    EXPECT_DOUBLE_EQ(dateFromFileTime(FILETIME::fromTicks(kUnixEpochTicks)), 25569.0);
    EXPECT_FALSE(fileTimeFromDate(-109206.0, &back));
}

TEST(FileTime, CurrentTimeIsUtcNow) {
    const FILETIME now = currentFileTime();
    const auto unixSeconds = static_cast<std::int64_t>((now.ticks() - kUnixEpochTicks) / 10'000'000);
    EXPECT_LE(std::llabs(unixSeconds - static_cast<std::int64_t>(std::time(nullptr))), 2);
    EXPECT_EQ(FILETIME::fromTicks(now.ticks()).dwHighDateTime, now.dwHighDateTime);
}
