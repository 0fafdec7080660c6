#pragma once

// A client of one server with a device of two tags (an output Level, VT_R8, and an input Count, VT_I4),
// and the sinks it advises on its groups.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

#include "ferrow/opc/opc_group.h"
#include "tests/ferrow/opc/opc_client.h"
#include "tests/ferrow/opc/recording_sinks.h"

namespace opctest {

inline FILETIME fileTime(std::uint64_t ticks) {
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}
inline std::uint64_t ticksOf(const FILETIME& t) {
    return (std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime;
}

// A sink that holds every call until it is let go.
class BlockingSink : public DataCallbackSink {
  public:
    HRESULT OnReadComplete(DWORD t, OPCHANDLE g, HRESULT q, HRESULT e, DWORD n, OPCHANDLE* c, VARIANT* v,
                           WORD* w, FILETIME* f, HRESULT* r) override {
        hold();
        return DataCallbackSink::OnReadComplete(t, g, q, e, n, c, v, w, f, r);
    }
    HRESULT OnDataChange(DWORD t, OPCHANDLE g, HRESULT q, HRESULT e, DWORD n, OPCHANDLE* c, VARIANT* v,
                         WORD* w, FILETIME* f, HRESULT* r) override {
        hold();
        return DataCallbackSink::OnDataChange(t, g, q, e, n, c, v, w, f, r);
    }
    void release() {
        {
            std::lock_guard lock(lock_);
            open_ = true;
        }
        opened_.notify_all();
    }
    bool waitForHeld(int n) {
        std::unique_lock lock(lock_);
        return heldChanged_.wait_for(lock, 5s, [&] { return held_ >= n; });
    }
    int held() {
        std::lock_guard lock(lock_);
        return held_;
    }

  private:
    void hold() {
        std::unique_lock lock(lock_);
        ++held_;
        heldChanged_.notify_all();
        opened_.wait(lock, [&] { return open_; });
    }
    std::mutex lock_;
    std::condition_variable opened_, heldChanged_;
    bool open_ = false;
    int held_ = 0;
};

class GroupIoTest : public OpcClientTest {
  protected:
    static constexpr OPCHANDLE kClientGroup = 900;

    void SetUp() override {
        OpcClientTest::SetUp();
        dev = addDevice("Dev");
        level = addTag(dev, "Level", VT_R8, true);
        count = addTag(dev, "Count", VT_I4, false);
        server = createServer();
    }
    void TearDown() override {
        stuck.release();
        group.reset();
        server.reset();
        EXPECT_EQ(level->m_nRef.load(), 0);
        EXPECT_EQ(dev->m_nUseCount.load(), 0);
        EXPECT_EQ(globalBlockCount(), blocksBefore);
        OpcClientTest::TearDown();
    }

    // A group with a 10 ms rate and the test's client handle.
    ComPtr<IOPCGroupStateMgt> makeGroup(BOOL active, float deadband = 0.0f, const char16_t* name = u"G") {
        ComPtr<IOPCGroupStateMgt> g;
        EXPECT_EQ(server->AddGroup(name, active, 10, kClientGroup, nullptr, &deadband, 0, nullptr, &revised,
                                   IID_IOPCGroupStateMgt, reinterpret_cast<IUnknown**>(g.put())),
                  S_OK);
        return g;
    }
    OPCHANDLE addItem(IUnknown* g, const char16_t* id, OPCHANDLE client, VARTYPE vt = VT_EMPTY,
                      BOOL active = 1) {
        OPCITEMDEF def{};
        def.szItemID = const_cast<char16_t*>(id);
        def.bActive = active;
        def.hClient = client;
        def.vtRequestedDataType = vt;
        OPCITEMRESULT* results = nullptr;
        HRESULT* errors = nullptr;
        EXPECT_EQ(query<IOPCItemMgt>(g)->AddItems(1, &def, &results, &errors), S_OK);
        const OPCHANDLE handle = results[0].hServer;
        CoTaskMemFree(results);
        CoTaskMemFree(errors);
        return handle;
    }
    DWORD adviseCallback(IUnknown* g, DataCallbackSink& sink) {
        ComPtr<IConnectionPoint> point;
        EXPECT_EQ(query<IConnectionPointContainer>(g)->FindConnectionPoint(IID_IOPCDataCallback, point.put()),
                  S_OK);
        DWORD cookie = 0;
        EXPECT_EQ(point->Advise(&sink, &cookie), S_OK);
        return cookie;
    }
    static FORMATETC format(const char* name, LONG index = -1) {
        return FORMATETC{static_cast<CLIPFORMAT>(RegisterClipboardFormatA(name)), nullptr, DVASPECT_CONTENT,
                         index, TYMED_HGLOBAL};
    }
    DWORD adviseStream(IUnknown* g, const char* name, AdviseSink& sink) {
        FORMATETC f = format(name);
        DWORD connection = 0;
        EXPECT_EQ(query<IDataObject>(g)->DAdvise(&f, 0, &sink, &connection), S_OK);
        return connection;
    }
    // Stores a value in the tag as the device link does for a pushed change.
    static void push(ferrow::OTag* tag, double value, WORD quality = OPC_QUALITY_GOOD,
                     std::uint64_t ticks = 0) {
        std::lock_guard lock(ferrow::valueLock());
        VariantClear(&tag->m_value);
        tag->m_value.vt = VT_R8;
        tag->m_value.dblVal = value;
        tag->m_wQuality = quality;
        tag->m_ftTimestamp = ticks ? fileTime(ticks) : currentFileTime();
    }
    // Waits for a data change whose first item has `value`; returns it.
    static std::optional<Callback> changeWith(DataCallbackSink& sink, double value) {
        for (auto deadline = std::chrono::steady_clock::now() + 30s;
             std::chrono::steady_clock::now() < deadline;) {
            for (const Callback& c : sink.dataChanges())
                if (!c.items.empty() && c.items[0].number == value) return c;
            sink.calls.waitFor(sink.calls.size() + 1, 100ms);
        }
        return std::nullopt;
    }

    // The client's sinks outlive its server and groups, which release them.
    DataCallbackSink sink, sink2;
    AdviseSink data, dataTime, writes;
    BlockingSink stuck;

    // The first stream the sink has received, or within 5 s receives, that satisfies `pred`; else empty.
    template <class Pred>
    static Stream streamWhere(AdviseSink& sink, Pred pred) {
        for (auto deadline = std::chrono::steady_clock::now() + 30s;
             std::chrono::steady_clock::now() < deadline;) {
            for (const Stream& st : sink.streams.all())
                if (pred(st)) return st;
            sink.streams.waitFor(sink.streams.size() + 1, 100ms);
        }
        return Stream{};
    }

    ferrow::ODevice* dev = nullptr;
    ferrow::OqnTag* level = nullptr;
    ferrow::OqnTag* count = nullptr;
    ComPtr<IOPCServer> server;
    ComPtr<IOPCGroupStateMgt> group;
    DWORD revised = 0;
    long blocksBefore = globalBlockCount();
};

}  // namespace opctest
