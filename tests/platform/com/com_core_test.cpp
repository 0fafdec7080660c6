#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "platform/com/class_table.h"
#include "platform/com/com_object.h"
#include "platform/com/com_ptr.h"
#include "platform/com/handle_table.h"
#include "platform/com/interfaces.h"
#include "platform/com/task_memory.h"
#include "tests/platform/com/counting_allocator.h"

using namespace platform::com;

namespace {

std::atomic<long> live{0};

// A class object that hands out string enumerators, and whose Next can be held inside a call.
class Strings final : public ComObject<IEnumString, IClassFactory> {
  public:
    Strings() : ComObject(&live) {}
    HRESULT Next(ULONG, LPOLESTR*, ULONG*) override {
        auto call = enterCall();
        if (!call) return RPC_E_DISCONNECTED;
        std::unique_lock lock(gate);
        inside = true;
        changed.notify_all();
        changed.wait(lock, [this] { return open; });
        finished = true;
        return S_OK;
    }
    HRESULT Skip(ULONG) override { return S_OK; }
    HRESULT Reset() override {
        auto call = enterCall();
        return call ? S_OK : RPC_E_DISCONNECTED;
    }
    HRESULT Clone(IEnumString**) override { return E_NOTIMPL; }
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (outer) return CLASS_E_NOAGGREGATION;
        auto* made = new Strings();
        ComPtr<IEnumString> hold(made);
        return made->QueryInterface(riid, ppv);
    }
    HRESULT LockServer(BOOL) override { return S_OK; }

    std::mutex gate;
    std::condition_variable changed;
    bool inside = false, open = true, finished = false;
    int tornDown = 0;

  protected:
    void teardown() override { ++tornDown; }
};

const CLSID kClass{0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};

}  // namespace

TEST(ComObject, QueryInterfaceAnswersItsTableAndCountsReferences) {
    auto* object = new Strings();
    ComPtr<IEnumString> strings(object);
    EXPECT_EQ(live.load(), 1);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(strings->QueryInterface(IID_IClassFactory, factory.putVoid()), S_OK);
    ComPtr<IUnknown> a, b;
    strings->QueryInterface(IID_IUnknown, a.putVoid());
    factory->QueryInterface(IID_IUnknown, b.putVoid());
    EXPECT_EQ(a.get(), b.get());
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(strings->QueryInterface(IID_IConnectionPoint, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(strings->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(object->AddRef(), 5u);
    EXPECT_EQ(object->Release(), 4u);
    a.reset();
    b.reset();
    factory.reset();
    strings.reset();
    EXPECT_EQ(live.load(), 0);
}

TEST(ComObject, DisconnectWaitsForCallsInsideThenRefusesAndDestroyNowTearsDownOnce) {
    auto* object = new Strings();
    ComPtr<IEnumString> strings(object);
    object->open = false;
    std::thread client([&] { EXPECT_EQ(strings->Next(1, nullptr, nullptr), S_OK); });
    {
        std::unique_lock lock(object->gate);
        ASSERT_TRUE(object->changed.wait_for(lock, std::chrono::seconds(10), [&] { return object->inside; }));
    }
    std::thread cutter([&] { EXPECT_EQ(CoDisconnectObject(strings.get(), 0), S_OK); });
    // The cutter cannot finish before the call inside does: open the gate only once it has marked the
    // object disconnected.
    for (int i = 0; i < 10000 && !object->isDisconnected(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(object->isDisconnected());
    EXPECT_EQ(strings->Reset(), RPC_E_DISCONNECTED);
    {
        std::lock_guard lock(object->gate);
        object->open = true;
        object->changed.notify_all();
    }
    cutter.join();
    EXPECT_TRUE(object->finished);
    client.join();

    object->destroyNow();
    object->destroyNow();
    EXPECT_EQ(object->tornDown, 1);
    EXPECT_EQ(live.load(), 0);  // counted as gone while the client still holds it
    strings.reset();            // the final release does not tear down again
    EXPECT_EQ(live.load(), 0);
}

TEST(ComObject, DisconnectLetsGoOfACallThatDoesNotReturnAndLeavesOtherObjectsServed) {
    auto* object = new Strings();
    ComPtr<IEnumString> strings(object);
    object->open = false;
    // The client's call holds its own reference, as a call through the client's pointer does.
    std::thread client([held = strings] { EXPECT_EQ(held->Next(1, nullptr, nullptr), S_OK); });
    {
        std::unique_lock lock(object->gate);
        ASSERT_TRUE(object->changed.wait_for(lock, std::chrono::seconds(30), [&] { return object->inside; }));
    }
    auto cut = std::async(std::launch::async, [&] { return CoDisconnectObject(strings.get(), 0); });
    const bool returned = cut.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    EXPECT_TRUE(returned);
    if (returned) {
        EXPECT_EQ(cut.get(), S_OK);
        EXPECT_EQ(strings->Reset(), RPC_E_DISCONNECTED);
        object->destroyNow();
        EXPECT_EQ(object->tornDown, 1);
        // Another object is not held up by the one let go.
        auto* other = new Strings();
        ComPtr<IEnumString> others(other);
        EXPECT_EQ(others->Reset(), S_OK);
        EXPECT_EQ(others->Next(1, nullptr, nullptr), S_OK);
        EXPECT_EQ(CoDisconnectObject(others.get(), 0), S_OK);
        EXPECT_EQ(others->Reset(), RPC_E_DISCONNECTED);
    }
    {
        std::lock_guard lock(object->gate);
        object->open = true;
        object->changed.notify_all();
    }
    client.join();
    EXPECT_TRUE(object->finished);
    strings.reset();  // the call let go has left: the final release frees the object
    EXPECT_EQ(live.load(), 0);
}

TEST(ClassTable, RegisterCreateRevoke) {
    auto* classObject = new Strings();
    ComPtr<IClassFactory> factory(classObject);
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(kClass, factory.get(), CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    EXPECT_NE(cookie, 0u);
    ComPtr<IEnumString> made;
    EXPECT_EQ(CoCreateInstance(kClass, nullptr, CLSCTX_INPROC_SERVER, IID_IEnumString, made.putVoid()),
              REGDB_E_CLASSNOTREG);  // not registered for that context
    ASSERT_EQ(CoCreateInstance(kClass, nullptr, CLSCTX_SERVER, IID_IEnumString, made.putVoid()), S_OK);
    EXPECT_NE(static_cast<IEnumString*>(classObject), made.get());
    ComPtr<IEnumString> aggregated;
    EXPECT_EQ(CoCreateInstance(kClass, made.get(), CLSCTX_SERVER, IID_IEnumString, aggregated.putVoid()),
              CLASS_E_NOAGGREGATION);
    made.reset();
    factory.reset();
    EXPECT_EQ(live.load(), 1);  // the table holds the class object
    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
    EXPECT_EQ(CoRevokeClassObject(cookie), E_INVALIDARG);
    EXPECT_EQ(live.load(), 0);
    void* none = nullptr;
    EXPECT_EQ(CoGetClassObject(kClass, CLSCTX_SERVER, nullptr, IID_IClassFactory, &none),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CoDisconnectObject(nullptr, 0), E_INVALIDARG);
}

TEST(HandleTable, HandlesAreNeverZeroAndLookedUp) {
    HandleTable<int> table;
    const auto a = table.add(10), b = table.add(20);
    EXPECT_EQ(a, 1u);
    EXPECT_EQ(b, 2u);
    EXPECT_EQ(*table.find(b), 20);
    EXPECT_EQ(table.find(0), nullptr);
    EXPECT_EQ(table.find(3), nullptr);
    EXPECT_EQ(table.remove(a), 10);
    EXPECT_FALSE(table.remove(a));
    EXPECT_EQ(table.add(30), 3u);  // a removed handle is not handed out again at once
}

TEST(HandleTable, TablesOfOneSpaceNeverShareALiveHandle) {
    HandleSpace space;
    {
        HandleTable<int> first(space), second(space);
        const auto a = first.add(1), b = second.add(2);
        EXPECT_NE(a, b);
        EXPECT_EQ(first.find(b), nullptr);
        EXPECT_EQ(second.find(a), nullptr);
        EXPECT_EQ(space.size(), 2u);
        // Moved entries keep their handles; the emptied table still draws on the space.
        HandleTable<int> moved = std::move(first);
        EXPECT_EQ(*moved.find(a), 1);
        EXPECT_TRUE(first.empty());
        const auto c = first.add(3);
        EXPECT_NE(c, a);
        EXPECT_NE(c, b);
        EXPECT_EQ(space.size(), 3u);
        second.remove(b);
        EXPECT_EQ(space.size(), 2u);
        moved.clear();
        EXPECT_EQ(space.size(), 1u);
    }
    // Every table gave its handles back when it ended.
    EXPECT_EQ(space.size(), 0u);
}

TEST(TaskMemory, HelpersAllocateFromTheInstalledAllocator) {
    testsupport::CountingAllocator allocator;
    LPWSTR text = taskStringFromAnsi("Caf\xE9");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::u16string_view(text), u"Caf\u00E9");
    auto* numbers = taskArray<DWORD>(3);
    ASSERT_NE(numbers, nullptr);
    EXPECT_EQ(numbers[0] | numbers[1] | numbers[2], 0u);
    EXPECT_EQ(allocator.outstanding(), 2u);
    EXPECT_EQ(taskArray<DWORD>(std::size_t(-1) / 2), nullptr);  // the size would overflow
    allocator.failAt(1);
    EXPECT_EQ(taskString(u"x"), nullptr);
    { TaskPtr<DWORD> owned(numbers); }
    CoTaskMemFree(text);
    CoTaskMemFree(nullptr);
    EXPECT_EQ(allocator.outstanding(), 0u);
    EXPECT_EQ(allocator.badFrees(), 0u);
}
