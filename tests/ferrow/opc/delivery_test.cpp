// What a group's deliveries carry and who gets them: every advised sink hears every delivery whatever
// another sink answers, a refresh reports the active items only, and an item or group that was
// deactivated is reported again with its tag's value once it is active again.

#include "tests/ferrow/opc/group_io_fixture.h"

namespace opctest {
namespace {

// The first call of this kind and transaction the sink has received, or receives within 30 s.
std::optional<Callback> callOf(DataCallbackSink& sink, Callback::Kind kind, DWORD transaction) {
    for (auto deadline = std::chrono::steady_clock::now() + 30s;
         std::chrono::steady_clock::now() < deadline;) {
        for (const Callback& c : sink.calls.all())
            if (c.kind == kind && c.transaction == transaction) return c;
        sink.calls.waitFor(sink.calls.size() + 1, 100ms);
    }
    return std::nullopt;
}

// A data change after the first `seen` ones that reports this client handle, within 30 s.
std::optional<CallbackItem> laterChangeOf(DataCallbackSink& sink, std::size_t seen, OPCHANDLE client) {
    for (auto deadline = std::chrono::steady_clock::now() + 30s;
         std::chrono::steady_clock::now() < deadline;) {
        const std::vector<Callback> changes = sink.dataChanges();
        for (std::size_t i = seen; i < changes.size(); ++i)
            for (const CallbackItem& item : changes[i].items)
                if (item.client == client) return item;
        sink.calls.waitFor(sink.calls.size() + 1, 100ms);
    }
    return std::nullopt;
}

TEST_F(GroupIoTest, ASinkThatAnswersAFailureKeepsNoOtherSinkFromAnyDelivery) {
    // Both sinks fail every call: whichever the group calls first, the other must still be called.
    DataCallbackSink first(E_FAIL), second(E_FAIL);
    group = makeGroup(1);
    adviseCallback(group.get(), first);
    adviseCallback(group.get(), second);
    const OPCHANDLE item = addItem(group.get(), u"Dev.Level", 7);
    push(level, 12.0);
    for (DataCallbackSink* s : {&first, &second}) EXPECT_TRUE(changeWith(*s, 12.0).has_value());

    ComPtr<IOPCAsyncIO2> io = query<IOPCAsyncIO2>(group.get());
    OPCHANDLE handles[] = {item};
    DWORD id = 0;
    HRESULT* errors = nullptr;
    ASSERT_EQ(io->Read(1, handles, 81, &id, &errors), S_OK);
    CoTaskMemFree(errors);
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_R8;
    value.dblVal = 3;
    ASSERT_EQ(io->Write(1, handles, &value, 82, &id, &errors), S_OK);
    CoTaskMemFree(errors);
    ASSERT_EQ(io->Refresh2(OPC_DS_CACHE, 83, &id), S_OK);
    for (DataCallbackSink* s : {&first, &second}) {
        EXPECT_TRUE(callOf(*s, Callback::ReadComplete, 81).has_value());
        EXPECT_TRUE(callOf(*s, Callback::WriteComplete, 82).has_value());
        EXPECT_TRUE(callOf(*s, Callback::DataChange, 83).has_value());
    }
    group.reset();
    server.reset();  // the sinks are released before they go
}

TEST_F(GroupIoTest, Refresh2ReportsTheActiveItemsAndLeavesTheInactiveOut) {
    group = makeGroup(1);
    adviseCallback(group.get(), sink);
    addItem(group.get(), u"Dev.Level", 21);
    addItem(group.get(), u"Dev.Count", 22, VT_EMPTY, 0);
    addItem(group.get(), u"Dev.Level", 23, VT_EMPTY, 0);
    ComPtr<IOPCAsyncIO2> io = query<IOPCAsyncIO2>(group.get());
    DWORD id = 0;
    ASSERT_EQ(io->Refresh2(OPC_DS_CACHE, 91, &id), S_OK);
    ASSERT_EQ(io->Refresh2(OPC_DS_DEVICE, 92, &id), S_OK);
    for (const DWORD transaction : {91u, 92u}) {
        const auto refreshed = callOf(sink, Callback::DataChange, transaction);
        ASSERT_TRUE(refreshed.has_value()) << transaction;
        ASSERT_EQ(refreshed->items.size(), 1u) << transaction;
        EXPECT_EQ(refreshed->items[0].client, 21u);
    }
}

TEST_F(GroupIoTest, ADeactivatedItemOrGroupIsReportedAgainWhenActiveAgain) {
    // Deactivation leaves the items' cached quality out of service, so the first pass after
    // reactivation reports the tag's value and quality even though the tag has not changed.
    group = makeGroup(1);
    adviseCallback(group.get(), sink);
    OPCHANDLE handles[] = {addItem(group.get(), u"Dev.Level", 31)};
    push(level, 5.0);
    ASSERT_TRUE(changeWith(sink, 5.0).has_value());
    ComPtr<IOPCItemMgt> items = query<IOPCItemMgt>(group.get());

    std::size_t seen = sink.dataChanges().size();
    HRESULT* errors = nullptr;
    ASSERT_EQ(items->SetActiveState(1, handles, 0, &errors), S_OK);
    CoTaskMemFree(errors);
    ASSERT_EQ(items->SetActiveState(1, handles, 1, &errors), S_OK);
    CoTaskMemFree(errors);
    auto again = laterChangeOf(sink, seen, 31);
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->number, 5.0);
    EXPECT_EQ(again->quality, OPC_QUALITY_GOOD);

    seen = sink.dataChanges().size();
    BOOL active = 0;
    DWORD rate = 0;
    ASSERT_EQ(group->SetState(nullptr, &rate, &active, nullptr, nullptr, nullptr, nullptr), S_OK);
    active = 1;
    ASSERT_EQ(group->SetState(nullptr, &rate, &active, nullptr, nullptr, nullptr, nullptr), S_OK);
    again = laterChangeOf(sink, seen, 31);
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->number, 5.0);
    EXPECT_EQ(again->quality, OPC_QUALITY_GOOD);
}

}  // namespace
}  // namespace opctest
