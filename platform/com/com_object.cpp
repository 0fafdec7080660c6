#include "platform/com/com_object.h"

#include <algorithm>
#include <vector>

namespace platform::com {

namespace {

// The calls the current thread is inside, per object. A thread that disconnects an object while it is
// itself inside a call of that object (a client's sink letting go of the last reference to the server
// during a call on one of its groups) must not wait for its own call to end.
class ThreadCalls {
  public:
    void add(const ComObjectRoot* object, int delta) {
        auto it = std::find_if(entries_.begin(), entries_.end(),
                               [object](const auto& e) { return e.first == object; });
        if (it == entries_.end()) {
            entries_.emplace_back(object, delta);
            return;
        }
        it->second += delta;
        if (it->second == 0) entries_.erase(it);
    }
    int count(const ComObjectRoot* object) const {
        auto it = std::find_if(entries_.begin(), entries_.end(),
                               [object](const auto& e) { return e.first == object; });
        return it == entries_.end() ? 0 : it->second;
    }

  private:
    std::vector<std::pair<const ComObjectRoot*, int>> entries_;
};

thread_local ThreadCalls threadCalls;

}  // namespace

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
    threadCalls.add(this, 1);
    if (disconnected_.load()) {
        leaveCall();
        return Call(nullptr);
    }
    return Call(this);
}

void ComObjectRoot::leaveCall() {
    threadCalls.add(this, -1);
    --callsInside_;
    if (disconnected_.load()) {
        std::lock_guard lock(callsLock_);
        callsDone_.notify_all();
    }
}

bool ComObjectRoot::disconnect() {
    disconnected_ = true;
    // Calls inside are server methods; none waits for this thread, but one may be inside a client's sink
    // that does not return, so the wait has a limit. This thread's own calls, further up its stack, end
    // only after this returns.
    const int mine = threadCalls.count(this);
    std::unique_lock lock(callsLock_);
    return callsDone_.wait_for(lock, kDisconnectWait, [this, mine] { return callsInside_.load() == mine; });
}

void ComObjectRoot::destroyNow() { tearDownOnce(); }

void ComObjectRoot::tearDownOnce() {
    if (tornDown_.exchange(true)) return;
    teardown();
    if (liveCount_) --*liveCount_;
}

ComObjectRoot* objectRoot(IUnknown* unknown) { return dynamic_cast<ComObjectRoot*>(unknown); }

}  // namespace platform::com
