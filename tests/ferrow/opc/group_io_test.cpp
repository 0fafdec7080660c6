// Reads, writes, data changes and asynchronous requests of a group, driven as a client does. The
// devices here are not connected: tag values are set as the device link would store a pushed change,
// and device exchanges fail at once (a device read marks the tag 0x18, a device write 0x00).

#include <future>
#include <optional>
#include <set>
#include <thread>

#include "ferrow/opc/error_text.h"
#include "tests/ferrow/opc/group_io_fixture.h"

namespace opctest {
namespace {

TEST_F(GroupIoTest, DeviceChangeReachesTheCallbackWithHandleValueQualityAndTimestamp) {
    group = makeGroup(1);
    adviseCallback(group.get(), sink);
    addItem(group.get(), u"Dev.Level", 5);
    // A new item is reported in the first pass, with the quality the tag has (not yet read: uncertain).
    ASSERT_TRUE(sink.calls.waitFor(1));
    const Callback first = sink.calls.at(0);
    EXPECT_EQ(first.items.at(0).quality, OPC_QUALITY_UNCERTAIN);
    EXPECT_EQ(first.masterQuality, S_FALSE);

    push(level, 42.5, OPC_QUALITY_GOOD, 133'000'000'000'000'000ull);
    const auto change = changeWith(sink, 42.5);
    ASSERT_TRUE(change);
    EXPECT_EQ(change->transaction, 0u);
    EXPECT_EQ(change->group, kClientGroup);
    EXPECT_EQ(change->masterQuality, S_OK);
    EXPECT_EQ(change->masterError, S_OK);
    ASSERT_EQ(change->items.size(), 1u);
    EXPECT_EQ(change->items[0].client, 5u);
    EXPECT_EQ(change->items[0].vt, VT_R8);
    EXPECT_EQ(change->items[0].quality, OPC_QUALITY_GOOD);
    EXPECT_EQ(ticksOf(change->items[0].timestamp), 133'000'000'000'000'000ull);
    EXPECT_EQ(change->items[0].error, S_OK);
    // Nothing changes, nothing is sent.
    const std::size_t calls = sink.calls.size();
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(sink.calls.size(), calls);
}

TEST_F(GroupIoTest, ANewItemIsFirstReportedWithItsTagsValueEvenBeforeAnyPass) {
    // Activation reports the pending items at once, before the update thread has compared anything:
    // what it sends for a new item is what the tag held when the item was added.
    group = makeGroup(0);
    adviseCallback(group.get(), sink);
    push(level, 9.0, OPC_QUALITY_GOOD, 4242);
    addItem(group.get(), u"Dev.Level", 1);
    BOOL active = 1;
    DWORD rate = 0;
    ASSERT_EQ(group->SetState(nullptr, &rate, &active, nullptr, nullptr, nullptr, nullptr), S_OK);
    ASSERT_GE(sink.calls.size(), 1u);
    const Callback first = sink.calls.at(0);
    ASSERT_EQ(first.items.size(), 1u);
    EXPECT_EQ(first.items[0].quality, OPC_QUALITY_GOOD);
    EXPECT_EQ(first.items[0].number, 9.0);
    EXPECT_EQ(ticksOf(first.items[0].timestamp), 4242u);
}

TEST_F(GroupIoTest, EveryValueChangeIsReportedWhateverTheDeadband) {
    // No tag from a device is scaled, so a deadband of 10 % lets every change through, like 0.0 does.
    group = makeGroup(1, 0.0f, u"NoDeadband");
    adviseCallback(group.get(), sink);
    addItem(group.get(), u"Dev.Level", 1);
    ComPtr<IOPCGroupStateMgt> tenPercent = makeGroup(1, 10.0f, u"TenPercent");
    adviseCallback(tenPercent.get(), sink2);
    addItem(tenPercent.get(), u"Dev.Level", 1);
    for (const double value : {500.0, 500.0000001, 500.0000002, 499.0}) {
        push(level, value);
        EXPECT_TRUE(changeWith(sink, value)) << value;
        EXPECT_TRUE(changeWith(sink2, value)) << value;
    }
}

TEST_F(GroupIoTest, QualityChangeWithTheSameValueIsReportedWithTheTagsTimestamp) {
    group = makeGroup(1);
    adviseCallback(group.get(), sink);
    addItem(group.get(), u"Dev.Level", 1);
    push(level, 7.0, OPC_QUALITY_GOOD, 100);
    ASSERT_TRUE(changeWith(sink, 7.0));
    const std::size_t before = sink.calls.size();
    push(level, 7.0, OPC_QUALITY_COMM_FAILURE, 200);
    ASSERT_TRUE(sink.calls.waitFor(before + 1));
    const Callback c = sink.calls.at(before);
    EXPECT_EQ(c.items.at(0).quality, OPC_QUALITY_COMM_FAILURE);
    EXPECT_EQ(ticksOf(c.items.at(0).timestamp), 200u);
    EXPECT_EQ(c.masterQuality, S_FALSE);
    // A bad quality sends no converted value.
    EXPECT_EQ(c.items.at(0).vt, VT_EMPTY);
}

TEST_F(GroupIoTest, TwoItemsOnOneTagAreBothReportedInTheClientsTypes) {
    group = makeGroup(1);
    adviseCallback(group.get(), sink);
    addItem(group.get(), u"Dev.Level", 1, VT_I4);
    addItem(group.get(), u"Dev.Level", 2, VT_BSTR);
    push(level, 12.0);
    const auto c = changeWith(sink, 12.0);
    ASSERT_TRUE(c);
    ASSERT_EQ(c->items.size(), 2u);
    EXPECT_EQ(c->items[0].client, 1u);
    EXPECT_EQ(c->items[0].vt, VT_I4);
    EXPECT_EQ(c->items[1].client, 2u);
    EXPECT_EQ(c->items[1].vt, VT_BSTR);
    EXPECT_EQ(c->items[1].text, u"12");
}

TEST_F(GroupIoTest, ActivationSendsThePendingChangesOnTheCallersThreadBeforeReturning) {
    group = makeGroup(0);
    adviseCallback(group.get(), sink);
    addItem(group.get(), u"Dev.Level", 1);
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(sink.calls.size(), 0u);  // an inactive group makes no passes
    EXPECT_EQ(static_cast<OpcGroup*>(group.get())->subscriptionHandle(), 0u);
    BOOL active = 1;
    DWORD rate = 0;
    EXPECT_EQ(group->SetState(nullptr, &rate, &active, nullptr, nullptr, nullptr, nullptr), S_OK);
    EXPECT_GE(sink.calls.size(), 1u);
    // The first active pass takes the group's registration number.
    EXPECT_TRUE(sink.calls.waitFor(1));
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (static_cast<OpcGroup*>(group.get())->subscriptionHandle() == 0 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(2ms);
    EXPECT_NE(static_cast<OpcGroup*>(group.get())->subscriptionHandle(), 0u);
}

TEST_F(GroupIoTest, DisabledCallbacksSilenceVersion2WhileBothStreamsArrive) {
    group = makeGroup(1);
    adviseCallback(group.get(), sink);
    const DWORD dataConnection = adviseStream(group.get(), kStreamFormatData, data);
    adviseStream(group.get(), kStreamFormatDataTime, dataTime);
    EXPECT_EQ(dataConnection, RegisterClipboardFormatA(kStreamFormatData));
    ComPtr<IOPCAsyncIO2> async = query<IOPCAsyncIO2>(group.get());
    EXPECT_EQ(async->SetEnable(0), S_OK);
    BOOL enabled = 1;
    EXPECT_EQ(async->GetEnable(&enabled), S_OK);
    EXPECT_EQ(enabled, 0);

    // Level has its value before the items come, and both come in one call: no pass can send one of
    // them without the other, or Level before its value.
    push(level, 1.5, OPC_QUALITY_GOOD, 0x0102030405060708ull);
    OPCITEMDEF defs[2]{};
    defs[0].szItemID = const_cast<char16_t*>(u"Dev.Level");
    defs[0].bActive = 1;
    defs[0].hClient = 31;
    defs[1].szItemID = const_cast<char16_t*>(u"Dev.Count");
    defs[1].bActive = 1;
    defs[1].hClient = 32;
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(query<IOPCItemMgt>(group.get())->AddItems(2, defs, &results, &errors), S_OK);
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    // Both streams of one pass carry both items once their values are in.
    auto bothIn = [](const Stream& st) { return st.dword(4) == 2 && st.word(20 + 8) == OPC_QUALITY_GOOD; };
    const Stream d = streamWhere(data, bothIn);
    const Stream t = streamWhere(dataTime, bothIn);
    ASSERT_FALSE(d.bytes.empty());
    ASSERT_FALSE(t.bytes.empty());
    EXPECT_EQ(d.format, RegisterClipboardFormatA(kStreamFormatData));
    EXPECT_EQ(d.aspect, DVASPECT_CONTENT);
    EXPECT_EQ(d.index, -1);
    EXPECT_EQ(d.tymed, TYMED_HGLOBAL);
    // DATA: 20-byte header, 12-byte item headers, then the values.
    EXPECT_EQ(d.dword(0), d.bytes.size());
    EXPECT_EQ(d.dword(8), kClientGroup);
    EXPECT_EQ(d.dword(12), 0u);
    EXPECT_EQ(d.dword(16), static_cast<DWORD>(S_OK));
    EXPECT_EQ(d.dword(20), 31u);
    EXPECT_EQ(d.dword(24), 20u + 2 * 12);
    EXPECT_EQ(d.dword(32), 32u);
    EXPECT_EQ(d.dword(36), 20u + 2 * 12 + 16);
    EXPECT_EQ(d.word(20 + 2 * 12), VT_R8);
    // DATATIME: 20-byte item headers with the timestamp.
    EXPECT_EQ(t.dword(20), 31u);
    EXPECT_EQ(t.dword(24), 20u + 2 * 20);
    EXPECT_EQ(t.dword(32), 0x05060708u);
    EXPECT_EQ(t.dword(36), 0x01020304u);
    EXPECT_EQ(t.dword(40), 32u);
    EXPECT_EQ(sink.calls.size(), 0u);

    // Enabled again, the next change reaches the callback too.
    EXPECT_EQ(async->SetEnable(1), S_OK);
    push(level, 2.5);
    EXPECT_TRUE(changeWith(sink, 2.5));
}

TEST_F(GroupIoTest, StringValueInAVersion1StreamCarriesItsLengthAndTerminator) {
    group = makeGroup(1);
    adviseCallback(group.get(), sink);
    adviseStream(group.get(), kStreamFormatData, data);
    addItem(group.get(), u"Dev.Level", 9, VT_BSTR);
    push(level, 25.0);
    ASSERT_TRUE(changeWith(sink, 25.0));
    const Stream s = streamWhere(data, [](const Stream& st) { return st.word(28) == OPC_QUALITY_GOOD; });
    ASSERT_FALSE(s.bytes.empty());
    const std::size_t value = s.dword(24);
    EXPECT_EQ(value, 32u);
    EXPECT_EQ(s.word(value), VT_BSTR);
    EXPECT_EQ(s.dword(value + 8), 0u);   // the string's pointer means nothing to the receiver
    EXPECT_EQ(s.dword(value + 16), 4u);  // "25": 4 bytes
    EXPECT_EQ(s.word(value + 20), u'2');
    EXPECT_EQ(s.word(value + 22), u'5');
    EXPECT_EQ(s.word(value + 24), 0u);
    EXPECT_EQ(s.dword(0), value + 16 + 4 + 4 + 2);
}

TEST_F(GroupIoTest, DataObjectChecksItsFormatsAndAdviseLimits) {
    group = makeGroup(0);
    ComPtr<IDataObject> data = query<IDataObject>(group.get());
    AdviseSink sink, other;
    FORMATETC f = format(kStreamFormatData);
    DWORD connection = 0;
    EXPECT_EQ(data->DAdvise(&f, 0, &sink, &connection), S_OK);
    EXPECT_EQ(data->DAdvise(&f, 0, &other, &connection), CONNECT_E_ADVISELIMIT);
    FORMATETC zeroIndex = format(kStreamFormatDataTime, 0);
    EXPECT_EQ(data->DAdvise(&zeroIndex, 0, &other, &connection), E_FAIL);
    FORMATETC unknown = format("SomethingElse");
    EXPECT_EQ(data->DAdvise(&unknown, 0, &other, &connection), E_FAIL);
    EXPECT_EQ(data->DUnadvise(RegisterClipboardFormatA(kStreamFormatDataTime)), OLE_E_NOCONNECTION);
    EXPECT_EQ(data->DUnadvise(12345), OLE_E_NOCONNECTION);
    EXPECT_EQ(sink.refs.load(), 2u);
    EXPECT_EQ(data->DUnadvise(RegisterClipboardFormatA(kStreamFormatData)), S_OK);
    EXPECT_EQ(sink.refs.load(), 1u);
    EXPECT_EQ(other.refs.load(), 1u);

    FORMATETC writeComplete = format(kStreamFormatWriteComplete);
    EXPECT_EQ(data->QueryGetData(&writeComplete), DV_E_FORMATETC);
    FORMATETC file = f;
    file.tymed = TYMED_FILE;
    EXPECT_EQ(data->QueryGetData(&file), DV_E_TYMED);
    EXPECT_EQ(data->QueryGetData(&f), S_OK);
    EXPECT_EQ(data->GetData(&f, nullptr), E_INVALIDARG);
    EXPECT_EQ(data->EnumDAdvise(nullptr), E_NOTIMPL);
    EXPECT_EQ(data->SetData(&f, nullptr, 0), E_NOTIMPL);

    // GetData: the items changed at that moment (a new item is), and flags stay as they are.
    addItem(group.get(), u"Dev.Level", 4);
    BOOL active = 1;
    DWORD rate;
    group->SetState(nullptr, &rate, &active, nullptr, nullptr, nullptr, nullptr);
    STGMEDIUM medium{};
    ASSERT_EQ(data->GetData(&f, &medium), S_OK);
    EXPECT_EQ(medium.tymed, TYMED_HGLOBAL);
    EXPECT_EQ(GlobalSize(medium.hGlobal) % 4096, 0u);
    const auto* bytes = static_cast<const unsigned char*>(GlobalLock(medium.hGlobal));
    DWORD items = 0;
    std::memcpy(&items, bytes + 4, 4);
    GlobalUnlock(medium.hGlobal);
    ReleaseStgMedium(&medium);
    EXPECT_LE(items, 1u);
}

TEST_F(GroupIoTest, SyncReadsFromCacheAndDeviceAndWritesCheckRights) {
    group = makeGroup(1);
    const OPCHANDLE active = addItem(group.get(), u"Dev.Level", 1);
    const OPCHANDLE inactive = addItem(group.get(), u"Dev.Level", 2, VT_EMPTY, 0);
    const OPCHANDLE input = addItem(group.get(), u"Dev.Count", 3, VT_BSTR);
    push(level, 3.25);
    ComPtr<IOPCSyncIO> io = query<IOPCSyncIO>(group.get());

    OPCHANDLE handles[] = {active, 0xDEAD, inactive};
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(io->Read(OPC_DS_CACHE, 3, handles, &states, &errors), S_FALSE);
    EXPECT_EQ(errors[0], S_OK);
    EXPECT_EQ(errors[1], OPC_E_INVALIDHANDLE);
    EXPECT_EQ(states[0].hClient, 1u);
    EXPECT_EQ(states[0].wQuality, OPC_QUALITY_GOOD);
    EXPECT_EQ(states[0].vDataValue.dblVal, 3.25);
    // An inactive item reads out of service, with the tag's current value.
    EXPECT_EQ(states[2].wQuality, OPC_QUALITY_OUT_OF_SERVICE);
    EXPECT_EQ(states[2].vDataValue.dblVal, 3.25);
    for (int i = 0; i < 3; ++i) VariantClear(&states[i].vDataValue);
    CoTaskMemFree(states);
    CoTaskMemFree(errors);

    // A device read asks the device; this one does not answer, so the tag's own quality says so.
    ASSERT_EQ(io->Read(OPC_DS_DEVICE, 1, &handles[2], &states, &errors), S_OK);
    EXPECT_EQ(states[0].wQuality, OPC_QUALITY_COMM_FAILURE);
    VariantClear(&states[0].vDataValue);
    CoTaskMemFree(states);
    CoTaskMemFree(errors);

    // Writing an input tag is refused for that entry and leaves the tag alone; so does a write that
    // cannot reach its device: the entry says so and the tag keeps what it had.
    VARIANT values[2];
    VariantInit(&values[0]);
    values[0].vt = VT_I4;
    values[0].lVal = 77;
    VariantInit(&values[1]);
    values[1].vt = VT_R8;
    values[1].dblVal = 8.5;
    OPCHANDLE targets[] = {input, active};
    ASSERT_EQ(io->Write(2, targets, values, &errors), S_FALSE);
    EXPECT_EQ(errors[0], OPC_E_BADRIGHTS);
    EXPECT_EQ(errors[1], ferrow::opc::kDeviceNotConnected);
    CoTaskMemFree(errors);
    {
        std::lock_guard lock(ferrow::valueLock());
        EXPECT_EQ(count->m_value.vt, VT_EMPTY);
        EXPECT_EQ(level->m_value.vt, VT_R8);
        EXPECT_EQ(level->m_value.dblVal, 3.25);
    }
    EXPECT_EQ(io->Read(OPC_DS_CACHE, 1, nullptr, &states, &errors), E_POINTER);
}

TEST_F(GroupIoTest, AsyncRequestsNumberFromTwoAndCheckTheirArgumentsAsymmetrically) {
    group = makeGroup(1);
    adviseCallback(group.get(), sink);
    const OPCHANDLE item = addItem(group.get(), u"Dev.Level", 11);
    const OPCHANDLE input = addItem(group.get(), u"Dev.Count", 12);
    ComPtr<IOPCAsyncIO2> io2 = query<IOPCAsyncIO2>(group.get());
    ComPtr<IOPCAsyncIO> io1 = query<IOPCAsyncIO>(group.get());
    DWORD id = 0;
    HRESULT* errors = nullptr;
    OPCHANDLE handles[] = {item};

    // Reads answer E_INVALIDARG for a missing pointer, writes E_POINTER.
    EXPECT_EQ(io2->Read(1, handles, 1, nullptr, &errors), E_INVALIDARG);
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_R8;
    value.dblVal = 1;
    EXPECT_EQ(io2->Write(1, handles, &value, 1, nullptr, &errors), E_POINTER);
    EXPECT_EQ(io2->Cancel2(2), E_NOTIMPL);
    EXPECT_EQ(io1->Cancel(2), E_NOTIMPL);
    // Version 1.0 needs its advise connection.
    EXPECT_EQ(io1->Read(RegisterClipboardFormatA(kStreamFormatData), OPC_DS_CACHE, 1, handles, &id, &errors),
              CONNECT_E_NOCONNECTION);
    EXPECT_EQ(io1->Read(4711, OPC_DS_CACHE, 1, handles, &id, &errors), E_INVALIDARG);

    // One invalid handle refuses the request: no ID, no completion.
    OPCHANDLE mixed[] = {item, 0xBAD};
    ASSERT_EQ(io2->Read(2, mixed, 70, &id, &errors), S_FALSE);
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(errors[1], OPC_E_INVALIDHANDLE);
    CoTaskMemFree(errors);

    ASSERT_EQ(io2->Read(1, handles, 71, &id, &errors), S_OK);
    CoTaskMemFree(errors);
    EXPECT_EQ(id, 2u);
    adviseStream(group.get(), kStreamFormatWriteComplete, writes);
    OPCHANDLE both[] = {item, input};
    VARIANT two[2] = {value, value};
    ASSERT_EQ(io1->Write(RegisterClipboardFormatA(kStreamFormatWriteComplete), 2, both, two, &id, &errors),
              S_OK);
    CoTaskMemFree(errors);
    EXPECT_EQ(id, 3u);  // version 1.0 and 2.0 share the numbers
    const DWORD writeTransaction = id;
    ASSERT_EQ(io2->Write(2, both, two, 72, &id, &errors), S_OK);
    CoTaskMemFree(errors);
    EXPECT_EQ(id, 4u);
    ASSERT_EQ(io2->Refresh2(OPC_DS_CACHE, 73, &id), S_OK);
    EXPECT_EQ(id, 5u);

    // The completions, in any order.
    ASSERT_TRUE(writes.streams.waitFor(1));
    const Stream w = writes.streams.at(0);
    ASSERT_EQ(w.bytes.size(), 16u + 2 * 8);
    EXPECT_EQ(w.dword(0), 2u);
    EXPECT_EQ(w.dword(4), kClientGroup);
    EXPECT_EQ(w.dword(8), writeTransaction);
    EXPECT_EQ(w.dword(12), static_cast<DWORD>(S_FALSE));
    EXPECT_EQ(w.dword(16), 11u);
    EXPECT_EQ(w.dword(20), static_cast<DWORD>(ferrow::opc::kDeviceNotConnected));
    EXPECT_EQ(w.dword(24), 12u);
    EXPECT_EQ(w.dword(28), static_cast<DWORD>(OPC_E_BADRIGHTS));

    auto find = [&](Callback::Kind kind, DWORD transaction) -> std::optional<Callback> {
        for (int i = 0; i < 100; ++i) {
            for (const Callback& c : sink.calls.all())
                if (c.kind == kind && c.transaction == transaction) return c;
            sink.calls.waitFor(sink.calls.size() + 1, 50ms);
        }
        return std::nullopt;
    };
    const auto read = find(Callback::ReadComplete, 71);
    ASSERT_TRUE(read);
    ASSERT_EQ(read->items.size(), 1u);
    EXPECT_EQ(read->items[0].client, 11u);
    EXPECT_EQ(read->items[0].quality, OPC_QUALITY_COMM_FAILURE);  // read from a device that does not answer
    const auto written = find(Callback::WriteComplete, 72);
    ASSERT_TRUE(written);
    EXPECT_EQ(written->masterError, S_FALSE);
    EXPECT_EQ(written->items.at(1).error, OPC_E_BADRIGHTS);
    const auto refreshed = find(Callback::DataChange, 73);
    ASSERT_TRUE(refreshed);
    EXPECT_EQ(refreshed->items.size(), 2u);  // every active item

    // Refreshing an inactive group fails.
    BOOL inactive = 0;
    DWORD rate;
    group->SetState(nullptr, &rate, &inactive, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(io2->Refresh2(OPC_DS_CACHE, 74, &id), E_FAIL);
    EXPECT_EQ(io1->Refresh(RegisterClipboardFormatA(kStreamFormatData), OPC_DS_CACHE, &id), E_FAIL);
}

// A client's stream sink that holds the client's server and lets go of it with its own last release.
class ServerHoldingSink : public AdviseSink {
  public:
    ULONG Release() override {
        const ULONG left = --refs;
        if (left == 1) server.reset();
        return left;
    }
    ComPtr<IOPCServer> server;
};

TEST_F(GroupIoTest, ASinkThatDropsTheLastServerReferenceDuringACallOnItsGroupDoesNotHang) {
    group = makeGroup(0);
    ServerHoldingSink holder;
    FORMATETC f = format(kStreamFormatData);
    DWORD connection = 0;
    ASSERT_EQ(query<IDataObject>(group.get())->DAdvise(&f, 0, &holder, &connection), S_OK);
    holder.server = std::move(server);
    // DUnadvise releases the sink, which releases the server, whose end cuts off this very group while
    // DUnadvise is still inside it.
    auto unadvised = std::async(std::launch::async,
                                [&] { return query<IDataObject>(group.get())->DUnadvise(connection); });
    ASSERT_EQ(unadvised.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(unadvised.get(), S_OK);
    DWORD rate = 0;
    EXPECT_EQ(group->GetState(&rate, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              RPC_E_DISCONNECTED);
}

TEST_F(GroupIoTest, ARemovedGroupItsClientStillHoldsEndsWithItsServer) {
    group = makeGroup(1);
    adviseCallback(group.get(), sink);
    addItem(group.get(), u"Dev.Level", 1);
    ASSERT_TRUE(sink.calls.waitFor(1));
    OPCHANDLE serverHandle = 0;
    ASSERT_EQ(group->GetState(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &serverHandle),
              S_OK);
    ASSERT_EQ(server->RemoveGroup(serverHandle, 0), S_OK);
    push(level, 5.0);
    EXPECT_TRUE(changeWith(sink, 5.0));  // removed but active: it goes on reporting
    server.reset();
    EXPECT_EQ(ferrow::objectCount.load(), 0);
    DWORD rate = 0;
    EXPECT_EQ(group->GetState(&rate, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              RPC_E_DISCONNECTED);
    const std::size_t calls = sink.calls.size();
    push(level, 6.0);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(sink.calls.size(), calls);
    EXPECT_EQ(dev->m_nUseCount.load(), 0);
}

TEST_F(GroupIoTest, RequestThreadsAreBoundedAndQueuedRequestsAllComplete) {
    group = makeGroup(0);
    adviseCallback(group.get(), stuck);
    OPCHANDLE handles[] = {addItem(group.get(), u"Dev.Level", 1)};
    ComPtr<IOPCAsyncIO2> io = query<IOPCAsyncIO2>(group.get());
    constexpr int kRequests = 40;
    for (int i = 0; i < kRequests; ++i) {
        DWORD id;
        HRESULT* errors = nullptr;
        ASSERT_EQ(io->Read(1, handles, static_cast<DWORD>(100 + i), &id, &errors), S_OK);
        CoTaskMemFree(errors);
    }
    ASSERT_TRUE(stuck.waitForHeld(static_cast<int>(OpcGroup::kMaxRequestThreads)));
    EXPECT_EQ(static_cast<OpcGroup*>(group.get())->requestThreadCount(), OpcGroup::kMaxRequestThreads);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(stuck.held(), static_cast<int>(OpcGroup::kMaxRequestThreads));
    stuck.release();
    ASSERT_TRUE(stuck.calls.waitFor(kRequests));
    std::set<DWORD> transactions;
    for (const Callback& c : stuck.calls.all()) transactions.insert(c.transaction);
    EXPECT_EQ(transactions.size(), static_cast<std::size_t>(kRequests));
}

TEST_F(GroupIoTest, ASinkThatDoesNotReturnHoldsUpNeitherOtherGroupsNorCallsOnItsOwn) {
    group = makeGroup(1);
    adviseCallback(group.get(), stuck);
    addItem(group.get(), u"Dev.Level", 1);
    ASSERT_TRUE(stuck.waitForHeld(1));

    ComPtr<IOPCGroupStateMgt> other = makeGroup(1, 0.0f, u"Other");
    adviseCallback(other.get(), sink);
    addItem(other.get(), u"Dev.Level", 2);
    push(level, 61.0);
    EXPECT_TRUE(changeWith(sink, 61.0));
    push(level, 62.0);
    EXPECT_TRUE(changeWith(sink, 62.0));
    // The stuck group's client can still call it.
    DWORD rate = 0;
    EXPECT_EQ(group->GetState(&rate, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), S_OK);
    OPCHANDLE handle = addItem(group.get(), u"Dev.Count", 3);
    EXPECT_NE(handle, 0u);
    stuck.release();
}

}  // namespace
}  // namespace opctest
