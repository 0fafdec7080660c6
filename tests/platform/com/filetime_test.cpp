#include "platform/com/filetime.h"

#include <gtest/gtest.h>

#include <ctime>

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

TEST(DosDateTime, ToDateWithThePlatformsRollOver) {
    auto dos = [](unsigned d, unsigned m, unsigned y) {
        return static_cast<WORD>(((y - 1980) << 9) | (m << 5) | d);
    };
    auto at = [](unsigned h, unsigned mi, unsigned s) {
        return static_cast<WORD>((h << 11) | (mi << 5) | (s / 2));
    };
    DATE date = 0;
    ASSERT_TRUE(DosDateTimeToVariantTime(dos(1, 1, 1980), 0, &date));
    EXPECT_DOUBLE_EQ(date, 29221.0);
    ASSERT_TRUE(DosDateTimeToVariantTime(dos(31, 12, 2099), 0, &date));
    EXPECT_DOUBLE_EQ(date, 73050.0);
    EXPECT_FALSE(DosDateTimeToVariantTime(dos(31, 12, 2100), 0, &date));
    const std::pair<WORD, double> rolled[] = {{dos(0, 1, 1980), 29220},  {dos(1, 0, 1980), 29190},
                                              {dos(0, 0, 1980), 29189},  {dos(29, 2, 1981), 29646},
                                              {dos(30, 2, 1981), 29647}, {dos(29, 2, 1980), 29280}};
    for (const auto& [word, expected] : rolled) {
        ASSERT_TRUE(DosDateTimeToVariantTime(word, 0, &date));
        EXPECT_DOUBLE_EQ(date, expected);
    }
    EXPECT_FALSE(DosDateTimeToVariantTime(dos(1, 13, 1980), 0, &date));
    EXPECT_FALSE(DosDateTimeToVariantTime(dos(1, 1, 1980), at(0, 60, 0), &date));
    EXPECT_FALSE(DosDateTimeToVariantTime(dos(1, 1, 1980), at(24, 0, 0), &date));
    ASSERT_TRUE(DosDateTimeToVariantTime(dos(1, 1, 1980), at(23, 0, 0), &date));
    EXPECT_NEAR(date, 29221.95833333333, 1e-9);
    ASSERT_TRUE(DosDateTimeToVariantTime(dos(1, 1, 1980), at(0, 59, 0), &date));
    EXPECT_NEAR(date, 29221.04097222222, 1e-9);
    ASSERT_TRUE(DosDateTimeToVariantTime(dos(1, 1, 1980), 14, &date));  // "29 s" is stored as 28 s
    EXPECT_NEAR(date, 29221.00032407407, 1e-11);
}

TEST(DosDateTime, FromDateAndFromFileTime) {
    WORD d = 0, t = 0;
    ASSERT_TRUE(VariantTimeToDosDateTime(29221.0, &d, &t));
    EXPECT_EQ(d, (0 << 9) | (1 << 5) | 1);
    EXPECT_EQ(t, 0);
    EXPECT_FALSE(VariantTimeToDosDateTime(29220.0, &d, &t));
    EXPECT_FALSE(VariantTimeToDosDateTime(73415.0, &d, &t));
    ASSERT_TRUE(VariantTimeToDosDateTime(29221.0 + 28.0 / 86400, &d, &t));
    EXPECT_EQ(t, 14);
    ASSERT_TRUE(VariantTimeToDosDateTime(29221.0 + 30.0 / 86400, &d, &t));
    EXPECT_EQ(t, 15);

    // 31 Dec 2006 23:59:59.9 UTC: cut to 23:59:58, no time-zone shift.
    const FILETIME late = FILETIME::fromTicks(128120831999000000ULL);
    ASSERT_TRUE(FileTimeToDosDateTime(late, &d, &t));
    EXPECT_EQ(d, ((2006 - 1980) << 9) | (12 << 5) | 31);
    EXPECT_EQ(t, (23 << 11) | (59 << 5) | 29);
    EXPECT_FALSE(FileTimeToDosDateTime(FILETIME{}, &d, &t));  // 1601
}
