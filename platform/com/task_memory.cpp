#include "platform/com/task_memory.h"

#include <atomic>
#include <cstdlib>

namespace platform::com {

namespace {
std::atomic<TaskAllocator*> installed{nullptr};
}  // namespace

TaskAllocator* setTaskAllocator(TaskAllocator* allocator) { return installed.exchange(allocator); }

void* CoTaskMemAlloc(std::size_t bytes) {
    if (TaskAllocator* a = installed.load()) return a->Alloc(bytes);
    return std::malloc(bytes);
}

void* CoTaskMemRealloc(void* block, std::size_t bytes) {
    if (TaskAllocator* a = installed.load()) return a->Realloc(block, bytes);
    return std::realloc(block, bytes);
}

void CoTaskMemFree(void* block) {
    if (!block) return;
    if (TaskAllocator* a = installed.load()) return a->Free(block);
    std::free(block);
}

LPWSTR taskString(std::u16string_view text) {
    auto* out = taskArray<OLECHAR>(text.size() + 1);
    if (!out) return nullptr;
    if (!text.empty()) std::memcpy(out, text.data(), text.size() * sizeof(OLECHAR));
    return out;
}

LPWSTR taskStringFromAnsi(std::string_view text) {
    auto* out = taskArray<OLECHAR>(text.size() + 1);
    if (!out) return nullptr;
    for (std::size_t i = 0; i < text.size(); ++i) out[i] = static_cast<unsigned char>(text[i]);
    return out;
}

}  // namespace platform::com
