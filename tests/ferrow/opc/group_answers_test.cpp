// What a group tells its client beyond the values: the overall error of callbacks and completions, and
// the answers of a group that has been removed or is asked something it does not know.

#include <optional>

#include "tests/ferrow/opc/group_io_fixture.h"

namespace opctest {
namespace {

// The first callback of `kind` and `transaction` whose last item has `value`, waited for.
std::optional<Callback> callbackWith(DataCallbackSink& sink, Callback::Kind kind, DWORD transaction,
                                     double value) {
    for (auto deadline = std::chrono::steady_clock::now() + 30s;
         std::chrono::steady_clock::now() < deadline;) {
        for (const Callback& c : sink.calls.all())
            if (c.kind == kind && c.transaction == transaction && !c.items.empty() &&
                c.items.back().number == value)
                return c;
        sink.calls.waitFor(sink.calls.size() + 1, 100ms);
    }
    return std::nullopt;
}

TEST_F(GroupIoTest, AnItemErrorMakesTheMasterErrorSFalseInCallbacksAndStreams) {
    group = makeGroup(1);
    adviseCallback(group.get(), sink);
    adviseStream(group.get(), kStreamFormatData, data);
    addItem(group.get(), u"Dev.Level", 1, VT_I1);  // 1000 does not fit
    addItem(group.get(), u"Dev.Level", 2, VT_R8);

    push(level, 1000);
    const auto overflow = callbackWith(sink, Callback::DataChange, 0, 1000);
    ASSERT_TRUE(overflow);
    EXPECT_EQ(overflow->items.at(0).error, DISP_E_OVERFLOW);
    EXPECT_EQ(overflow->items.at(1).error, S_OK);
    EXPECT_EQ(overflow->masterQuality, S_OK);
    EXPECT_EQ(overflow->masterError, S_FALSE);
    // The version 1.0 stream has no item errors: its header's status tells of the one not converted.
    const Stream stream = streamWhere(data, [](const Stream& s) {
        return s.dword(4) == 2 && s.word(20 + 8) == OPC_QUALITY_GOOD && s.dword(16) == 1;
    });
    EXPECT_FALSE(stream.bytes.empty());

    DWORD id = 0;
    ASSERT_EQ(query<IOPCAsyncIO2>(group.get())->Refresh2(OPC_DS_CACHE, 81, &id), S_OK);
    const auto refreshed = callbackWith(sink, Callback::DataChange, 81, 1000);
    ASSERT_TRUE(refreshed);
    EXPECT_EQ(refreshed->masterError, S_FALSE);

    push(level, 5);
    const auto fits = callbackWith(sink, Callback::DataChange, 0, 5);
    ASSERT_TRUE(fits);
    EXPECT_EQ(fits->items.at(0).error, S_OK);
    EXPECT_EQ(fits->masterError, S_OK);
}

}  // namespace
}  // namespace opctest
