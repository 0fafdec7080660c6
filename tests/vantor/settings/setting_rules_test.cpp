#include "vantor/settings/setting_rules.h"

#include <gtest/gtest.h>

using namespace vantor::settings;

TEST(AddressRules, EachDialogHasItsOwnRange) {
    struct Case {
        const char* text;
        bool host;  // IP and gateway
        bool subnet;
    };
    const Case cases[] = {
        {"0.0.0.0", true, true},         {"192.168.1.255", false, true},
        {"255.255.255.0", false, true},  {"10.0.0.1", true, true},
        {"0.1.2.3", false, true},        {"10.0.0.", false, false},
        {"10.0.0", false, false},        {"1.2.3.4.5", false, false},
        {"1.2.3.4x", false, false},      {" 10.0.0.1", false, false},
        {"10..0.1", false, false},       {"1.2.3.-4", false, false},
        {"99999.1.1.1", false, false},   {"", false, false},
        {"254.254.254.254", true, true}, {"192.168.0.10", true, true},
        {"10.0.0.0", false, true},       {"10.255.0.1", false, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(validAddress(c.text, AddressKind::Host), c.host) << c.text;
        EXPECT_EQ(validAddress(c.text, AddressKind::Mask), c.subnet) << c.text;
    }
}

TEST(ClockRules, TimesAreRewrittenWithoutLeadingZeros) {
    EXPECT_EQ(normaliseTime("09:05:03"), "9:5:3");
    EXPECT_EQ(normaliseTime("  23:59:59 "), "23:59:59");
    EXPECT_EQ(normaliseTime("9:05"), "9:5:0");
    EXPECT_EQ(normaliseTime("12:00:00 AM"), "0:0:0");
    EXPECT_EQ(normaliseTime("1:02:03 pm"), "13:2:3");
    for (const char* bad : {"24:00:00", "9:60:00", "9:5:60", "9", "", "9:5:3:1", "a:b:c", "13:00 PM"})
        EXPECT_FALSE(normaliseTime(bad)) << bad;
}

TEST(ClockRules, DatesAreAcceptedInThreeFormsOnly) {
    const QDate today(2026, 12, 7);
    EXPECT_EQ(normaliseDate("05.03.2004", today), "5.3.2004");
    EXPECT_EQ(normaliseDate(" 05.03.04 ", today), "5.3.2004");
    EXPECT_EQ(normaliseDate("05.03.95", today), "5.3.1995");
    EXPECT_EQ(normaliseDate("05.03.", today), "5.3.2026");
    EXPECT_EQ(normaliseDate("29.02.2004", today), "29.2.2004");
    for (const char* bad : {"5.3.2004", "05.3.2004", "29.02.2003", "32.01.2004", "05.13.2004", "05/03/2004",
                            "2004-03-05", "05.03.204", "05.03", ""})
        EXPECT_FALSE(normaliseDate(bad, today)) << bad;
}

TEST(ClockRules, ReplySplitsAtTheFirstBlank) {
    EXPECT_EQ(splitClockValue("05.03.2004 09:05:03").date, "05.03.2004");
    EXPECT_EQ(splitClockValue("05.03.2004 09:05:03").time, "09:05:03");
    EXPECT_EQ(splitClockValue("no-blank").date, "no-blank");
    EXPECT_EQ(splitClockValue("no-blank").time, "");
}
