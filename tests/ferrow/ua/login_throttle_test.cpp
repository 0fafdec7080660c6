#include "ferrow/ua/login_throttle.h"

#include <gtest/gtest.h>

using ferrow::ua::Clock;
using ferrow::ua::LoginThrottle;
using std::chrono::milliseconds;

namespace {

const Clock::time_point kStart{std::chrono::hours(1)};

TEST(LoginThrottle, EachFailureDoublesTheWaitOfTheNextAttemptUpToTheLongestStep) {
    LoginThrottle throttle;
    EXPECT_EQ(throttle.waitBefore("10.0.0.9", kStart), milliseconds(0));
    throttle.onFailure("10.0.0.9", kStart);
    EXPECT_EQ(throttle.waitBefore("10.0.0.9", kStart), LoginThrottle::kFirstStep);

    // Guesses one after the other, each once the last wait was served.
    Clock::time_point now = kStart + LoginThrottle::kFirstStep;
    milliseconds step = LoginThrottle::kFirstStep;
    for (int i = 0; i < 10; ++i) {
        throttle.onFailure("10.0.0.9", now);
        step = std::min(step * 2, LoginThrottle::kLongestStep);
        EXPECT_EQ(throttle.waitBefore("10.0.0.9", now), step) << "failure " << i + 2;
        now += step;
    }
    EXPECT_EQ(step, LoginThrottle::kLongestStep);
    EXPECT_EQ(throttle.waitBefore("10.0.0.9", now), milliseconds(0));
}

TEST(LoginThrottle, GuessesSentSideBySideAreSpacedLikeGuessesInTurn) {
    LoginThrottle throttle;
    for (int i = 0; i < 3; ++i) throttle.onFailure("10.0.0.9", kStart);
    EXPECT_EQ(throttle.waitBefore("10.0.0.9", kStart), milliseconds(250 + 500 + 1000));
}

TEST(LoginThrottle, ASuccessForgetsTheClientAndOtherClientsAreNotSlowed) {
    LoginThrottle throttle;
    throttle.onFailure("10.0.0.9", kStart);
    throttle.onFailure("10.0.0.9", kStart);
    EXPECT_EQ(throttle.waitBefore("10.0.0.7", kStart), milliseconds(0));
    throttle.onSuccess("10.0.0.9");
    EXPECT_EQ(throttle.waitBefore("10.0.0.9", kStart), milliseconds(0));
    throttle.onFailure("10.0.0.9", kStart);
    EXPECT_EQ(throttle.waitBefore("10.0.0.9", kStart), LoginThrottle::kFirstStep);
}

TEST(LoginThrottle, ManyClientsKeepTheTableBoundedAndTheLongestPenaltiesStay) {
    LoginThrottle throttle;
    // One persistent guesser with a long penalty, then more addresses than the table holds.
    for (int i = 0; i < 6; ++i) throttle.onFailure("10.0.0.9", kStart);
    for (std::size_t i = 0; i < LoginThrottle::kMaxClients + 100; ++i)
        throttle.onFailure("192.0.2." + std::to_string(i), kStart);
    EXPECT_EQ(throttle.clientCount(), LoginThrottle::kMaxClients);
    EXPECT_GT(throttle.waitBefore("10.0.0.9", kStart), LoginThrottle::kLongestStep);
}

}  // namespace
