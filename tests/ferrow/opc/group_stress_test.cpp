// Many clients working their groups at once while the devices' values change and one device drops
// out: nothing may race, leak or stay behind. Run under ThreadSanitizer by scripts/test-tsan.sh.

#include <dirent.h>

#include <random>
#include <thread>

#include "ferrow/opc/opc_group.h"
#include "tests/ferrow/opc/opc_client.h"
#include "tests/ferrow/opc/recording_sinks.h"

namespace opctest {
namespace {

constexpr int kClients = 8;
constexpr int kGroupsPerClient = 4;
constexpr int kItemsPerGroup = 200;
constexpr int kDevices = 4;
constexpr int kTagsPerDevice = 200;
constexpr int kRounds = 25;

int threadCount() {
    int n = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.') ++n;
        closedir(dir);
    }
    return n;
}

// One client: its own server, groups and sinks. The sinks are declared first, so they outlive the
// objects that hold them.
struct Client {
    DataCallbackSink callbacks[kGroupsPerClient];
    AdviseSink streams[kGroupsPerClient];
    ComPtr<IOPCServer> server;
    ComPtr<IOPCGroupStateMgt> groups[kGroupsPerClient];
    std::vector<OPCHANDLE> items[kGroupsPerClient];
};

class GroupStress : public OpcClientTest {
  protected:
    void SetUp() override {
        OpcClientTest::SetUp();
        for (int d = 0; d < kDevices; ++d) {
            std::string device = "D";
            device += std::to_string(d);
            devices.push_back(addDevice(device));
            for (int t = 0; t < kTagsPerDevice; ++t) {
                std::string tag = "T";
                tag += std::to_string(t);
                tags.push_back(addTag(devices.back(), tag, VT_R8, t % 2 == 0));
            }
        }
    }

    std::vector<ferrow::ODevice*> devices;
    std::vector<ferrow::OTag*> tags;

    static std::u16string itemId(int device, int tag) {
        std::u16string id = u"D";
        for (char ch : std::to_string(device)) id.push_back(static_cast<char16_t>(ch));
        id += u".T";
        for (char ch : std::to_string(tag)) id.push_back(static_cast<char16_t>(ch));
        return id;
    }

    void addGroup(Client& c, int g, std::mt19937& random) {
        const char16_t name[] = {u'G', static_cast<char16_t>(u'0' + g), 0};
        DWORD revised = 0;
        ASSERT_TRUE(SUCCEEDED(c.server->AddGroup(name, 1, 10, static_cast<OPCHANDLE>(g), nullptr, nullptr, 0,
                                                 nullptr, &revised, IID_IOPCGroupStateMgt,
                                                 reinterpret_cast<IUnknown**>(c.groups[g].put()))));
        ComPtr<IConnectionPoint> point;
        query<IConnectionPointContainer>(c.groups[g].get())
            ->FindConnectionPoint(IID_IOPCDataCallback, point.put());
        DWORD cookie = 0;
        EXPECT_EQ(point->Advise(&c.callbacks[g], &cookie), S_OK);
        if (g == 0) {
            FORMATETC f{static_cast<CLIPFORMAT>(RegisterClipboardFormatA(kStreamFormatDataTime)), nullptr,
                        DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
            DWORD connection = 0;
            EXPECT_EQ(query<IDataObject>(c.groups[g].get())->DAdvise(&f, 0, &c.streams[g], &connection),
                      S_OK);
        }
        std::vector<std::u16string> ids;
        std::vector<OPCITEMDEF> defs(kItemsPerGroup);
        for (int i = 0; i < kItemsPerGroup; ++i)
            ids.push_back(
                itemId(static_cast<int>(random() % kDevices), static_cast<int>(random() % kTagsPerDevice)));
        for (int i = 0; i < kItemsPerGroup; ++i) {
            defs[i] = OPCITEMDEF{};
            defs[i].szItemID = ids[i].data();
            defs[i].bActive = 1;
            defs[i].hClient = static_cast<OPCHANDLE>(i);
        }
        OPCITEMRESULT* results = nullptr;
        HRESULT* errors = nullptr;
        ASSERT_EQ(
            query<IOPCItemMgt>(c.groups[g].get())->AddItems(kItemsPerGroup, defs.data(), &results, &errors),
            S_OK);
        c.items[g].clear();
        for (int i = 0; i < kItemsPerGroup; ++i) c.items[g].push_back(results[i].hServer);
        CoTaskMemFree(results);
        CoTaskMemFree(errors);
    }

    void work(Client& c, int seed) {
        std::mt19937 random(static_cast<unsigned>(seed));
        c.server = createServer();
        for (int g = 0; g < kGroupsPerClient; ++g) addGroup(c, g, random);
        for (int round = 0; round < kRounds; ++round) {
            const int g = static_cast<int>(random() % kGroupsPerClient);
            IUnknown* group = c.groups[g].get();
            std::vector<OPCHANDLE>& handles = c.items[g];
            const DWORD n = static_cast<DWORD>(handles.size());
            HRESULT* errors = nullptr;

            // Deactivate and reactivate half the items, then the group itself.
            ComPtr<IOPCItemMgt> items = query<IOPCItemMgt>(group);
            EXPECT_EQ(items->SetActiveState(n / 2, handles.data(), 0, &errors), S_OK);
            CoTaskMemFree(errors);
            EXPECT_EQ(items->SetActiveState(n / 2, handles.data(), 1, &errors), S_OK);
            CoTaskMemFree(errors);
            DWORD rate = 0;
            for (BOOL active : {0, 1})
                EXPECT_EQ(c.groups[g]->SetState(nullptr, &rate, &active, nullptr, nullptr, nullptr, nullptr),
                          S_OK);

            // Reads and writes.
            ComPtr<IOPCSyncIO> io = query<IOPCSyncIO>(group);
            OPCITEMSTATE* states = nullptr;
            EXPECT_TRUE(SUCCEEDED(io->Read(OPC_DS_CACHE, n, handles.data(), &states, &errors)));
            for (DWORD i = 0; i < n; ++i) VariantClear(&states[i].vDataValue);
            CoTaskMemFree(states);
            CoTaskMemFree(errors);
            std::vector<VARIANT> values(8);
            for (auto& v : values) {
                VariantInit(&v);
                v.vt = VT_R8;
                v.dblVal = round;
            }
            EXPECT_TRUE(SUCCEEDED(io->Write(8, handles.data(), values.data(), &errors)));
            CoTaskMemFree(errors);
            ComPtr<IOPCAsyncIO2> async = query<IOPCAsyncIO2>(group);
            DWORD cancel = 0;
            EXPECT_EQ(async->Read(16, handles.data(), static_cast<DWORD>(round), &cancel, &errors), S_OK);
            CoTaskMemFree(errors);
            EXPECT_EQ(async->Refresh2(OPC_DS_CACHE, 1000 + static_cast<DWORD>(round), &cancel), S_OK);

            // Remove some items, add others; now and then the whole group goes and comes back.
            EXPECT_EQ(items->RemoveItems(20, handles.data(), &errors), S_OK);
            CoTaskMemFree(errors);
            handles.erase(handles.begin(), handles.begin() + 20);
            if (round % 3 == 2) {
                OPCHANDLE serverHandle = 0;
                c.groups[g]->GetState(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                      &serverHandle);
                EXPECT_EQ(c.server->RemoveGroup(serverHandle, 0), S_OK);
                c.groups[g].reset();
                addGroup(c, g, random);
            }
        }
        // One client leaves without releasing its groups first: the server's end takes them along.
        if (seed % 2 == 0)
            for (auto& group : c.groups) group.reset();
        c.server.reset();
        for (auto& group : c.groups) group.reset();
    }
};

TEST_F(GroupStress, ClientsWorkTheirGroupsWhileValuesChangeAndADeviceDropsOut) {
    const int threadsBefore = threadCount();
    const long blocksBefore = globalBlockCount();
    std::atomic<bool> stop{false};
    std::thread pusher([&] {
        std::mt19937 random(7);
        for (int n = 0; !stop; ++n) {
            {
                std::lock_guard lock(ferrow::valueLock());
                for (int k = 0; k < 50; ++k) {
                    ferrow::OTag* tag = tags[random() % tags.size()];
                    VariantClear(&tag->m_value);
                    tag->m_value.vt = VT_R8;
                    tag->m_value.dblVal = n + k;
                    tag->m_wQuality = OPC_QUALITY_GOOD;
                    tag->m_ftTimestamp = currentFileTime();
                }
            }
            if (n == 50) devices.back()->MarkCommFailure();  // the last device drops out
            std::this_thread::sleep_for(1ms);
        }
    });
    {
        std::vector<std::unique_ptr<Client>> clients;
        for (int i = 0; i < kClients; ++i) clients.push_back(std::make_unique<Client>());
        std::vector<std::thread> threads;
        for (int i = 0; i < kClients; ++i) threads.emplace_back([&, i] { work(*clients[i], i + 1); });
        for (auto& t : threads) t.join();
        stop = true;
        pusher.join();
        // Every client received data changes.
        for (auto& c : clients) EXPECT_GT(c->callbacks[0].calls.size() + c->callbacks[1].calls.size(), 0u);
    }
    // A group whose last reference was its update thread's ends on that thread, just after the clients.
    for (int i = 0; i < 3000 && (ferrow::objectCount.load() != 0 || threadCount() != threadsBefore); ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(ferrow::objectCount.load(), 0);
    for (ferrow::ODevice* device : devices) EXPECT_EQ(device->m_nUseCount.load(), 0);
    for (ferrow::OTag* tag : tags) EXPECT_EQ(tag->m_nRef.load(), 0);
    EXPECT_EQ(globalBlockCount(), blocksBefore);
    EXPECT_EQ(threadCount(), threadsBefore);
}

}  // namespace
}  // namespace opctest
