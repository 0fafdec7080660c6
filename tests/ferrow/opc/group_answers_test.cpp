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

TEST_F(GroupIoTest, ARemovedGroupAnswersFailAlsoFromItsDataObjectAndCancels) {
    OPCHANDLE handle = 0;
    float deadband = 0;
    ASSERT_EQ(server->AddGroup(u"G", 1, 10, kClientGroup, nullptr, &deadband, 0, &handle, &revised,
                               IID_IOPCGroupStateMgt, reinterpret_cast<IUnknown**>(group.put())),
              S_OK);
    ComPtr<IDataObject> object = query<IDataObject>(group.get());
    ComPtr<IOPCAsyncIO> io1 = query<IOPCAsyncIO>(group.get());
    ComPtr<IOPCAsyncIO2> io2 = query<IOPCAsyncIO2>(group.get());
    FORMATETC f = format(kStreamFormatData);
    FORMATETC canonical{};
    STGMEDIUM medium{};
    IEnumFORMATETC* formats = nullptr;
    IEnumSTATDATA* advises = nullptr;
    EXPECT_EQ(object->QueryGetData(&f), S_OK);
    EXPECT_EQ(object->GetDataHere(&f, &medium), E_NOTIMPL);
    EXPECT_EQ(io1->Cancel(2), E_NOTIMPL);
    EXPECT_EQ(io2->Cancel2(2), E_NOTIMPL);

    ASSERT_TRUE(SUCCEEDED(server->RemoveGroup(handle, 1)));
    EXPECT_EQ(object->GetData(&f, &medium), E_FAIL);
    EXPECT_EQ(object->QueryGetData(&f), E_FAIL);
    EXPECT_EQ(object->GetDataHere(&f, &medium), E_FAIL);
    EXPECT_EQ(object->GetCanonicalFormatEtc(&f, &canonical), E_FAIL);
    EXPECT_EQ(object->SetData(&f, &medium, 0), E_FAIL);
    EXPECT_EQ(object->EnumFormatEtc(1, &formats), E_FAIL);
    EXPECT_EQ(object->EnumDAdvise(&advises), E_FAIL);
    EXPECT_EQ(io1->Cancel(2), E_FAIL);
    EXPECT_EQ(io2->Cancel2(2), E_FAIL);
    EXPECT_EQ(medium.hGlobal, nullptr);
}

TEST_F(GroupIoTest, AddGroupForAnInterfaceTheGroupLacksLeavesNoGroupBehind) {
    const long objects = ferrow::objectCount.load();
    ComPtr<IUnknown> none;
    OPCHANDLE handle = 0;
    EXPECT_EQ(server->AddGroup(u"G", 1, 10, kClientGroup, nullptr, nullptr, 0, &handle, &revised,
                               IID_IOPCServer, none.put()),
              E_NOINTERFACE);
    EXPECT_FALSE(none);
    EXPECT_EQ(ferrow::objectCount.load(), objects);
    OPCSERVERSTATUS* status = nullptr;
    ASSERT_EQ(server->GetStatus(&status), S_OK);
    EXPECT_EQ(status->dwGroupCount, 0u);
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
    EXPECT_EQ(server->GetGroupByName(u"G", IID_IUnknown, none.put()), E_INVALIDARG);
    // The name is free for the group asked for rightly.
    group = makeGroup(1);
    EXPECT_TRUE(group);
}

TEST_F(GroupIoTest, UnknownSourcesBrowseTypesAndAMissingTransactionAreInvalidArguments) {
    group = makeGroup(1);
    OPCHANDLE handles[] = {addItem(group.get(), u"Dev.Level", 1)};
    const DWORD connection = adviseStream(group.get(), kStreamFormatData, data);
    const auto unknownSource = static_cast<OPCDATASOURCE>(3);
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    DWORD id = 0;
    EXPECT_EQ(query<IOPCSyncIO>(group.get())->Read(unknownSource, 1, handles, &states, &errors),
              E_INVALIDARG);
    EXPECT_EQ(states, nullptr);
    EXPECT_EQ(errors, nullptr);
    ComPtr<IOPCAsyncIO> io1 = query<IOPCAsyncIO>(group.get());
    EXPECT_EQ(io1->Read(connection, static_cast<OPCDATASOURCE>(0), 1, handles, &id, &errors), E_INVALIDARG);
    EXPECT_EQ(io1->Read(connection, OPC_DS_CACHE, 1, handles, nullptr, &errors), E_INVALIDARG);
    EXPECT_EQ(io1->Refresh(connection, unknownSource, &id), E_INVALIDARG);
    EXPECT_EQ(query<IOPCAsyncIO2>(group.get())->Refresh2(unknownSource, 1, &id), E_INVALIDARG);
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(errors, nullptr);

    ComPtr<IOPCBrowseServerAddressSpace> browse = query<IOPCBrowseServerAddressSpace>(server.get());
    for (const DWORD type : {0u, 4u}) {
        IEnumString* ids = nullptr;
        EXPECT_EQ(browse->BrowseOPCItemIDs(static_cast<OPCBROWSETYPE>(type), u"", VT_EMPTY, 0, &ids),
                  E_INVALIDARG);
        EXPECT_EQ(ids, nullptr);
    }
    // Nothing was asked of the group: no stream followed.
    IEnumString* ids = nullptr;
    ASSERT_EQ(browse->BrowseOPCItemIDs(OPC_FLAT, u"", VT_EMPTY, 0, &ids), S_OK);
    ids->Release();
}

TEST_F(GroupIoTest, AnotherGroupsItemHandleIsRefusedNotTakenForOnesOwn) {
    group = makeGroup(1);
    ComPtr<IOPCGroupStateMgt> other = makeGroup(1, 0.0f, u"Other");
    OPCHANDLE mine[] = {addItem(group.get(), u"Dev.Level", 1)};
    OPCHANDLE foreign[] = {addItem(other.get(), u"Dev.Level", 2)};
    EXPECT_NE(mine[0], foreign[0]);

    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(query<IOPCSyncIO>(group.get())->Read(OPC_DS_CACHE, 1, foreign, &states, &errors), S_FALSE);
    EXPECT_EQ(errors[0], OPC_E_INVALIDHANDLE);
    VariantClear(&states[0].vDataValue);
    CoTaskMemFree(states);
    CoTaskMemFree(errors);
    DWORD id = 0;
    ASSERT_EQ(query<IOPCAsyncIO2>(group.get())->Read(1, foreign, 1, &id, &errors), S_FALSE);
    EXPECT_EQ(errors[0], OPC_E_INVALIDHANDLE);
    CoTaskMemFree(errors);
    ASSERT_EQ(query<IOPCItemMgt>(group.get())->RemoveItems(1, foreign, &errors), S_FALSE);
    EXPECT_EQ(errors[0], OPC_E_INVALIDHANDLE);
    CoTaskMemFree(errors);

    // Both items are still there, each in its own group.
    ASSERT_EQ(query<IOPCItemMgt>(group.get())->RemoveItems(1, mine, &errors), S_OK);
    CoTaskMemFree(errors);
    ASSERT_EQ(query<IOPCItemMgt>(other.get())->RemoveItems(1, foreign, &errors), S_OK);
    CoTaskMemFree(errors);
}

}  // namespace
}  // namespace opctest
