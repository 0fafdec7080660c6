// A version 1.0 advise across the bus: the data streams a remote client's IAdviseSink receives are the
// bytes an in-process sink of the same group receives.

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "devsim/datapoint_service.h"
#include "ferrow/opc/opc_interfaces.h"
#include "platform/com/com_object.h"
#include "platform/com/com_ptr.h"
#include "platform/com/task_memory.h"
#include "tests/ferrow/bus/in_process_ferrow.h"

namespace {

using namespace platform::com;
using namespace ferrow::opc;
using namespace std::chrono_literals;

template <class Done>
bool eventually(Done done) {
    for (int i = 0; i < 3000; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(10ms);
    }
    return done();
}

class StreamSink final : public ComObject<IAdviseSink> {
  public:
    // Keeps the stream's own bytes: its first DWORD is its size (the block may be larger).
    void OnDataChange(FORMATETC*, STGMEDIUM* medium) override {
        const auto* data = static_cast<const char*>(GlobalLock(medium->hGlobal));
        const std::size_t block = GlobalSize(medium->hGlobal);
        std::uint32_t size = 0;
        if (block >= 4) std::memcpy(&size, data, 4);
        std::string bytes(data, std::min<std::size_t>(size, block));
        GlobalUnlock(medium->hGlobal);
        std::lock_guard guard(lock_);
        streams.push_back(std::move(bytes));
        arrived_.notify_all();
    }
    void OnViewChange(DWORD, LONG) override {}
    void OnRename(IUnknown*) override {}
    void OnSave() override {}
    void OnClose() override {}
    bool waitFor(std::size_t count) {
        std::unique_lock guard(lock_);
        return arrived_.wait_for(guard, 10s, [&] { return streams.size() >= count; });
    }
    std::vector<std::string> taken() {
        std::lock_guard guard(lock_);
        return streams;
    }

  private:
    std::mutex lock_;
    std::condition_variable arrived_;
    std::vector<std::string> streams;
};

using FerrowBusStreams = bustest::InProcessFerrowTest;

TEST_F(FerrowBusStreams, ARemoteAdviseSinkGetsTheBytesOfTheInProcessStream) {
    QDBusConnection connection = startServing(QStringLiteral("stream-client"));
    ComPtr<IOPCServer> server = createServer();
    ASSERT_TRUE(server);
    // Two groups of the same shape on the same tag: one advised in process, one across the bus.
    auto makeGroup = [&](const char16_t* name) {
        ComPtr<IOPCItemMgt> group;
        OPCHANDLE handle = 0;
        DWORD rate = 0;
        EXPECT_EQ(server->AddGroup(name, 1, 20, 9, nullptr, nullptr, 0, &handle, &rate, IID_IOPCItemMgt,
                                   reinterpret_cast<IUnknown**>(group.put())),
                  S_OK);
        OPCITEMDEF def{};
        def.szItemID = const_cast<char16_t*>(u"Device1.Setpoint");
        def.bActive = 1;
        def.hClient = 4;
        OPCITEMRESULT* results = nullptr;
        HRESULT* errors = nullptr;
        EXPECT_EQ(group->AddItems(1, &def, &results, &errors), S_OK);
        CoTaskMemFree(results);
        CoTaskMemFree(errors);
        return group;
    };
    ComPtr<IOPCItemMgt> nearGroup = makeGroup(u"Near"), farGroup = makeGroup(u"Far");
    ComPtr<IDataObject> remote;
    const QDBusObjectPath path = busServer->node()->exportFor(farGroup.get(), connection.baseService());
    ASSERT_EQ(platform::com::dbus::clientNode()->importObject(busServer->node()->connection().baseService(),
                                                              path, IID_IDataObject, true, remote.putVoid()),
              S_OK);
    ComPtr<IDataObject> local;
    ASSERT_EQ(nearGroup->QueryInterface(IID_IDataObject, local.putVoid()), S_OK);

    FORMATETC format{static_cast<CLIPFORMAT>(RegisterClipboardFormatA(kStreamFormatData)), nullptr,
                     DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    ComPtr<StreamSink> near(new StreamSink), far(new StreamSink);
    DWORD nearCookie = 0, farCookie = 0;
    ASSERT_EQ(local->DAdvise(&format, 0, near.get(), &nearCookie), S_OK);
    ASSERT_EQ(remote->DAdvise(&format, 0, far.get(), &farCookie), S_OK);

    // A value the device pushes goes out to both groups' sinks. The device pushes only what is
    // registered by then, and the groups register their tag in their first update pass.
    ASSERT_TRUE(sim->log().waitFor("< chgdp/1/Setpoint", 30s));
    sim->run([&] { sim->datapoints().setValue("Setpoint", "00004842"); });  // 50.0f
    ASSERT_TRUE(far->waitFor(1));
    // The newest streams, which carry the pushed value, agree byte for byte (the DATA format has no time
    // stamps). Earlier streams need not pair up: a group's first pass may report the item's first value
    // before its sink was advised, or after.
    const std::string pushed("\x00\x00\x48\x42", 4);  // 50.0f as the stream holds it
    EXPECT_TRUE(eventually([&] {
        const auto n = near->taken(), f = far->taken();
        return !n.empty() && !f.empty() && n.back() == f.back() && n.back().find(pushed) != std::string::npos;
    }));
    EXPECT_EQ(remote->DUnadvise(farCookie), S_OK);
    EXPECT_EQ(local->DUnadvise(nearCookie), S_OK);
}

}  // namespace
