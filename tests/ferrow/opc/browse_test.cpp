#include "ferrow/opc/item_properties.h"
#include "ferrow/opc/match_pattern.h"
#include "tests/ferrow/opc/opc_client.h"

namespace opctest {
namespace {

// Three devices: Device1 with T1, T10, T2; Device2 with Flow (an output) and Level; Device3 with the
// sub-group Tank holding Temp.
class Browsing : public OpcClientTest {
  protected:
    void SetUp() override {
        OpcClientTest::SetUp();

        device1 = addDevice("Device1");
        for (const char* name : {"T2", "T1", "T10"}) addTag(device1, name);
        ferrow::ODevice* device2 = addDevice("Device2");
        flow = addTag(device2, "Flow", VT_I4, true);
        addTag(device2, "Level", VT_R4);
        ferrow::ODevice* device3 = addDevice("Device3");
        auto tank = std::make_unique<ferrow::OTagGroup>();
        tank->m_strName = "Tank";
        tank->m_pParent = device3;
        auto temp = std::make_unique<ferrow::OqnTag>();
        temp->m_strName = "Temp";
        temp->m_pGroup = tank.get();
        tank->m_tags.push_back(std::move(temp));
        {
            std::lock_guard lock(ferrow::documentLock());
            device3->m_groups.push_back(std::move(tank));
        }
        server = createServer();
        space = query<IOPCBrowseServerAddressSpace>(server.get());
    }

    void TearDown() override {
        space.reset();
        server.reset();
        OpcClientTest::TearDown();
    }

    std::vector<std::string> browse(OPCBROWSETYPE type, const char16_t* filter = u"") {
        ComPtr<IEnumString> strings;
        EXPECT_EQ(space->BrowseOPCItemIDs(type, filter, VT_EMPTY, 0, strings.put()), S_OK);
        return strings ? drain(strings.get()) : std::vector<std::string>{};
    }
    std::string itemId(const char16_t* name, HRESULT expected = S_OK) {
        std::u16string copy(name);
        LPWSTR out = nullptr;
        EXPECT_EQ(space->GetItemID(copy.data(), &out), expected) << ansiFromWide(name);
        return out ? take(out) : std::string();
    }

    ferrow::ODevice* device1 = nullptr;
    ferrow::OqnTag* flow = nullptr;
    ComPtr<IOPCServer> server;
    ComPtr<IOPCBrowseServerAddressSpace> space;
};

using Strings = std::vector<std::string>;

TEST_F(Browsing, PositionMovesByExactNamesOneLevelAtATime) {
    OPCNAMESPACETYPE type{};
    EXPECT_EQ(space->QueryOrganization(&type), S_OK);
    EXPECT_EQ(type, OPC_NS_HIERARCHIAL);
    EXPECT_EQ(space->ChangeBrowsePosition(OPC_BROWSE_UP, u""), E_FAIL);
    EXPECT_EQ(browse(OPC_BRANCH), (Strings{"Device1", "Device2", "Device3"}));
    EXPECT_TRUE(browse(OPC_LEAF).empty());

    // Browse names compare exactly; item IDs ignore case.
    EXPECT_EQ(space->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"device1"), E_INVALIDARG);
    EXPECT_EQ(itemId(u"device1.T1"), "device1.T1");
    EXPECT_EQ(space->ChangeBrowsePosition(OPC_BROWSE_TO, u"Tank"), E_INVALIDARG);  // TO is relative too
    ASSERT_EQ(space->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"Device3"), S_OK);
    ASSERT_EQ(space->ChangeBrowsePosition(OPC_BROWSE_TO, u"Tank"), S_OK);
    EXPECT_EQ(browse(OPC_LEAF), Strings{"Temp"});
    EXPECT_EQ(itemId(u"Temp"), "Device3.Tank.Temp");
    EXPECT_EQ(space->ChangeBrowsePosition(OPC_BROWSE_UP, nullptr), S_OK);
    EXPECT_EQ(browse(OPC_BRANCH), Strings{"Tank"});
    EXPECT_EQ(itemId(u"Tank"), "Device3.Tank");
    EXPECT_EQ(space->ChangeBrowsePosition(OPC_BROWSE_UP, nullptr), S_OK);
    EXPECT_EQ(space->ChangeBrowsePosition(OPC_BROWSE_UP, nullptr), E_FAIL);
    ComPtr<IEnumString> unknownType;
    EXPECT_EQ(space->BrowseOPCItemIDs(static_cast<OPCBROWSETYPE>(9), u"", VT_EMPTY, 0, unknownType.put()),
              E_INVALIDARG);
    EXPECT_FALSE(unknownType);
}

TEST_F(Browsing, GetItemIdBuildsFromThePositionOrTakesAFullId) {
    ASSERT_EQ(space->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"Device1"), S_OK);
    EXPECT_EQ(itemId(u"T1"), "Device1.T1");
    EXPECT_EQ(itemId(u"t1", E_FAIL), "");  // browse names compare exactly, and "t1" is no item ID
    EXPECT_EQ(itemId(u"Nothing", E_FAIL), "");
    EXPECT_EQ(space->ChangeBrowsePosition(OPC_BROWSE_UP, nullptr), S_OK);
    EXPECT_EQ(itemId(u"Device1.T1"), "Device1.T1");
    EXPECT_EQ(itemId(u"T1", E_FAIL), "");
    EXPECT_EQ(itemId(u"Device1"), "Device1");  // a sub-group of the root
    LPWSTR out = nullptr;
    EXPECT_EQ(space->GetItemID(nullptr, nullptr), E_POINTER);
    EXPECT_EQ(space->GetItemID(nullptr, &out), E_FAIL);
    IEnumString* paths = reinterpret_cast<IEnumString*>(1);
    EXPECT_EQ(space->BrowseAccessPaths(u"Device1.T1", &paths), E_NOTIMPL);
    EXPECT_EQ(paths, nullptr);
}

TEST_F(Browsing, FlatBrowseFiltersEveryIdAndGoesBackToTheRoot) {
    ASSERT_EQ(space->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"Device2"), S_OK);
    EXPECT_EQ(browse(OPC_FLAT, u"*.t?"), (Strings{"Device1.T1", "Device1.T2"}));
    // The position is the root now.
    EXPECT_EQ(browse(OPC_BRANCH), (Strings{"Device1", "Device2", "Device3"}));
    EXPECT_EQ(browse(OPC_FLAT), (Strings{"Device1.T1", "Device1.T10", "Device1.T2", "Device2.Flow",
                                         "Device2.Level", "Device3.Tank.Temp"}));
    EXPECT_EQ(browse(OPC_FLAT, u"device2.*"), (Strings{"Device2.Flow", "Device2.Level"}));
    EXPECT_EQ(browse(OPC_BRANCH, u"*3"), Strings{"Device3"});
}

TEST_F(Browsing, EnumeratorFetchesSkipsResetsAndClones) {
    ComPtr<IEnumString> strings;
    ASSERT_EQ(space->BrowseOPCItemIDs(OPC_FLAT, nullptr, VT_EMPTY, 0, strings.put()), S_OK);
    LPOLESTR names[4] = {};
    ULONG fetched = 0;
    ASSERT_EQ(strings->Next(2, names, &fetched), S_OK);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(take(names[0]), "Device1.T1");
    EXPECT_EQ(take(names[1]), "Device1.T10");
    EXPECT_EQ(strings->Skip(2), S_OK);
    ComPtr<IEnumString> clone;
    ASSERT_EQ(strings->Clone(clone.put()), S_OK);
    EXPECT_EQ(drain(clone.get(), 4).size(), 6u);  // a clone starts at the first entry
    ASSERT_EQ(strings->Next(4, names, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(take(names[0]), "Device2.Level");
    EXPECT_EQ(take(names[1]), "Device3.Tank.Temp");
    EXPECT_EQ(strings->Skip(1), S_FALSE);
    EXPECT_EQ(strings->Reset(), S_OK);
    ASSERT_EQ(strings->Next(1, names, nullptr), S_OK);
    EXPECT_EQ(take(names[0]), "Device1.T1");
    EXPECT_EQ(strings->Next(1, nullptr, &fetched), E_POINTER);
    EXPECT_EQ(ferrow::objectCount.load(), 3);  // the server and two enumerators
}

TEST_F(Browsing, ADeviceDeletedUnderThePositionLeadsNowhere) {
    ASSERT_EQ(space->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"Device1"), S_OK);
    ComPtr<IEnumString> leaves;
    ASSERT_EQ(space->BrowseOPCItemIDs(OPC_LEAF, u"", VT_EMPTY, 0, leaves.put()), S_OK);
    LPOLESTR name = nullptr;
    ASSERT_EQ(leaves->Next(1, &name, nullptr), S_OK);
    EXPECT_EQ(take(name), "T1");

    deleteDevice("Device1");
    ULONG fetched = 9;
    EXPECT_EQ(leaves->Next(1, &name, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    EXPECT_TRUE(browse(OPC_LEAF).empty());
    EXPECT_TRUE(browse(OPC_BRANCH).empty());
    EXPECT_EQ(space->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"T1"), E_INVALIDARG);
    EXPECT_EQ(itemId(u"T1", E_FAIL), "");
    EXPECT_EQ(itemId(u"Device2.Flow"), "Device2.Flow");
    // A device of the same name added later is found under the same position.
    ferrow::ODevice* again = addDevice("Device1");
    addTag(again, "New");
    EXPECT_EQ(browse(OPC_LEAF), Strings{"New"});
    EXPECT_EQ(space->ChangeBrowsePosition(OPC_BROWSE_UP, nullptr), S_OK);
    EXPECT_EQ(browse(OPC_BRANCH), (Strings{"Device2", "Device3", "Device1"}));
}

TEST_F(Browsing, MatchPatternRules) {
    EXPECT_TRUE(MatchPattern("Device1.T1", "*.t?"));
    EXPECT_FALSE(MatchPattern("Device1.T10", "*.t?"));
    EXPECT_TRUE(MatchPattern("", "*"));
    EXPECT_FALSE(MatchPattern("", "?"));
    EXPECT_TRUE(MatchPattern("abc", "a*c"));
    EXPECT_TRUE(MatchPattern("ac", "a*c"));
    EXPECT_TRUE(MatchPattern("a.c.c", "*.c"));
    EXPECT_TRUE(MatchPattern("T7", "T#"));
    EXPECT_FALSE(MatchPattern("TX", "T#"));
    EXPECT_TRUE(MatchPattern("b", "[a-c]"));
    EXPECT_TRUE(MatchPattern("B", "[a-c]"));
    EXPECT_FALSE(MatchPattern("d", "[a-c]"));
    EXPECT_TRUE(MatchPattern("d", "[!a-c]"));
    EXPECT_FALSE(MatchPattern("b", "[!abc]"));
    EXPECT_TRUE(MatchPattern("x-", "x[-]"));
    EXPECT_FALSE(MatchPattern("b", "[abc"));  // the list never ends
    EXPECT_FALSE(MatchPattern("abc", "ab"));
    EXPECT_FALSE(MatchPattern("ab", "abc"));
    // Many stars against a long near-miss end quickly: no exponential backtracking.
    const std::string longName(4000, 'a');
    EXPECT_FALSE(MatchPattern(longName, "*a*a*a*a*a*a*a*a*a*a*a*a*b"));
}

TEST_F(Browsing, EveryPropertyOfEveryTag) {
    {
        std::lock_guard lock(ferrow::valueLock());
        VariantClear(&flow->m_value);
        flow->m_value.vt = VT_I4;
        flow->m_value.lVal = 1234;
        flow->m_wQuality = ferrow::kQualityGood;
        // 2026-12-07 10:20:31.5 UTC: the DOS step makes it 10:20:30.
        flow->m_ftTimestamp = FILETIME::fromTicks(134411124315000000ULL);
    }
    ComPtr<IOPCItemProperties> properties = query<IOPCItemProperties>(server.get());
    ComPtr<IEnumString> all;
    ASSERT_EQ(space->BrowseOPCItemIDs(OPC_FLAT, u"", VT_EMPTY, 0, all.put()), S_OK);
    const Strings ids = drain(all.get(), 3);
    ASSERT_EQ(ids.size(), 6u);
    for (const std::string& id : ids) {
        std::u16string wide(id.begin(), id.end());
        DWORD count = 0, *propertyIds = nullptr;
        LPWSTR* descriptions = nullptr;
        VARTYPE* types = nullptr;
        ASSERT_EQ(
            properties->QueryAvailableProperties(wide.data(), &count, &propertyIds, &descriptions, &types),
            S_OK);
        ASSERT_EQ(count, 6u);
        const DWORD expectedIds[] = {1, 2, 3, 4, 5, 101};
        const char* expectedTexts[] = {"Item Canonical DataType", "Item Value",         "Item Quality",
                                       "Item Timestamp",          "Item Access Rights", "Item Description"};
        for (DWORD i = 0; i < count; ++i) {
            EXPECT_EQ(propertyIds[i], expectedIds[i]);
            EXPECT_EQ(take(descriptions[i]), expectedTexts[i]);
        }
        EXPECT_EQ(types[0], VT_I2);
        EXPECT_EQ(types[3], VT_DATE);
        EXPECT_EQ(types[4], VT_I4);
        EXPECT_EQ(types[5], VT_BSTR);
        const VARTYPE canonical = types[1];

        VARIANT* values = nullptr;
        HRESULT* errors = nullptr;
        ASSERT_EQ(properties->GetItemProperties(wide.data(), count, propertyIds, &values, &errors), S_OK);
        EXPECT_EQ(values[0].vt, VT_I2);
        EXPECT_EQ(values[0].iVal, canonical);
        EXPECT_EQ(values[2].vt, VT_I2);
        EXPECT_EQ(values[3].vt, VT_DATE);
        EXPECT_EQ(values[4].vt, VT_I4);
        EXPECT_EQ(values[5].vt, VT_BSTR);
        for (DWORD i = 0; i < count; ++i) EXPECT_EQ(errors[i], S_OK);
        if (id == "Device2.Flow") {
            EXPECT_EQ(canonical, VT_I4);
            EXPECT_EQ(values[1].vt, VT_I4);
            EXPECT_EQ(values[1].lVal, 1234);
            EXPECT_EQ(values[2].iVal, 0xC0);
            EXPECT_DOUBLE_EQ(values[3].date, 46363.0 + (10 * 3600 + 20 * 60 + 30) / 86400.0);
            EXPECT_EQ(values[4].lVal, 3);
            EXPECT_EQ(ansiFromBstr(values[5].bstrVal), "Flow of Device2");
        } else if (id == "Device2.Level") {
            EXPECT_EQ(canonical, VT_R4);
            EXPECT_EQ(values[2].iVal, 0x40);  // no value yet
            EXPECT_EQ(values[4].lVal, 1);
        }
        for (DWORD i = 0; i < count; ++i) VariantClear(&values[i]);
        CoTaskMemFree(values);
        CoTaskMemFree(errors);
        CoTaskMemFree(propertyIds);
        CoTaskMemFree(descriptions);
        CoTaskMemFree(types);
    }
}

TEST_F(Browsing, PropertyEdgeCases) {
    ComPtr<IOPCItemProperties> properties = query<IOPCItemProperties>(server.get());
    char16_t item[] = u"device1.t1";
    char16_t device[] = u"Device1";
    DWORD seven[] = {7};
    VARIANT* values = reinterpret_cast<VARIANT*>(1);
    HRESULT* errors = reinterpret_cast<HRESULT*>(1);
    ASSERT_EQ(properties->GetItemProperties(item, 1, seven, &values, &errors), S_OK);
    EXPECT_EQ(values[0].vt, VT_EMPTY);
    EXPECT_EQ(errors[0], S_OK);
    CoTaskMemFree(values);
    CoTaskMemFree(errors);
    EXPECT_EQ(properties->GetItemProperties(device, 1, seven, &values, &errors), OPC_E_UNKNOWNITEMID);
    EXPECT_EQ(values, nullptr);
    EXPECT_EQ(errors, nullptr);
    EXPECT_EQ(properties->GetItemProperties(nullptr, 1, seven, &values, &errors), E_POINTER);
    EXPECT_EQ(properties->GetItemProperties(item, 1, nullptr, &values, &errors), E_POINTER);
    EXPECT_EQ(properties->GetItemProperties(item, 1, seven, nullptr, &errors), E_POINTER);
    EXPECT_EQ(properties->GetItemProperties(item, 1, seven, &values, nullptr), E_POINTER);

    DWORD count = 5, *ids = nullptr;
    LPWSTR* descriptions = nullptr;
    VARTYPE* types = nullptr;
    EXPECT_EQ(properties->QueryAvailableProperties(device, &count, &ids, &descriptions, &types),
              OPC_E_UNKNOWNITEMID);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(ids, nullptr);
    EXPECT_EQ(properties->QueryAvailableProperties(item, nullptr, &ids, &descriptions, &types), E_POINTER);
    LPWSTR* newIds = nullptr;
    EXPECT_EQ(properties->LookupItemIDs(item, 1, seven, &newIds, &errors), E_NOTIMPL);
}

TEST(ItemTimestamp, TwoSecondStepsWithoutTimeZone) {
    // 1 Jan 1980 00:00:29 UTC reads back as 00:00:28.
    const std::uint64_t jan1980 = 119'600'064'000'000'000ULL;
    EXPECT_DOUBLE_EQ(timestampDate(FILETIME::fromTicks(jan1980 + 290'000'000ULL)), 29221.0 + 28.0 / 86400.0);
    // Outside the DOS years the same step is kept.
    EXPECT_DOUBLE_EQ(timestampDate(FILETIME{}), -109205.0);
}

}  // namespace
}  // namespace opctest
