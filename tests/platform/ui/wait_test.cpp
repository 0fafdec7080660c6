#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>
#include <ctime>

#include "platform/ui/time_scale.h"
#include "platform/ui/wait.h"

using namespace std::chrono_literals;

TEST(WaitUntil, EndsWhenAnEventMakesTheConditionTrue) {
    bool fired = false;
    QTimer::singleShot(30, [&] { fired = true; });
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(platform::ui::waitUntil([&] { return fired; }, 5s));
    EXPECT_LT(clock.elapsed(), 2000);
}

TEST(WaitUntil, EndsAtTheLimitWhenNothingHappensAndSleepsMeanwhile) {
    QElapsedTimer clock;
    clock.start();
    const std::clock_t cpuBefore = std::clock();
    EXPECT_FALSE(platform::ui::waitUntil([] { return false; }, 300ms));
    const auto cpuMs = (std::clock() - cpuBefore) * 1000.0 / CLOCKS_PER_SEC;
    EXPECT_GE(clock.elapsed(), 295);
    EXPECT_LT(clock.elapsed(), 2000);
    // A spinning wait would burn the whole 300 ms.
    EXPECT_LT(cpuMs, 100.0);
}

TEST(WaitUntil, RunsOtherEventsWhileWaiting) {
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(10);
    platform::ui::waitFor(120ms);
    EXPECT_GE(ticks, 3);
}

TEST(TimeScale, ShortensLimitsButNeverToZero) {
    platform::setTimeScale(0.1);
    EXPECT_EQ(platform::scaled(5000ms), 500ms);
    EXPECT_EQ(platform::scaled(1ms), 1ms);
    platform::setTimeScale(-3);  // nonsense puts the normal scale back
    EXPECT_EQ(platform::scaled(5000ms), 5000ms);
}
