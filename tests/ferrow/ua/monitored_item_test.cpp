// A monitored item's filter over the kinds of values it meets: single scalars (kept in place as the last
// value), arrays and other Variants, no value at all, status and source time changes and deadbands; and
// its queue of one, which is the last value itself.
#include "ferrow/ua/monitored_item.h"

#include <gtest/gtest.h>

namespace ferrow::ua {
namespace {

DataValue valueOf(Variant variant, std::uint32_t status = 0, std::int64_t sourceTime = 1) {
    DataValue value;
    value.value = std::move(variant);
    if (status != 0) value.status = StatusCode{status};
    value.sourceTimestamp = DateTime{sourceTime};
    return value;
}

std::vector<DataValue> takeQueued(MonitoredItem& item) {
    std::vector<DataValue> queued;
    const std::size_t count = item.queuedCount();
    item.drainQueued(count, [&](const DataValue& value) { queued.push_back(value); });
    EXPECT_EQ(queued.size(), count);
    EXPECT_FALSE(item.hasQueued());
    return queued;
}

// How many of `values`, offered in order, the item queues.
std::size_t queuedOf(MonitoredItem& item, const std::vector<DataValue>& values) {
    item.queueSize = 100;
    for (const DataValue& value : values) item.offer(value);
    return takeQueued(item).size();
}

TEST(MonitoredItemFilter, ReportsChangesOfScalarsOnlyAndTellsTypesApart) {
    MonitoredItem item;
    EXPECT_EQ(queuedOf(item, {valueOf(Variant::of(1.5)), valueOf(Variant::of(1.5)), valueOf(Variant::of(2.5)),
                              valueOf(Variant::of(2.5))}),
              2u);
    // The same number as another type, and a string against its equal, are a change and no change.
    EXPECT_EQ(queuedOf(item, {valueOf(Variant::of(float{2.5f})), valueOf(Variant::of(std::string("a"))),
                              valueOf(Variant::of(std::string("a")))}),
              2u);
    // A one-element array is not the scalar it holds.
    EXPECT_EQ(queuedOf(item, {valueOf(Variant::arrayOf(std::vector<std::string>{"a"})),
                              valueOf(Variant::arrayOf(std::vector<std::string>{"a"})),
                              valueOf(Variant::of(std::string("a")))}),
              2u);
    // Kinds no tag has, kept as a whole Variant.
    EXPECT_EQ(queuedOf(item, {valueOf(Variant::of(NodeId::numericId(1))),
                              valueOf(Variant::of(NodeId::numericId(1))),
                              valueOf(Variant::of(NodeId::numericId(2)))}),
              2u);
}

TEST(MonitoredItemFilter, ComparesMissingValuesStatusAndSourceTime) {
    MonitoredItem item;
    DataValue empty;
    empty.status = StatusCode{0x80000000};
    EXPECT_EQ(queuedOf(item, {empty, empty, valueOf(Variant::of(std::int32_t{1})), empty}), 3u);
    // A status change is reported even when the value stays; the source time alone only with its trigger.
    EXPECT_EQ(queuedOf(item, {valueOf(Variant::of(std::int32_t{1}), 0x00A80000),
                              valueOf(Variant::of(std::int32_t{1}), 0x00A80000, 7)}),
              1u);
    item.filter.trigger = DataChangeTrigger::StatusValueTimestamp;
    EXPECT_EQ(queuedOf(item, {valueOf(Variant::of(std::int32_t{1}), 0x00A80000, 8)}), 1u);
    item.filter.trigger = DataChangeTrigger::Status;
    EXPECT_EQ(queuedOf(item, {valueOf(Variant::of(std::int32_t{2}), 0x00A80000, 9)}), 0u);
}

TEST(MonitoredItemFilter, AppliesAnAbsoluteDeadbandToTheLastReportedNumber) {
    MonitoredItem item;
    item.filter.deadbandType = static_cast<std::uint32_t>(DeadbandType::Absolute);
    item.filter.deadbandValue = 1.0;
    EXPECT_EQ(
        queuedOf(item, {valueOf(Variant::of(10.0)), valueOf(Variant::of(10.9)), valueOf(Variant::of(11.5)),
                        valueOf(Variant::of(std::int16_t{12})), valueOf(Variant::of(std::int16_t{13}))}),
        3u);
    // A value that is no number falls back to equality.
    EXPECT_EQ(
        queuedOf(item, {valueOf(Variant::of(std::string("x"))), valueOf(Variant::of(std::string("x")))}), 1u);
    item.resetLastValue();
    EXPECT_EQ(queuedOf(item, {valueOf(Variant::of(std::string("x")))}), 1u);
}

TEST(MonitoredItemQueue, AQueueOfOneHandsOverTheNewestValueWhole) {
    MonitoredItem item;
    DataValue first = valueOf(Variant::of(1.5), 0, 3);
    first.serverTimestamp = DateTime{4};
    first.sourcePicoseconds = 5;
    first.serverPicoseconds = 6;
    DataValue second = valueOf(Variant::arrayOf(std::vector<std::int32_t>{1, 2}), 0x00A80000, 7);
    item.offer(first);
    ASSERT_TRUE(item.hasQueued());
    EXPECT_EQ(takeQueued(item), std::vector<DataValue>{first});
    EXPECT_FALSE(item.hasQueued());
    // Two changes in one cycle: the newer one, unmarked; a value without status stays without one.
    DataValue empty;
    item.offer(second);
    item.offer(empty);
    EXPECT_EQ(takeQueued(item), std::vector<DataValue>{empty});
    // A value forgotten as last value is still handed over, and the next sample is reported anyway.
    item.offer(first);
    item.resetLastValue();
    item.offer(first);
    EXPECT_EQ(takeQueued(item), (std::vector<DataValue>{first}));
    const DataValue other = valueOf(Variant::of(NodeId::numericId(9)), 0, 8);
    item.offer(other);
    EXPECT_EQ(takeQueued(item), (std::vector<DataValue>{other}));
    item.offer(second);
    item.clearQueue();
    EXPECT_FALSE(item.hasQueued());
}

TEST(MonitoredItemQueue, AValueWaitingStaysWhenTheQueueGrows) {
    MonitoredItem item;
    const DataValue first = valueOf(Variant::of(std::string("a")));
    const DataValue second = valueOf(Variant::of(std::string("b")));
    item.offer(first);
    item.queueSize = 3;
    item.offer(second);
    EXPECT_EQ(takeQueued(item), (std::vector<DataValue>{first, second}));
    item.offer(first);
    item.queueSize = 1;
    item.offer(second);
    EXPECT_EQ(takeQueued(item), (std::vector<DataValue>{second}));
}

}  // namespace
}  // namespace ferrow::ua
