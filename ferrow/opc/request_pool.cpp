#include "ferrow/opc/request_pool.h"

#include <algorithm>

namespace ferrow::opc {

using namespace platform::com;

namespace {
// The pool whose count of active threads includes the calling thread.
thread_local const RequestPool* countedThreadOf = nullptr;
}  // namespace

RequestPool::RequestPool(Owner& owner, std::size_t maxThreads) : owner_(owner), maxThreads_(maxThreads) {}

HRESULT RequestPool::queue(std::unique_ptr<AsyncRequest> request, DWORD* pId) {
    AsyncRequest* raw = request.get();
    bool startThread = false;
    DWORD id;
    {
        std::lock_guard lock(queueLock_);
        if (stopped_) return E_FAIL;
        id = nextId_++;
        if (request->isVersion1()) request->transactionId = id;
        try {
            requests_.push_front(std::move(request));
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        // Up to the bound each request gets a thread of its own; beyond it the running threads take the
        // queued requests in turn.
        if (activeThreads_ < maxThreads_) {
            ++activeThreads_;
            startThread = true;
        }
    }
    if (startThread) {
        joinFinishedThreads();
        owner_.holdForRequests();  // the thread's, released as its last step
        try {
            std::lock_guard lock(threadsLock_);
            threads_.emplace_back([this] { serve(); });
        } catch (const std::exception&) {
            owner_.releaseAfterRequests();
            std::unique_ptr<AsyncRequest> refused;
            {
                std::lock_guard lock(queueLock_);
                if (--activeThreads_ == 0) threadsEnded_.notify_all();
                // The request is still queued unless a running thread took it meanwhile.
                auto it =
                    std::find_if(requests_.begin(), requests_.end(),
                                 [raw](const std::unique_ptr<AsyncRequest>& r) { return r.get() == raw; });
                if (it != requests_.end()) {
                    refused = std::move(*it);
                    requests_.erase(it);
                }
            }
            if (refused) return E_FAIL;
        }
    }
    *pId = id;
    return S_OK;
}

void RequestPool::serve() {
    countedThreadOf = this;
    for (;;) {
        std::unique_ptr<AsyncRequest> request;
        {
            std::lock_guard lock(queueLock_);
            if (requests_.empty() || stopped_) {
                countedThreadOf = nullptr;
                if (--activeThreads_ == 0) threadsEnded_.notify_all();
                break;
            }
            request = std::move(requests_.back());
            requests_.pop_back();
        }
        try {
            owner_.runRequest(*request);
        } catch (const std::bad_alloc&) {
            // Too large to serve (a client asked for more than memory holds): dropped without a
            // completion rather than taking the server down.
        }
    }
    {
        std::lock_guard lock(threadsLock_);
        finishedThreads_.push_back(std::this_thread::get_id());
    }
    // The last step: this may be the owner's final release, whose teardown then runs on this thread.
    owner_.releaseAfterRequests();
}

void RequestPool::joinFinishedThreads() {
    std::vector<std::thread> finished;
    {
        std::lock_guard lock(threadsLock_);
        for (const std::thread::id id : finishedThreads_) {
            auto it = std::find_if(threads_.begin(), threads_.end(),
                                   [id](const std::thread& t) { return t.get_id() == id; });
            if (it == threads_.end()) continue;
            finished.push_back(std::move(*it));
            threads_.erase(it);
        }
        finishedThreads_.clear();
    }
    for (std::thread& thread : finished) thread.join();
}

bool RequestPool::stop(std::chrono::milliseconds limit) {
    {
        // Requests still queued are discarded without a completion (destroyed outside the lock).
        std::deque<std::unique_ptr<AsyncRequest>> discarded;
        {
            std::lock_guard lock(queueLock_);
            stopped_ = true;
            discarded.swap(requests_);
        }
    }
    // A thread inside a client's sink may never come back: it is waited for a while, then let go. Each
    // thread holds a reference on the owner, so what it touches on its way out stays allocated.
    bool allEnded;
    {
        std::unique_lock lock(queueLock_);
        // A sink on one of the pool's threads may have cut the owner off: that thread is counted.
        const std::size_t ownThread = countedThreadOf == this ? 1 : 0;
        allEnded = threadsEnded_.wait_for(lock, limit, [&] { return activeThreads_ <= ownThread; });
    }
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(threadsLock_);
        threads.swap(threads_);
        finishedThreads_.clear();
    }
    for (std::thread& thread : threads) {
        // The final release on one of the threads ends that thread right after; a thread still in a
        // sink ends when the sink returns.
        if (!allEnded || thread.get_id() == std::this_thread::get_id())
            thread.detach();
        else
            thread.join();
    }
    return allEnded;
}

std::size_t RequestPool::threadCount() {
    std::lock_guard lock(queueLock_);
    return activeThreads_;
}

}  // namespace ferrow::opc
