#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/com/unknown.h"

namespace platform::com {

// What every object of this layer shares, whatever interfaces it offers: the atomic reference count,
// the live-object count of its module, and disconnection.
//
// Disconnection (CoDisconnectObject) cuts an object off from its clients: from then on every call that
// entered through enterCall() fails with RPC_E_DISCONNECTED, and calls already inside are waited for, at
// most kDisconnectWait: a call held up in a client's sink is then let go. Its caller's reference keeps the
// object's memory, and what the call touches once the sink returns is owned by it or by the object.
// destroyNow() then runs the object's teardown at once, whatever its reference count; the memory stays
// until the last reference goes, so a client's pointer never reaches a destroyed object. Both may be
// called from any thread.
class ComObjectRoot {
  public:
    static constexpr std::chrono::milliseconds kDisconnectWait{5000};

    ComObjectRoot(const ComObjectRoot&) = delete;
    ComObjectRoot& operator=(const ComObjectRoot&) = delete;

    ULONG addRef() { return ++refs_; }
    ULONG release();
    // A reference only while the count is not yet zero: for lists that see objects which may be in
    // their final release on another thread.
    bool tryAddRef();

    // Marks the object disconnected and waits until no call is inside it, at most kDisconnectWait; false
    // when a call was still inside then. A call of this thread on the same object is not waited for.
    bool disconnect();
    bool isDisconnected() const { return disconnected_.load(); }
    // Runs teardown() now, once; the object is then counted as gone from its module.
    void destroyNow();

    // Held by a method for its duration; false when the object is disconnected.
    class Call {
      public:
        explicit Call(ComObjectRoot* object) : object_(object) {}
        Call(Call&& other) noexcept : object_(other.object_) { other.object_ = nullptr; }
        Call(const Call&) = delete;
        Call& operator=(const Call&) = delete;
        ~Call() {
            if (object_) object_->leaveCall();
        }
        explicit operator bool() const { return object_ != nullptr; }

      private:
        ComObjectRoot* object_;
    };
    Call enterCall();

  protected:
    // `liveCount` (may be null) counts the module's live objects: +1 here, -1 at teardown.
    explicit ComObjectRoot(std::atomic<long>* liveCount);
    virtual ~ComObjectRoot();
    // What destruction does besides freeing memory: drop what the object holds, leave lists. Runs once,
    // on the thread of the final release or of destroyNow(); the object lock-free parts stay valid.
    virtual void teardown() {}

  private:
    void leaveCall();
    void tearDownOnce();

    std::atomic<ULONG> refs_{0};
    std::atomic<bool> disconnected_{false};
    std::atomic<bool> tornDown_{false};
    std::atomic<int> callsInside_{0};
    std::mutex callsLock_;
    std::condition_variable callsDone_;
    std::atomic<long>* liveCount_;
};

// A COM object implementing `Interfaces...`; the list is the object's interface table: QueryInterface
// answers IUnknown and exactly these, each by its kIid. The first is the object's identity.
template <class First, class... Rest>
class ComObject : public ComObjectRoot, public First, public Rest... {
  public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == First::kIid)
            *ppv = static_cast<First*>(this);
        else
            (void)((riid == Rest::kIid && (*ppv = static_cast<Rest*>(this), true)) || ...);
        if (!*ppv) return E_NOINTERFACE;
        addRef();
        return S_OK;
    }
    ULONG AddRef() override { return addRef(); }
    ULONG Release() override { return release(); }

    IUnknown* identity() { return static_cast<First*>(this); }

  protected:
    explicit ComObject(std::atomic<long>* liveCount = nullptr) : ComObjectRoot(liveCount) {}
};

// The object behind an interface pointer of this layer, or null for a foreign one.
ComObjectRoot* objectRoot(IUnknown* unknown);

}  // namespace platform::com
