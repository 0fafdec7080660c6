#include "platform/com/com_object.h"

namespace platform::com {

ComObjectRoot::ComObjectRoot(std::atomic<long>* liveCount) : liveCount_(liveCount) {
    if (liveCount_) ++*liveCount_;
}

ComObjectRoot::~ComObjectRoot() = default;

ULONG ComObjectRoot::release() {
    const ULONG left = --refs_;
    if (left == 0) {
        tearDownOnce();
        delete this;
    }
    return left;
}

bool ComObjectRoot::tryAddRef() {
    ULONG count = refs_.load();
    while (count != 0)
        if (refs_.compare_exchange_weak(count, count + 1)) return true;
    return false;
}

ComObjectRoot::Call ComObjectRoot::enterCall() {
    ++callsInside_;
    if (disconnected_.load()) {
        leaveCall();
        return Call(nullptr);
    }
    return Call(this);
}

void ComObjectRoot::leaveCall() {
    if (--callsInside_ == 0 && disconnected_.load()) {
        std::lock_guard lock(callsLock_);
        callsDone_.notify_all();
    }
}

void ComObjectRoot::disconnect() {
    disconnected_ = true;
    std::unique_lock lock(callsLock_);
    // Calls inside are server methods that end by themselves; none waits for this thread.
    callsDone_.wait(lock, [this] { return callsInside_.load() == 0; });
}

void ComObjectRoot::destroyNow() { tearDownOnce(); }

void ComObjectRoot::tearDownOnce() {
    if (tornDown_.exchange(true)) return;
    teardown();
    if (liveCount_) --*liveCount_;
}

ComObjectRoot* objectRoot(IUnknown* unknown) { return dynamic_cast<ComObjectRoot*>(unknown); }

}  // namespace platform::com
