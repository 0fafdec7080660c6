#pragma once

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <set>

#include "platform/com/task_memory.h"

namespace testsupport {

// A task allocator for tests: counts the blocks handed out and not yet freed, can fail the n-th
// allocation from now, and catches a free of a block it never handed out. Installed for its lifetime.
class CountingAllocator : public platform::com::TaskAllocator {
  public:
    CountingAllocator() { previous_ = platform::com::setTaskAllocator(this); }
    ~CountingAllocator() override { platform::com::setTaskAllocator(previous_); }

    void* Alloc(std::size_t bytes) override {
        if (failAt_ > 0 && --failAt_ == 0) return nullptr;
        void* block = std::malloc(bytes == 0 ? 1 : bytes);
        std::lock_guard lock(lock_);
        live_.insert(block);
        ++allocations_;
        return block;
    }
    void* Realloc(void* block, std::size_t bytes) override {
        if (!block) return Alloc(bytes);
        std::lock_guard lock(lock_);
        if (!live_.erase(block)) ++badFrees_;
        void* moved = std::realloc(block, bytes);
        live_.insert(moved);
        return moved;
    }
    void Free(void* block) override {
        {
            std::lock_guard lock(lock_);
            if (!live_.erase(block)) {
                ++badFrees_;
                return;
            }
        }
        std::free(block);
    }

    // The n-th allocation from now (1 = the next) fails; 0 = none.
    void failAt(int n) { failAt_ = n; }
    std::size_t outstanding() const {
        std::lock_guard lock(lock_);
        return live_.size();
    }
    std::size_t allocations() const {
        std::lock_guard lock(lock_);
        return allocations_;
    }
    std::size_t badFrees() const {
        std::lock_guard lock(lock_);
        return badFrees_;
    }

  private:
    platform::com::TaskAllocator* previous_ = nullptr;
    mutable std::mutex lock_;
    std::set<void*> live_;
    std::size_t allocations_ = 0;
    std::size_t badFrees_ = 0;
    std::atomic<int> failAt_{0};
};

}  // namespace testsupport
