#include "tests/ferrow/opc/opc_client.h"

namespace opctest {
namespace {

using ServerObject = OpcClientTest;

TEST_F(ServerObject, ClassTableCreatesServersThatAnswerExactlyTheirInterfaces) {
    ComPtr<IOPCServer> server = createServer();
    ASSERT_TRUE(server);
    EXPECT_EQ(ferrow::objectCount.load(), 1);
    for (const IID* iid : {&IID_IOPCCommon, &IID_IOPCBrowseServerAddressSpace, &IID_IOPCItemProperties,
                           &IID_IConnectionPointContainer}) {
        ComPtr<IUnknown> other;
        EXPECT_EQ(server->QueryInterface(*iid, other.putVoid()), S_OK) << formatGuid(*iid);
        // One identity, whichever interface it is asked through.
        ComPtr<IUnknown> a, b;
        other->QueryInterface(IID_IUnknown, a.putVoid());
        server->QueryInterface(IID_IUnknown, b.putVoid());
        EXPECT_EQ(a.get(), b.get());
    }
    for (const IID* iid : {&IID_IOPCServerPublicGroups, &IID_IPersistFile, &IID_IConnectionPoint,
                           &IID_IClassFactory, &IID_IOPCShutdown, &IID_IEnumString}) {
        void* other = reinterpret_cast<void*>(1);
        EXPECT_EQ(server->QueryInterface(*iid, &other), E_NOINTERFACE) << formatGuid(*iid);
        EXPECT_EQ(other, nullptr);
    }
    ComPtr<IOPCServer> second = createServer();
    EXPECT_NE(second.get(), server.get());
    EXPECT_EQ(ferrow::objectCount.load(), 2);
    second.reset();
    server.reset();
    EXPECT_EQ(ferrow::objectCount.load(), 0);
}

TEST_F(ServerObject, ClassFactoryRefusesAggregationAndCountsLocks) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(CLSID_FerrowServer, CLSCTX_LOCAL_SERVER, nullptr, IID_IClassFactory,
                               factory.putVoid()),
              S_OK);
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(factory.get(), IID_IOPCServer, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IOPCServer, nullptr), E_POINTER);
    // A failed query destroys the new server at once.
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPersistFile, &object), E_NOINTERFACE);
    EXPECT_EQ(ferrow::objectCount.load(), 0);

    EXPECT_EQ(factory->LockServer(1), S_OK);
    EXPECT_EQ(factory->LockServer(1), S_OK);
    EXPECT_EQ(ferrow::objectCount.load(), 2);
    EXPECT_EQ(factory->LockServer(0), S_OK);
    EXPECT_EQ(factory->LockServer(0), S_OK);
    EXPECT_EQ(factory->LockServer(0), S_OK);  // one unlock too many changes nothing
    EXPECT_EQ(ferrow::objectCount.load(), 0);

    const CLSID other{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    EXPECT_EQ(CoCreateInstance(other, nullptr, CLSCTX_SERVER, IID_IOPCServer, &object), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CoRevokeClassObject(cookie + 1000), E_INVALIDARG);
}

TEST_F(ServerObject, AddGroupNamesGroupsAndRevisesRates) {
    ComPtr<IOPCServer> server = createServer();
    auto add = [&](const char16_t* name, DWORD rate, OPCHANDLE* handle = nullptr, DWORD* revised = nullptr) {
        ComPtr<IUnknown> group;
        return server->AddGroup(name, 1, rate, 7, nullptr, nullptr, 1033, handle, revised, IID_IUnknown,
                                group.put());
    };
    OPCHANDLE h1 = 0, h3 = 0, h2 = 0;
    ASSERT_EQ(add(u"Group1", 1000, &h1), S_OK);
    ASSERT_EQ(add(u"Group3", 1000, &h3), S_OK);
    ASSERT_EQ(add(nullptr, 1000, &h2), S_OK);
    ComPtr<IUnknown> byName;
    ASSERT_EQ(server->GetGroupByName(u"Group2", IID_IUnknown, byName.put()), S_OK);  // the gap is filled
    EXPECT_EQ(add(u"", 1000), S_OK);
    EXPECT_EQ(server->GetGroupByName(u"Group4", IID_IUnknown, byName.put()), S_OK);
    EXPECT_NE(h1, 0u);
    EXPECT_NE(h1, h2);
    EXPECT_NE(h2, h3);

    // Names are case-sensitive: group1 is another group, a second Group1 is refused and creates nothing.
    EXPECT_EQ(add(u"group1", 1000), S_OK);
    const long before = ferrow::objectCount.load();
    EXPECT_EQ(add(u"Group1", 1000), OPC_E_DUPLICATENAME);
    EXPECT_EQ(ferrow::objectCount.load(), before);
    EXPECT_EQ(server->GetGroupByName(u"GROUP1", IID_IUnknown, byName.put()), E_INVALIDARG);
    EXPECT_FALSE(byName);

    DWORD revised = 0;
    EXPECT_EQ(add(u"Fast", 5, nullptr, &revised), OPC_S_UNSUPPORTEDRATE);
    EXPECT_EQ(revised, 10u);
    EXPECT_EQ(add(u"Exact", 10, nullptr, &revised), S_OK);
    EXPECT_EQ(revised, 10u);

    ComPtr<IUnknown> notOffered;
    EXPECT_EQ(server->AddGroup(u"Kept", 1, 100, 0, nullptr, nullptr, 0, nullptr, nullptr, IID_IOPCServer,
                               notOffered.put()),
              E_NOINTERFACE);
    // A group the client cannot use is not kept.
    EXPECT_EQ(server->GetGroupByName(u"Kept", IID_IUnknown, byName.put()), E_INVALIDARG);
    EXPECT_EQ(server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IUnknown, notOffered.put()), E_NOTIMPL);
}

TEST_F(ServerObject, RemoveGroupTakesOnlyHandlesOfThisServer) {
    ComPtr<IOPCServer> server = createServer();
    ComPtr<IOPCServer> other = createServer();
    ComPtr<IUnknown> group, foreign;
    OPCHANDLE handle = 0, foreignHandle = 0;
    ASSERT_EQ(
        server->AddGroup(u"G", 1, 100, 0, nullptr, nullptr, 0, &handle, nullptr, IID_IUnknown, group.put()),
        S_OK);
    ASSERT_EQ(other->AddGroup(u"F", 1, 100, 0, nullptr, nullptr, 0, &foreignHandle, nullptr, IID_IUnknown,
                              foreign.put()),
              S_OK);
    EXPECT_EQ(server->RemoveGroup(0, 0), E_INVALIDARG);
    EXPECT_EQ(server->RemoveGroup(handle + 12345, 0), E_INVALIDARG);
    EXPECT_EQ(server->RemoveGroup(0xFFFFFFFF, 0), E_INVALIDARG);
    // Group handles are unique in the process: another server's is unknown here.
    EXPECT_NE(foreignHandle, handle);
    EXPECT_EQ(server->RemoveGroup(foreignHandle, 0), E_INVALIDARG);
    ComPtr<IUnknown> stillThere;
    EXPECT_EQ(other->GetGroupByName(u"F", IID_IUnknown, stillThere.put()), S_OK);
    EXPECT_EQ(ferrow::objectCount.load(), 4);

    EXPECT_EQ(server->RemoveGroup(handle, 1), S_OK);
    EXPECT_EQ(server->RemoveGroup(handle, 1), E_INVALIDARG);
    OPCSERVERSTATUS* status = nullptr;
    ASSERT_EQ(server->GetStatus(&status), S_OK);
    EXPECT_EQ(status->dwGroupCount, 0u);
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
    // The removed group lives on while its client holds it.
    EXPECT_EQ(ferrow::objectCount.load(), 4);
    group.reset();
    EXPECT_EQ(ferrow::objectCount.load(), 3);
}

TEST_F(ServerObject, ErrorTextsLocaleAndClientName) {
    ComPtr<IOPCServer> server = createServer();
    ComPtr<IOPCCommon> common = query<IOPCCommon>(server.get());
    LPWSTR text = nullptr;
    ASSERT_EQ(server->GetErrorString(E_FAIL, 1033, &text), S_OK);
    EXPECT_EQ(take(text), "Unknown error.");
    ASSERT_EQ(server->GetErrorString(OPC_S_CLAMP, 0, &text), S_OK);
    EXPECT_EQ(take(text), "The value was written but its output was clamped.");
    ASSERT_EQ(server->GetErrorString(OPC_E_UNKNOWNITEMID, 0x0407, &text), S_OK);
    EXPECT_EQ(take(text), "This ItemID is not known.");
    // The later codes by their published numbers and by this server's older numbers.
    for (HRESULT code : {OPC_S_INUSE, hr(0x00040200)}) {
        ASSERT_EQ(server->GetErrorString(code, 0, &text), S_OK);
        EXPECT_EQ(take(text), "Illegal operation while the object is in use.");
    }
    ASSERT_EQ(server->GetErrorString(OPC_E_NOTFOUND, 0, &text), S_OK);
    EXPECT_EQ(take(text), "The object could not be found.");
    ASSERT_EQ(common->GetErrorString(OPC_E_DUPLICATENAME, &text), S_OK);
    EXPECT_EQ(take(text), "Duplicate group name is not allowed.");
    EXPECT_EQ(common->GetErrorString(OPC_E_DUPLICATENAME, nullptr), E_POINTER);

    LCID locale = 0;
    EXPECT_EQ(common->GetLocaleID(&locale), S_OK);
    EXPECT_EQ(locale, 0x0800u);
    EXPECT_EQ(common->SetLocaleID(0x0407), E_INVALIDARG);
    common->GetLocaleID(&locale);
    EXPECT_EQ(locale, 0x0800u);
    EXPECT_EQ(common->SetLocaleID(0x0409), S_OK);
    common->GetLocaleID(&locale);
    EXPECT_EQ(locale, 1033u);
    EXPECT_EQ(common->GetLocaleID(nullptr), E_POINTER);

    DWORD count = 0;
    LCID* locales = nullptr;
    EXPECT_EQ(common->QueryAvailableLocaleIDs(nullptr, &locales), E_POINTER);
    EXPECT_EQ(common->QueryAvailableLocaleIDs(&count, nullptr), E_POINTER);
    ASSERT_EQ(common->QueryAvailableLocaleIDs(&count, &locales), S_OK);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(locales[0], 1033u);
    CoTaskMemFree(locales);

    EXPECT_EQ(common->SetClientName(nullptr), E_POINTER);
    EXPECT_EQ(common->SetClientName(u"Test client"), S_OK);
}

TEST_F(ServerObject, StatusOfAFreshServer) {
    const FILETIME before = CoFileTimeNow();
    ComPtr<IOPCServer> server = createServer();
    EXPECT_EQ(server->GetStatus(nullptr), E_POINTER);
    OPCSERVERSTATUS* status = nullptr;
    ASSERT_EQ(server->GetStatus(&status), S_OK);
    EXPECT_EQ(status->dwGroupCount, 0u);
    EXPECT_EQ(status->ftLastUpdateTime.ticks(), 0u);
    EXPECT_EQ(status->dwServerState, OPC_STATUS_RUNNING);
    EXPECT_EQ(status->dwBandWidth, 0u);
    EXPECT_EQ(status->wMajorVersion, 2);
    EXPECT_EQ(status->wMinorVersion, 0);
    EXPECT_EQ(status->wBuildNumber, 1);
    EXPECT_EQ(status->ftStartTime, ServerStartTime());
    EXPECT_GE(status->ftCurrentTime.ticks(), before.ticks());
    EXPECT_EQ(take(status->szVendorInfo), "Ferrow server by Morvane GmbH");
    CoTaskMemFree(status);
}

TEST_F(ServerObject, AllocationFailuresReturnOutOfMemoryWithNothingHalfBuilt) {
    addTag(addDevice("Device1"), "T1");
    ComPtr<IOPCServer> server = createServer();
    ComPtr<IOPCItemProperties> properties = query<IOPCItemProperties>(server.get());
    ComPtr<IOPCBrowseServerAddressSpace> browse = query<IOPCBrowseServerAddressSpace>(server.get());
    char16_t item[] = u"Device1.T1";
    // Each call is failed at its first, second, ... allocation until it gets through.
    auto exhaust = [&](const char* what, auto call) {
        for (int n = 1;; ++n) {
            allocator.failAt(n);
            const HRESULT r = call();
            allocator.failAt(0);
            if (r == S_OK) break;
            ASSERT_EQ(r, E_OUTOFMEMORY) << what << " failing allocation " << n;
            EXPECT_EQ(allocator.outstanding(), 0u) << what << " failing allocation " << n;
            ASSERT_LT(n, 20) << what;
        }
    };
    exhaust("GetStatus", [&] {
        OPCSERVERSTATUS* status = reinterpret_cast<OPCSERVERSTATUS*>(1);
        const HRESULT r = server->GetStatus(&status);
        if (r == S_OK) {
            CoTaskMemFree(status->szVendorInfo);
            CoTaskMemFree(status);
        } else {
            EXPECT_EQ(status, nullptr);
        }
        return r;
    });
    exhaust("GetErrorString", [&] {
        LPWSTR text = nullptr;
        const HRESULT r = server->GetErrorString(OPC_E_RANGE, 0, &text);
        CoTaskMemFree(text);
        return r;
    });
    exhaust("QueryAvailableProperties", [&] {
        DWORD count = 99, *ids = nullptr;
        LPWSTR* descriptions = nullptr;
        VARTYPE* types = nullptr;
        const HRESULT r = properties->QueryAvailableProperties(item, &count, &ids, &descriptions, &types);
        if (r == S_OK) {
            for (DWORD i = 0; i < count; ++i) CoTaskMemFree(descriptions[i]);
        } else {
            EXPECT_EQ(count, 0u);
            EXPECT_EQ(ids, nullptr);
            EXPECT_EQ(descriptions, nullptr);
            EXPECT_EQ(types, nullptr);
        }
        CoTaskMemFree(ids);
        CoTaskMemFree(descriptions);
        CoTaskMemFree(types);
        return r;
    });
    exhaust("GetItemProperties", [&] {
        DWORD ids[] = {1, 2, 101};
        VARIANT* values = nullptr;
        HRESULT* errors = nullptr;
        const HRESULT r = properties->GetItemProperties(item, 3, ids, &values, &errors);
        if (r == S_OK)
            for (auto& v : std::span(values, 3)) VariantClear(&v);
        CoTaskMemFree(values);
        CoTaskMemFree(errors);
        return r;
    });
    exhaust("BrowseOPCItemIDs", [&] {
        ComPtr<IEnumString> strings;
        HRESULT r = browse->BrowseOPCItemIDs(OPC_FLAT, u"", VT_EMPTY, 0, strings.put());
        if (r != S_OK) return r;
        LPOLESTR names[2] = {};
        ULONG fetched = 7;
        r = strings->Next(2, names, &fetched);
        if (r == E_OUTOFMEMORY) {
            EXPECT_EQ(fetched, 0u);
            return r;
        }
        EXPECT_EQ(take(names[0]), "Device1.T1");
        return S_OK;
    });
}

}  // namespace
}  // namespace opctest
