#include "platform/ui/wait.h"

#include <gtest/gtest.h>

#include <QAbstractEventDispatcher>
#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>

#include "platform/ui/time_scale.h"

using namespace std::chrono_literals;

TEST(WaitUntil, EndsRightAfterTheEventThatMakesTheConditionTrue) {
    bool fired = false;
    bool postedAfterwardsRan = false;
    QTimer::singleShot(30, [&] {
        fired = true;
        // Delivered by the next round of the event loop, which a wait that has ended never runs.
        QTimer::singleShot(0, [&] { postedAfterwardsRan = true; });
    });
    EXPECT_TRUE(platform::ui::waitUntil([&] { return fired; }, 60s));
    EXPECT_FALSE(postedAfterwardsRan);
    EXPECT_TRUE(platform::ui::waitUntil([&] { return postedAfterwardsRan; }, 60s));
}

TEST(WaitUntil, EndsAtTheLimitWhenNothingHappensAndSleepsMeanwhile) {
    QAbstractEventDispatcher* dispatcher = QThread::currentThread()->eventDispatcher();
    ASSERT_NE(dispatcher, nullptr);
    int wakeUps = 0;
    const auto counting = QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, [&] { ++wakeUps; });
    const QDeadlineTimer limit(300ms, Qt::PreciseTimer);
    EXPECT_FALSE(platform::ui::waitUntil([] { return false; }, 300ms));
    QObject::disconnect(counting);
    EXPECT_TRUE(limit.hasExpired());
    // A wait that polls wakes up thousands of times in 300 ms; a sleeping one once or twice.
    EXPECT_LT(wakeUps, 50);
}

TEST(WaitUntil, RunsOtherEventsWhileWaiting) {
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(10);
    EXPECT_TRUE(platform::ui::waitUntil([&] { return ticks >= 3; }, 60s));
}

TEST(WaitFor, ReturnsOnlyOnceItsDurationHasPassed) {
    const QDeadlineTimer duration(100ms, Qt::PreciseTimer);
    platform::ui::waitFor(100ms);
    EXPECT_TRUE(duration.hasExpired());
}

TEST(TimeScale, ShortensLimitsButNeverToZero) {
    platform::setTimeScale(0.1);
    EXPECT_EQ(platform::scaled(5000ms), 500ms);
    EXPECT_EQ(platform::scaled(1ms), 1ms);
    platform::setTimeScale(-3);  // nonsense puts the normal scale back
    EXPECT_EQ(platform::scaled(5000ms), 5000ms);
}
