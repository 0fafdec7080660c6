#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "ferrow/opc/async_request.h"

namespace ferrow::opc {

// The asynchronous requests of one group: queued (new at the front, taken from the back), served by at
// most a fixed number of threads, each of which holds a reference on the owner while it runs, and stopped
// with a bounded wait for threads that are inside a client's sink. Any thread. Its two locks are leaves:
// nothing is taken while one is held, and the owner's work runs with neither held.
class RequestPool {
  public:
    // What the pool's threads need of the group that owns the pool.
    class Owner {
      public:
        // A reference for a thread about to start.
        virtual void holdForRequests() = 0;
        // A thread's reference, let go as its last step: when it is the final one, the owner (and with
        // it the pool) may be destroyed on that thread, which touches nothing afterwards.
        virtual void releaseAfterRequests() = 0;
        // Serves one request, completion included.
        virtual void runRequest(AsyncRequest& request) = 0;

      protected:
        ~Owner() = default;
    };

    RequestPool(Owner& owner, std::size_t maxThreads);
    // The pool must have been stopped: a thread still attached would end the process.
    ~RequestPool() = default;
    RequestPool(const RequestPool&) = delete;
    RequestPool& operator=(const RequestPool&) = delete;

    // Queues the request under a new ID, which is also its transaction ID when it is a version 1.0 one.
    // E_FAIL once the pool is stopped or when no thread could be started for it; E_OUTOFMEMORY when the
    // queue cannot grow.
    HRESULT queue(std::unique_ptr<AsyncRequest> request, DWORD* pId);
    // Discards the queued requests without a completion and waits at most `limit` for the threads still
    // serving one; a thread still inside a sink then is let go (its reference keeps the owner alive). True
    // when every thread had ended. Called from one of the pool's threads (a sink that cut its group off),
    // that thread is not waited for.
    bool stop(std::chrono::milliseconds limit);

    // Threads taking from the queue now.
    std::size_t threadCount();

  private:
    void serve();
    void joinFinishedThreads();

    Owner& owner_;
    const std::size_t maxThreads_;

    std::mutex queueLock_;  // guards the fields up to threadsEnded_
    DWORD nextId_ = 2;
    std::deque<std::unique_ptr<AsyncRequest>> requests_;
    std::size_t activeThreads_ = 0;         // threads still taking from the queue
    bool stopped_ = false;                  // the owner is going away
    std::condition_variable threadsEnded_;  // the count reached 0

    std::mutex threadsLock_;  // guards threads_ and finishedThreads_
    std::vector<std::thread> threads_;
    std::vector<std::thread::id> finishedThreads_;  // ended, to be joined
};

}  // namespace ferrow::opc
