#include "vantor/files/progress_scale.h"

#include <gtest/gtest.h>

#include <QProgressBar>
#include <QSignalSpy>
#include <algorithm>
#include <limits>

using vantor::files::ProgressScale;

namespace {
// Feeds a copy's progress to a bar in blocks of 1 KiB, as an upload does; the bar's values on the way.
QList<int> feed(QProgressBar& bar, qint64 total) {
    QSignalSpy moved(&bar, &QProgressBar::valueChanged);
    ProgressScale progress(&bar, total);
    for (qint64 done = 1024; done < total; done += 1024) progress.set(done);
    progress.set(total);
    QList<int> values;
    for (const QList<QVariant>& args : moved) values << args.at(0).toInt();
    return values;
}
}  // namespace

TEST(ProgressScale, MovesInThousandthsAndAlwaysReachesTheEnd) {
    QProgressBar bar;
    const QList<int> values = feed(bar, 32 * 1024 * 1024 + 5);
    // 0 at the start, then a move whenever the blocks have gone past another thousandth.
    EXPECT_LE(values.size(), ProgressScale::kSteps + 2);
    EXPECT_GE(values.size(), ProgressScale::kSteps * 9 / 10);
    EXPECT_EQ(bar.maximum(), 32 * 1024 * 1024 + 5);
    EXPECT_EQ(bar.value(), bar.maximum());
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
}

TEST(ProgressScale, SmallCopiesShowEveryBlock) {
    QProgressBar bar;
    const QList<int> values = feed(bar, 5000);
    EXPECT_EQ(values, (QList<int>{0, 1024, 2048, 3072, 4096, 5000}));
}

TEST(ProgressScale, CopiesPastTheBarsRangeStillEndFull) {
    QProgressBar bar;
    ProgressScale progress(&bar, 5LL * 1024 * 1024 * 1024 + 1);
    EXPECT_LE(bar.maximum(), std::numeric_limits<int>::max());
    progress.set(5LL * 1024 * 1024 * 1024 / 2);
    EXPECT_NEAR(bar.value(), bar.maximum() / 2, bar.maximum() / ProgressScale::kSteps + 1);
    progress.set(5LL * 1024 * 1024 * 1024 + 1);
    EXPECT_EQ(bar.value(), bar.maximum());
}
