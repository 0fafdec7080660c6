#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "ferrow/devlink/device_link.h"
#include "ferrow/devlink/trace.h"
#include "ferrow/model/cdoc.h"
#include "ferrow/model/device.h"
#include "ferrow/model/locks.h"
#include "ferrow/opc/com_server.h"
#include "ferrow/opc/object_count.h"
#include "ferrow/opc/opc_interfaces.h"
#include "platform/com/class_table.h"
#include "platform/com/com_ptr.h"
#include "platform/com/task_memory.h"
#include "tests/platform/com/counting_allocator.h"

namespace opctest {

// Whether `holds()` becomes true within 30 s: for what a thread the server let go finishes on its own
// after the call that released it returned (the last reference to a group, a sink).
template <class Predicate>
bool becomes(Predicate holds) {
    for (auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
         std::chrono::steady_clock::now() < deadline;
         std::this_thread::sleep_for(std::chrono::milliseconds(1)))
        if (holds()) return true;
    return holds();
}

using namespace platform::com;
using namespace ferrow::opc;

// The devices here are never connected; their diagnostics are not these tests' business.
struct QuietTrace : ferrow::TraceOutput {
    QuietTrace() { ferrow::setTraceOutput(this); }
    ~QuietTrace() override { ferrow::setTraceOutput(nullptr); }
    void Write(std::string_view) override {}
};

// A client's shutdown sink: records every reason it is given.
class ShutdownSink : public IOPCShutdown {
  public:
    explicit ShutdownSink(HRESULT answer = S_OK) : answer_(answer) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IOPCShutdown) return E_NOINTERFACE;
        *ppv = static_cast<IOPCShutdown*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    HRESULT ShutdownRequest(LPCWSTR reason) override {
        std::lock_guard lock(lock_);
        reasons.push_back(ansiFromWide(wideView(reason)));
        return answer_;
    }
    std::vector<std::string> received() {
        std::lock_guard lock(lock_);
        return reasons;
    }

    std::atomic<ULONG> refs{1};  // the test's own

  private:
    HRESULT answer_;
    std::mutex lock_;
    std::vector<std::string> reasons;
};

// One OPC client's view of Ferrow in process: the class registered in the class table, a configuration
// of devices and tags, a counting task allocator. At the end nothing may be left: no live COM object, no
// unfreed task memory, no stray free.
class OpcClientTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(RegisterServerClassObject(&cookie), S_OK); }
    void TearDown() override {
        EXPECT_EQ(RevokeServerClassObject(cookie), S_OK);
        // A pass under way when the client let go holds its group until it ends.
        EXPECT_TRUE(becomes([] { return ferrow::objectCount.load() == 0; })) << ferrow::objectCount.load();
        EXPECT_EQ(allocator.outstanding(), 0u);
        EXPECT_EQ(allocator.badFrees(), 0u);
        ferrow::objectCount = 0;
    }

    ferrow::ODevice* addDevice(const std::string& name) {
        auto device = ferrow::MakeLinkedDevice();
        device->m_strName = name;
        device->m_pParent = &doc.m_root;
        std::lock_guard lock(ferrow::documentLock());
        doc.m_root.m_groups.push_back(std::move(device));
        return static_cast<ferrow::ODevice*>(doc.m_root.m_groups.back().get());
    }
    ferrow::OqnTag* addTag(ferrow::ODevice* device, const std::string& name, VARTYPE vt = VT_R8,
                           bool output = false) {
        auto tag = std::make_unique<ferrow::OqnTag>();
        tag->m_strName = name;
        tag->m_vtCanonical = vt;
        tag->m_bOutput = output ? 1 : 0;
        tag->m_strDescription = name + " of " + device->m_strName;
        tag->m_pGroup = device;
        ferrow::OqnTag* raw = tag.get();
        device->AddTag(std::move(tag));
        return raw;
    }
    void deleteDevice(const std::string& name) {
        std::lock_guard lock(ferrow::documentLock());
        std::erase_if(doc.m_root.m_groups, [&](const auto& g) { return g->m_strName == name; });
    }

    ComPtr<IOPCServer> createServer() {
        ComPtr<IOPCServer> server;
        EXPECT_EQ(CoCreateInstance(CLSID_FerrowServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                                   server.putVoid()),
                  S_OK);
        return server;
    }
    template <class I>
    static ComPtr<I> query(IUnknown* object) {
        ComPtr<I> out;
        EXPECT_EQ(object->QueryInterface(I::kIid, out.putVoid()), S_OK);
        return out;
    }
    // Takes a task-allocated string over and frees it.
    static std::string take(LPWSTR text) {
        std::string out = ansiFromWide(wideView(text));
        CoTaskMemFree(text);
        return out;
    }
    // Every string left in the enumerator, fetched `step` at a time.
    static std::vector<std::string> drain(IEnumString* strings, ULONG step = 1) {
        std::vector<std::string> out;
        std::vector<LPOLESTR> batch(step);
        for (;;) {
            ULONG fetched = 0;
            const HRESULT r = strings->Next(step, batch.data(), &fetched);
            EXPECT_TRUE(r == S_OK || r == S_FALSE);
            for (ULONG i = 0; i < fetched; ++i) out.push_back(take(batch[i]));
            if (r != S_OK) return out;
        }
    }

    testsupport::CountingAllocator allocator;
    QuietTrace quiet;
    ferrow::CDoc doc{ferrow::MakeLinkedDevice};
    DWORD cookie = 0;
};

}  // namespace opctest
