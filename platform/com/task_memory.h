#pragma once

#include <cstddef>
#include <cstring>
#include <limits>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>

#include "platform/com/unknown.h"

namespace platform::com {

// The task allocator: memory a server hands to its client, which frees it with CoTaskMemFree.
void* CoTaskMemAlloc(std::size_t bytes);
void* CoTaskMemRealloc(void* block, std::size_t bytes);
void CoTaskMemFree(void* block);

// Where task memory comes from; tests install one that counts or fails.
class TaskAllocator {
  public:
    virtual ~TaskAllocator() = default;
    virtual void* Alloc(std::size_t bytes) = 0;
    virtual void* Realloc(void* block, std::size_t bytes) = 0;
    virtual void Free(void* block) = 0;
};
// Installs `allocator` (null: the process heap) and returns the one it replaces.
TaskAllocator* setTaskAllocator(TaskAllocator* allocator);

// `count` zero-filled elements of a plain type; null when the size overflows or memory runs out.
template <class T>
T* taskArray(std::size_t count) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (count > std::numeric_limits<std::size_t>::max() / sizeof(T)) return nullptr;
    const std::size_t bytes = count * sizeof(T);
    void* block = CoTaskMemAlloc(bytes == 0 ? 1 : bytes);
    if (!block) return nullptr;
    std::memset(block, 0, bytes);
    return static_cast<T*>(block);
}

// A task-allocated copy of `text` with its NUL; null when memory runs out.
LPWSTR taskString(std::u16string_view text);
// Widens 8-bit text one character per byte.
LPWSTR taskStringFromAnsi(std::string_view text);

// Owns a task allocation until it is handed to the client with release().
template <class T>
class TaskPtr {
  public:
    TaskPtr() = default;
    explicit TaskPtr(T* p) : p_(p) {}
    TaskPtr(const TaskPtr&) = delete;
    TaskPtr& operator=(const TaskPtr&) = delete;
    ~TaskPtr() { CoTaskMemFree(p_); }
    T* get() const { return p_; }
    T* release() { return std::exchange(p_, nullptr); }
    T& operator[](std::size_t i) const { return p_[i]; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

  private:
    T* p_ = nullptr;
};

}  // namespace platform::com
