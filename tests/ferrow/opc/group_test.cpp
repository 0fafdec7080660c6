#include <limits>

#include "ferrow/model/analog_data.h"
#include "platform/com/safearray.h"
#include "tests/ferrow/opc/opc_client.h"

namespace opctest {
namespace {

// A client with one server, the devices "Dev" (tags "Level" output R8, "Count" input I4) and "Aux" (tag
// "Flow"), and the helpers it needs to drive groups and items.
class GroupTest : public OpcClientTest {
  protected:
    void SetUp() override {
        OpcClientTest::SetUp();
        dev = addDevice("Dev");
        level = addTag(dev, "Level", VT_R8, true);
        count = addTag(dev, "Count", VT_I4, false);
        aux = addDevice("Aux");
        flow = addTag(aux, "Flow", VT_R4, false);
        server = createServer();
    }
    void TearDown() override {
        server.reset();
        EXPECT_EQ(level->m_nRef.load(), 0);
        EXPECT_EQ(dev->m_nUseCount.load(), 0);
        OpcClientTest::TearDown();
    }

    ComPtr<IOPCGroupStateMgt> addGroup(const char16_t* name, BOOL active = 0, OPCHANDLE* handle = nullptr) {
        ComPtr<IOPCGroupStateMgt> group;
        LONG bias = 60;
        float deadband = 2.5f;
        EXPECT_EQ(server->AddGroup(name, active, 250, 77, &bias, &deadband, 1033, handle, nullptr,
                                   IID_IOPCGroupStateMgt, reinterpret_cast<IUnknown**>(group.put())),
                  S_OK);
        return group;
    }
    // Everything GetState reports.
    struct State {
        DWORD rate = 0, lcid = 0;
        BOOL active = 0;
        std::string name;
        LONG bias = 0;
        float deadband = 0;
        OPCHANDLE client = 0, serverHandle = 0;
    };
    static State stateOf(IOPCGroupStateMgt* group) {
        State s;
        LPWSTR name = nullptr;
        EXPECT_EQ(group->GetState(&s.rate, &s.active, &name, &s.bias, &s.deadband, &s.lcid, &s.client,
                                  &s.serverHandle),
                  S_OK);
        s.name = take(name);
        return s;
    }
    // The settings addGroup creates groups with.
    static void expectCreationSettings(const State& s) {
        EXPECT_EQ(s.rate, 250u);
        EXPECT_EQ(s.bias, 60);
        EXPECT_EQ(s.deadband, 2.5f);
        EXPECT_EQ(s.lcid, 1033u);
        EXPECT_EQ(s.client, 77u);
    }
    static OPCITEMDEF def(const char16_t* id, BOOL active = 1, OPCHANDLE client = 0, VARTYPE vt = VT_EMPTY) {
        OPCITEMDEF d{};
        d.szItemID = const_cast<char16_t*>(id);
        d.bActive = active;
        d.hClient = client;
        d.vtRequestedDataType = vt;
        return d;
    }
    // Adds the items; returns the call's code, with the server handles and errors in order.
    static HRESULT add(IOPCItemMgt* items, std::vector<OPCITEMDEF> defs, std::vector<OPCHANDLE>* handles,
                       std::vector<HRESULT>* errors = nullptr,
                       std::vector<OPCITEMRESULT>* results = nullptr) {
        OPCITEMRESULT* r = nullptr;
        HRESULT* e = nullptr;
        const HRESULT code = items->AddItems(static_cast<DWORD>(defs.size()), defs.data(), &r, &e);
        if (FAILED(code)) return code;
        for (std::size_t i = 0; i < defs.size(); ++i) {
            if (handles) handles->push_back(r[i].hServer);
            if (errors) errors->push_back(e[i]);
            if (results) results->push_back(r[i]);
        }
        CoTaskMemFree(r);
        CoTaskMemFree(e);
        return code;
    }
    // Runs a handle-list method and returns its code with the errors.
    template <class Call>
    static HRESULT errorsOf(Call call, std::vector<HRESULT>* errors, std::size_t n) {
        HRESULT* e = nullptr;
        const HRESULT code = call(&e);
        if (SUCCEEDED(code)) {
            errors->assign(e, e + n);
            CoTaskMemFree(e);
        } else {
            EXPECT_EQ(e, nullptr);
        }
        return code;
    }
    // Every item the group's enumerator hands out, fetched `step` at a time; the strings are freed.
    struct Attributes {
        std::string itemId;
        BOOL active;
        OPCHANDLE client, server;
        DWORD rights;
        VARTYPE requested, canonical;
        OPCEUTYPE euType;
        std::vector<double> euInfo;
    };
    static std::vector<Attributes> enumerate(IEnumOPCItemAttributes* items, ULONG step = 1) {
        std::vector<Attributes> out;
        for (;;) {
            OPCITEMATTRIBUTES* batch = nullptr;
            ULONG fetched = 99;
            const HRESULT r = items->Next(step, &batch, &fetched);
            EXPECT_TRUE(r == S_OK || r == S_FALSE);
            for (ULONG i = 0; i < fetched; ++i) {
                OPCITEMATTRIBUTES& a = batch[i];
                EXPECT_EQ(take(a.szAccessPath), "");
                Attributes got{take(a.szItemID),
                               a.bActive,
                               a.hClient,
                               a.hServer,
                               a.dwAccessRights,
                               a.vtRequestedDataType,
                               a.vtCanonicalDataType,
                               a.dwEUType,
                               {}};
                EXPECT_EQ(a.dwBlobSize, 0u);
                EXPECT_EQ(a.pBlob, nullptr);
                if (a.vEUInfo.vt == (VT_ARRAY | VT_R8))
                    for (std::int32_t k = 0; k < 2; ++k) {
                        double v = 0;
                        SafeArrayGetElement(a.vEUInfo.parray, &k, &v);
                        got.euInfo.push_back(v);
                    }
                VariantClear(&a.vEUInfo);
                out.push_back(std::move(got));
            }
            CoTaskMemFree(batch);
            if (r != S_OK) return out;
        }
    }
    static ComPtr<IEnumOPCItemAttributes> enumerator(IOPCItemMgt* items) {
        ComPtr<IEnumOPCItemAttributes> e;
        EXPECT_EQ(items->CreateEnumerator(IID_IEnumOPCItemAttributes, reinterpret_cast<IUnknown**>(e.put())),
                  S_OK);
        return e;
    }

    ferrow::ODevice* dev = nullptr;
    ferrow::ODevice* aux = nullptr;
    ferrow::OqnTag* level = nullptr;
    ferrow::OqnTag* count = nullptr;
    ferrow::OqnTag* flow = nullptr;
    ComPtr<IOPCServer> server;
};

TEST_F(GroupTest, AddGroupAnswersTheGroupInterfacesAndItsState) {
    OPCHANDLE handle = 0;
    ComPtr<IOPCGroupStateMgt> group = addGroup(u"Plant", 1, &handle);
    ASSERT_TRUE(group);
    EXPECT_EQ(ferrow::objectCount.load(), 2);
    ComPtr<IOPCItemMgt> items = query<IOPCItemMgt>(group.get());
    ComPtr<IUnknown> a, b;
    group->QueryInterface(IID_IUnknown, a.putVoid());
    items->QueryInterface(IID_IUnknown, b.putVoid());
    EXPECT_EQ(a.get(), b.get());
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(group->QueryInterface(IID_IOPCPublicGroupStateMgt, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);

    const State got = stateOf(group.get());
    EXPECT_EQ(got.name, "Plant");
    expectCreationSettings(got);
    EXPECT_EQ(got.active, 1);
    EXPECT_EQ(got.serverHandle, handle);
    // Every pointer is optional.
    EXPECT_EQ(group->GetState(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), S_OK);
    allocator.failAt(1);
    LPWSTR name = reinterpret_cast<LPWSTR>(1);
    EXPECT_EQ(group->GetState(nullptr, nullptr, &name, nullptr, nullptr, nullptr, nullptr, nullptr),
              E_OUTOFMEMORY);
    EXPECT_EQ(name, nullptr);
}

TEST_F(GroupTest, SetStateRevisesTheRateAndStoresWhatIsGiven) {
    ComPtr<IOPCGroupStateMgt> group = addGroup(u"G");
    DWORD revised = 0;
    DWORD requested = 5;
    EXPECT_EQ(group->SetState(&requested, &revised, nullptr, nullptr, nullptr, nullptr, nullptr),
              OPC_S_UNSUPPORTEDRATE);
    EXPECT_EQ(revised, 10u);
    requested = 3'600'000;
    EXPECT_EQ(group->SetState(&requested, &revised, nullptr, nullptr, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(revised, 3'600'000u);
    // Without a rate the stored one is reported.
    revised = 0;
    BOOL active = 1;
    LONG bias = -30;
    float deadband = 150.0f;  // stored without a range check
    DWORD lcid = 7;
    OPCHANDLE client = 9;
    EXPECT_EQ(group->SetState(nullptr, &revised, &active, &bias, &deadband, &lcid, &client), S_OK);
    EXPECT_EQ(revised, 3'600'000u);
    const State got = stateOf(group.get());
    EXPECT_EQ(got.active, 1);
    EXPECT_EQ(got.bias, -30);
    EXPECT_EQ(got.deadband, 150.0f);
    EXPECT_EQ(got.lcid, 7u);
    EXPECT_EQ(got.client, 9u);
    EXPECT_EQ(group->SetState(nullptr, nullptr, &active, nullptr, nullptr, nullptr, nullptr), E_POINTER);
}

// A deadband outside 0-100 is stored as given, but one that is no number at all is refused, and the
// group keeps what it had (and AddGroup leaves no group behind).
TEST_F(GroupTest, ADeadbandThatIsNoNumberIsRefused) {
    ComPtr<IOPCGroupStateMgt> group = addGroup(u"G");
    const float before = stateOf(group.get()).deadband;
    for (float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                      -std::numeric_limits<float>::infinity()}) {
        DWORD revised = 0;
        BOOL active = 1;
        EXPECT_EQ(group->SetState(nullptr, &revised, &active, nullptr, &bad, nullptr, nullptr), E_INVALIDARG);
        const State got = stateOf(group.get());
        EXPECT_EQ(got.deadband, before);
        EXPECT_EQ(got.active, 0);

        LONG bias = 0;
        OPCHANDLE handle = 0;
        ComPtr<IUnknown> other;
        EXPECT_EQ(server->AddGroup(u"Other", 1, 250, 1, &bias, &bad, 1033, &handle, nullptr, IID_IUnknown,
                                   other.put()),
                  E_INVALIDARG);
        EXPECT_FALSE(other);
    }
    EXPECT_EQ(ferrow::objectCount.load(), 2);
}

TEST_F(GroupTest, SetNameKeepsNamesUniqueWithinTheServer) {
    OPCHANDLE handle = 0;
    ComPtr<IOPCGroupStateMgt> first = addGroup(u"First", 0, &handle);
    ComPtr<IOPCGroupStateMgt> second = addGroup(u"Second");
    EXPECT_EQ(first->SetName(nullptr), E_POINTER);
    EXPECT_EQ(first->SetName(u"First"), S_OK);
    EXPECT_EQ(first->SetName(u"Second"), OPC_E_DUPLICATENAME);
    EXPECT_EQ(first->SetName(u"second"), S_OK);  // names compare exactly
    LPWSTR name = nullptr;
    first->GetState(nullptr, nullptr, &name, nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(take(name), "second");
    ComPtr<IUnknown> byName;
    EXPECT_EQ(server->GetGroupByName(u"second", IID_IUnknown, byName.put()), S_OK);
    // The old name is free again for AddGroup.
    EXPECT_TRUE(addGroup(u"First"));
}

TEST_F(GroupTest, CloneGroupMakesAnInactiveCopyWithoutItems) {
    ComPtr<IOPCGroupStateMgt> group = addGroup(u"Source", 1);
    ComPtr<IOPCItemMgt> items = query<IOPCItemMgt>(group.get());
    std::vector<OPCHANDLE> handles;
    ASSERT_EQ(add(items.get(), {def(u"Dev.Level")}, &handles), S_OK);

    ComPtr<IOPCItemMgt> clone;
    EXPECT_EQ(group->CloneGroup(u"Source", IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(clone.put())),
              OPC_E_DUPLICATENAME);
    EXPECT_FALSE(clone);
    ASSERT_EQ(group->CloneGroup(u"", IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(clone.put())), S_OK);
    ComPtr<IOPCGroupStateMgt> cloneState = query<IOPCGroupStateMgt>(clone.get());
    const State got = stateOf(cloneState.get());
    EXPECT_EQ(got.name, "Group1");
    expectCreationSettings(got);
    EXPECT_EQ(got.active, 0);
    ComPtr<IUnknown> byName;
    EXPECT_EQ(server->GetGroupByName(u"Group1", IID_IUnknown, byName.put()), S_OK);
    EXPECT_TRUE(enumerate(enumerator(clone.get()).get()).empty());
    // Only the source's item; the source is active, and a pass of it holds a use while it runs.
    EXPECT_TRUE(becomes([&] { return level->m_nRef.load() == 1; }));
}

TEST_F(GroupTest, AddItemsResolvesItemIdsAndReportsEachEntry) {
    ComPtr<IOPCGroupStateMgt> group = addGroup(u"G");
    ComPtr<IOPCItemMgt> items = query<IOPCItemMgt>(group.get());
    std::vector<OPCHANDLE> handles;
    std::vector<HRESULT> errors;
    std::vector<OPCITEMRESULT> results;
    ASSERT_EQ(add(items.get(),
                  {def(u"Dev.Level", 1, 11), def(u"Dev.Missing"), def(u"dev.count", 0, 12, VT_BSTR),
                   def(u"Nowhere.Level"), def(u"Dev.Level", 1, 13), def(nullptr)},
                  &handles, &errors, &results),
              S_FALSE);
    EXPECT_EQ(errors, (std::vector<HRESULT>{S_OK, OPC_E_UNKNOWNITEMID, S_OK, OPC_E_UNKNOWNITEMID, S_OK,
                                            OPC_E_UNKNOWNITEMID}));
    EXPECT_EQ(results[0].vtCanonicalDataType, VT_R8);
    EXPECT_EQ(results[0].dwAccessRights, OPC_READABLE | OPC_WRITEABLE);
    EXPECT_EQ(results[2].vtCanonicalDataType, VT_I4);
    EXPECT_EQ(results[2].dwAccessRights, OPC_READABLE);
    EXPECT_EQ(handles[1], 0u);
    // The same ID twice gives two items; each holds one use of the tag.
    EXPECT_NE(handles[0], 0u);
    EXPECT_NE(handles[4], handles[0]);
    EXPECT_EQ(level->m_nRef.load(), 2);
    EXPECT_EQ(count->m_nRef.load(), 1);

    auto listed = enumerate(enumerator(items.get()).get());
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ(listed[0].itemId, "Dev.Level");
    EXPECT_EQ(listed[0].server, handles[0]);
    EXPECT_EQ(listed[0].client, 11u);
    EXPECT_EQ(listed[0].requested, VT_R8);  // VT_EMPTY asks for the canonical type
    EXPECT_EQ(listed[1].itemId, "Dev.Count");
    EXPECT_EQ(listed[1].requested, VT_BSTR);  // no convertibility check
    EXPECT_EQ(listed[1].active, 0);
    EXPECT_EQ(listed[1].rights, OPC_READABLE);

    // ValidateItems creates nothing.
    OPCITEMDEF check[] = {def(u"Aux.Flow"), def(u"Aux.Nothing")};
    OPCITEMRESULT* r = nullptr;
    HRESULT* e = nullptr;
    ASSERT_EQ(items->ValidateItems(2, check, 1, &r, &e), S_FALSE);
    EXPECT_EQ(r[0].hServer, 0u);
    EXPECT_EQ(r[0].vtCanonicalDataType, VT_R4);
    EXPECT_EQ(e[0], S_OK);
    EXPECT_EQ(e[1], OPC_E_UNKNOWNITEMID);
    CoTaskMemFree(r);
    CoTaskMemFree(e);
    EXPECT_EQ(flow->m_nRef.load(), 0);

    // Null arrays and a failed allocation leave the outputs null.
    EXPECT_EQ(items->AddItems(1, nullptr, &r, &e), E_POINTER);
    EXPECT_EQ(items->AddItems(1, check, nullptr, &e), E_POINTER);
    r = reinterpret_cast<OPCITEMRESULT*>(1);
    e = reinterpret_cast<HRESULT*>(1);
    allocator.failAt(2);
    EXPECT_EQ(items->AddItems(1, check, &r, &e), E_OUTOFMEMORY);
    EXPECT_EQ(r, nullptr);
    EXPECT_EQ(e, nullptr);
    EXPECT_EQ(flow->m_nRef.load(), 0);
}

TEST_F(GroupTest, ActiveItemsSubscribeTheirTagsPerDevice) {
    ComPtr<IOPCGroupStateMgt> group = addGroup(u"G");
    ComPtr<IOPCItemMgt> items = query<IOPCItemMgt>(group.get());
    std::vector<OPCHANDLE> h;
    ASSERT_EQ(add(items.get(),
                  {def(u"Dev.Level"), def(u"Dev.Level"), def(u"Dev.Count", 0), def(u"Aux.Flow", 0)}, &h),
              S_OK);
    EXPECT_EQ(dev->m_nUseCount.load(), 1);  // one subscription for both items on the tag
    EXPECT_EQ(aux->m_nUseCount.load(), 0);  // inactive items subscribe nothing

    std::vector<HRESULT> errors;
    OPCHANDLE one[] = {h[0]};
    EXPECT_EQ(errorsOf([&](HRESULT** e) { return items->RemoveItems(1, one, e); }, &errors, 1), S_OK);
    EXPECT_EQ(dev->m_nUseCount.load(), 1);  // one occurrence left, the subscription stays
    EXPECT_EQ(level->m_nRef.load(), 1);

    OPCHANDLE activate[] = {h[3], h[2], 0xBAD, h[2]};
    EXPECT_EQ(errorsOf([&](HRESULT** e) { return items->SetActiveState(4, activate, 1, e); }, &errors, 4),
              S_FALSE);
    EXPECT_EQ(errors, (std::vector<HRESULT>{S_OK, S_OK, OPC_E_INVALIDHANDLE, S_OK}));
    EXPECT_EQ(aux->m_nUseCount.load(), 1);
    EXPECT_EQ(dev->m_nUseCount.load(), 1);

    // Deactivating every item of a device ends its subscription.
    OPCHANDLE devItems[] = {h[1], h[2]};
    EXPECT_EQ(errorsOf([&](HRESULT** e) { return items->SetActiveState(2, devItems, 0, e); }, &errors, 2),
              S_OK);
    EXPECT_EQ(dev->m_nUseCount.load(), 0);
    EXPECT_EQ(errorsOf([&](HRESULT** e) { return items->SetActiveState(2, devItems, 0, e); }, &errors, 2),
              S_OK);
    EXPECT_EQ(dev->m_nUseCount.load(), 0);

    // A removed handle is invalid from then on.
    EXPECT_EQ(errorsOf([&](HRESULT** e) { return items->RemoveItems(1, one, e); }, &errors, 1), S_FALSE);
    EXPECT_EQ(errors[0], OPC_E_INVALIDHANDLE);

    // The group's destruction gives every use back.
    OPCHANDLE handle = 0;
    group->GetState(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &handle);
    items.reset();
    group.reset();
    EXPECT_EQ(aux->m_nUseCount.load(), 1);  // the server's table still holds the group
    ASSERT_EQ(server->RemoveGroup(handle, 0), S_OK);
    EXPECT_EQ(aux->m_nUseCount.load(), 0);
    EXPECT_EQ(flow->m_nRef.load(), 0);
}

TEST_F(GroupTest, ClientHandlesAndDatatypesChangePerItem) {
    ComPtr<IOPCGroupStateMgt> group = addGroup(u"G");
    ComPtr<IOPCItemMgt> items = query<IOPCItemMgt>(group.get());
    std::vector<OPCHANDLE> h;
    ASSERT_EQ(add(items.get(), {def(u"Dev.Count", 1, 1, VT_I2), def(u"Dev.Level", 1, 2)}, &h), S_OK);
    std::vector<HRESULT> errors;
    OPCHANDLE targets[] = {h[0], 0, h[1]};
    OPCHANDLE clients[] = {101, 102, 103};
    EXPECT_EQ(
        errorsOf([&](HRESULT** e) { return items->SetClientHandles(3, targets, clients, e); }, &errors, 3),
        S_FALSE);
    EXPECT_EQ(errors, (std::vector<HRESULT>{S_OK, OPC_E_INVALIDHANDLE, S_OK}));
    VARTYPE types[] = {VT_EMPTY, VT_BOOL, VT_UI1};
    EXPECT_EQ(errorsOf([&](HRESULT** e) { return items->SetDatatypes(3, targets, types, e); }, &errors, 3),
              S_FALSE);
    auto listed = enumerate(enumerator(items.get()).get(), 5);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].client, 101u);
    EXPECT_EQ(listed[0].requested, VT_R8);  // VT_EMPTY means VT_R8 here, not the canonical VT_I4
    EXPECT_EQ(listed[1].client, 103u);
    EXPECT_EQ(listed[1].requested, VT_UI1);

    HRESULT* e = reinterpret_cast<HRESULT*>(1);
    EXPECT_EQ(items->SetClientHandles(3, targets, nullptr, &e), E_POINTER);
    EXPECT_EQ(items->SetDatatypes(3, nullptr, types, &e), E_POINTER);
    EXPECT_EQ(items->RemoveItems(3, targets, nullptr), E_POINTER);
    allocator.failAt(1);
    EXPECT_EQ(items->RemoveItems(3, targets, &e), E_OUTOFMEMORY);
    EXPECT_EQ(e, nullptr);
    EXPECT_EQ(level->m_nRef.load(), 1);  // nothing removed
}

TEST_F(GroupTest, ItemEnumeratorWalksTheLiveItems) {
    ComPtr<IOPCGroupStateMgt> group = addGroup(u"G");
    ComPtr<IOPCItemMgt> items = query<IOPCItemMgt>(group.get());
    ComPtr<IEnumOPCItemAttributes> walk = enumerator(items.get());
    OPCITEMATTRIBUTES* batch = nullptr;
    ULONG fetched = 99;
    EXPECT_EQ(walk->Next(1, &batch, &fetched), S_FALSE);  // an empty group
    EXPECT_EQ(fetched, 0u);
    CoTaskMemFree(batch);
    EXPECT_EQ(walk->Next(1, nullptr, &fetched), E_INVALIDARG);

    level->m_bScaled = 1;
    level->m_pAnalog = std::make_unique<ferrow::OAnalogData>();
    level->m_pAnalog->m_dEuLow = -5;
    level->m_pAnalog->m_dEuHigh = 95;
    level->m_value.vt = VT_R8;
    std::vector<OPCHANDLE> h;
    ASSERT_EQ(add(items.get(), {def(u"Dev.Level"), def(u"Dev.Count"), def(u"Aux.Flow")}, &h), S_OK);
    // Items added after the enumerator was made are seen.
    auto all = enumerate(walk.get(), 2);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].euType, OPC_ANALOG);
    EXPECT_EQ(all[0].euInfo, (std::vector<double>{-5, 95}));
    EXPECT_EQ(all[0].canonical, VT_R8);     // the type of the tag's value
    EXPECT_EQ(all[1].canonical, VT_EMPTY);  // no value yet
    EXPECT_EQ(all[1].euType, OPC_NOENUM);
    EXPECT_EQ(all[2].itemId, "Aux.Flow");

    EXPECT_EQ(walk->Reset(), S_OK);
    EXPECT_EQ(walk->Skip(1), S_OK);
    ComPtr<IEnumOPCItemAttributes> clone;
    ASSERT_EQ(walk->Clone(clone.put()), S_OK);
    EXPECT_EQ(ferrow::objectCount.load(), 4);
    // A removed item is not handed out any more.
    std::vector<HRESULT> errors;
    OPCHANDLE gone[] = {h[1]};
    errorsOf([&](HRESULT** e) { return items->RemoveItems(1, gone, e); }, &errors, 1);
    auto rest = enumerate(clone.get());
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_EQ(rest[0].server, h[2]);
    EXPECT_EQ(walk->Skip(5), S_FALSE);

    // The analog range that cannot be allocated fails the call and frees what was filled.
    walk->Reset();
    allocator.failAt(4);  // array, two strings of the first item, then its range
    batch = reinterpret_cast<OPCITEMATTRIBUTES*>(1);
    EXPECT_EQ(walk->Next(2, &batch, &fetched), E_OUTOFMEMORY);
    EXPECT_EQ(batch, nullptr);
    EXPECT_EQ(enumerate(walk.get()).size(), 2u);  // the position stayed
    EXPECT_EQ(items->CreateEnumerator(IID_IOPCServer, reinterpret_cast<IUnknown**>(clone.put())),
              E_NOINTERFACE);
}

TEST_F(GroupTest, RemovedGroupAnswersFailButStaysUsableForIUnknown) {
    OPCHANDLE handle = 0;
    ComPtr<IOPCGroupStateMgt> group = addGroup(u"G", 1, &handle);
    ComPtr<IOPCItemMgt> items = query<IOPCItemMgt>(group.get());
    std::vector<OPCHANDLE> h;
    ASSERT_EQ(add(items.get(), {def(u"Dev.Level")}, &h), S_OK);
    ASSERT_EQ(server->RemoveGroup(handle, 0), S_OK);

    DWORD revised = 0;
    EXPECT_EQ(group->SetState(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), E_POINTER);
    EXPECT_EQ(group->SetState(nullptr, &revised, nullptr, nullptr, nullptr, nullptr, nullptr), E_FAIL);
    EXPECT_EQ(group->GetState(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              E_FAIL);
    EXPECT_EQ(group->SetName(nullptr), E_FAIL);
    EXPECT_EQ(group->CloneGroup(u"C", IID_IUnknown, nullptr), E_FAIL);
    EXPECT_EQ(items->AddItems(0, nullptr, nullptr, nullptr), E_FAIL);
    EXPECT_EQ(items->ValidateItems(0, nullptr, 0, nullptr, nullptr), E_FAIL);
    EXPECT_EQ(items->RemoveItems(1, h.data(), nullptr), E_FAIL);
    EXPECT_EQ(items->SetActiveState(1, h.data(), 0, nullptr), E_FAIL);
    EXPECT_EQ(items->SetClientHandles(1, h.data(), nullptr, nullptr), E_FAIL);
    EXPECT_EQ(items->SetDatatypes(1, h.data(), nullptr, nullptr), E_FAIL);
    EXPECT_EQ(items->CreateEnumerator(IID_IUnknown, nullptr), E_FAIL);
    EXPECT_TRUE(query<IOPCItemMgt>(group.get()));
    // The items live with the object, not with the server's table (a pass under way holds them a moment
    // longer).
    EXPECT_TRUE(becomes([&] { return level->m_nRef.load() == 1; }));
    EXPECT_EQ(dev->m_nUseCount.load(), 1);
    items.reset();
    group.reset();
    // An update pass under way holds the group until it ends.
    EXPECT_TRUE(becomes([&] { return level->m_nRef.load() == 0; }));
    EXPECT_EQ(dev->m_nUseCount.load(), 0);
    EXPECT_TRUE(becomes([] { return ferrow::objectCount.load() == 1; }));
}

TEST_F(GroupTest, ServerTeardownReleasesTheItemsOfGroupsClientsStillHold) {
    ComPtr<IOPCGroupStateMgt> group = addGroup(u"G", 1);
    ComPtr<IOPCItemMgt> items = query<IOPCItemMgt>(group.get());
    std::vector<OPCHANDLE> h;
    ASSERT_EQ(add(items.get(), {def(u"Dev.Level")}, &h), S_OK);
    ComPtr<IEnumOPCItemAttributes> walk = enumerator(items.get());
    server.reset();
    EXPECT_EQ(level->m_nRef.load(), 0);
    EXPECT_EQ(dev->m_nUseCount.load(), 0);
    EXPECT_EQ(items->RemoveItems(1, h.data(), nullptr), RPC_E_DISCONNECTED);
    EXPECT_TRUE(enumerate(walk.get()).empty());
}

TEST_F(GroupTest, WindowCannotDeleteADeviceWhileAnItemHoldsItsTag) {
    ComPtr<IOPCGroupStateMgt> group = addGroup(u"G");
    ComPtr<IOPCItemMgt> items = query<IOPCItemMgt>(group.get());
    std::vector<OPCHANDLE> h;
    ASSERT_EQ(add(items.get(), {def(u"Aux.Flow", 0)}, &h), S_OK);  // inactive: only the tag's use
    doc.m_pSelection = aux;
    doc.DeleteSelection();
    ASSERT_EQ(doc.DeviceCount(), 2u);
    EXPECT_EQ(doc.Device(1), aux);

    std::vector<HRESULT> errors;
    errorsOf([&](HRESULT** e) { return items->RemoveItems(1, h.data(), e); }, &errors, 1);
    doc.DeleteSelection();
    EXPECT_EQ(doc.DeviceCount(), 1u);
    // The deleted device's ID no longer resolves.
    std::vector<HRESULT> after;
    EXPECT_EQ(add(items.get(), {def(u"Aux.Flow")}, nullptr, &after), S_FALSE);
    EXPECT_EQ(after[0], OPC_E_UNKNOWNITEMID);
}

}  // namespace
}  // namespace opctest
