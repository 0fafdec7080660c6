#include "platform/com/data_transfer.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace platform::com {

struct GlobalBlock {
    std::byte* data = nullptr;
    SIZE_T size = 0;
    UINT flags = 0;
    long locks = 0;
    std::mutex lock;
};

namespace {

std::atomic<long> liveBlocks{0};

// Zero-size blocks still get one byte so that GlobalLock always has something to point at.
std::byte* allocateBytes(SIZE_T bytes, bool zero) {
    void* p = zero ? std::calloc(std::max<SIZE_T>(bytes, 1), 1) : std::malloc(std::max<SIZE_T>(bytes, 1));
    return static_cast<std::byte*>(p);
}

struct FormatTable {
    std::mutex lock;
    std::vector<std::string> names;  // index i is format kFirstFormat + i
};
constexpr UINT kFirstFormat = 0xC000;
constexpr UINT kLastFormat = 0xFFFF;

FormatTable& formats() {
    static FormatTable table;
    return table;
}

bool sameIgnoringCase(const std::string& a, const char* b) {
    const std::size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (std::size_t i = 0; i < n; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

}  // namespace

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
    auto* block = new (std::nothrow) GlobalBlock;
    if (!block) return nullptr;
    block->data = allocateBytes(bytes, flags & GMEM_ZEROINIT);
    if (!block->data) {
        delete block;
        return nullptr;
    }
    block->size = bytes;
    block->flags = flags;
    ++liveBlocks;
    return block;
}

HGLOBAL GlobalReAlloc(HGLOBAL block, SIZE_T bytes, UINT flags) {
    if (!block) return nullptr;
    std::lock_guard guard(block->lock);
    if (block->locks > 0) {
        // Whoever locked the block holds a pointer into its data, so the data stays where it is: a
        // shrink keeps the allocation, and a growth that might have to move is refused.
        if (bytes > block->size) return nullptr;
        block->size = bytes;
        return block;
    }
    void* grown = std::realloc(block->data, std::max<SIZE_T>(bytes, 1));
    if (!grown) return nullptr;
    block->data = static_cast<std::byte*>(grown);
    if ((flags & GMEM_ZEROINIT) && bytes > block->size)
        std::memset(block->data + block->size, 0, bytes - block->size);
    block->size = bytes;
    return block;
}

void* GlobalLock(HGLOBAL block) {
    if (!block) return nullptr;
    std::lock_guard guard(block->lock);
    ++block->locks;
    return block->data;
}

BOOL GlobalUnlock(HGLOBAL block) {
    if (!block) return 0;
    std::lock_guard guard(block->lock);
    if (block->locks > 0) --block->locks;
    return block->locks > 0;
}

SIZE_T GlobalSize(HGLOBAL block) {
    if (!block) return 0;
    std::lock_guard guard(block->lock);
    return block->size;
}

HGLOBAL GlobalFree(HGLOBAL block) {
    if (!block) return nullptr;
    std::free(block->data);
    delete block;
    --liveBlocks;
    return nullptr;
}

long globalBlockCount() { return liveBlocks.load(); }

UINT RegisterClipboardFormatA(const char* name) {
    if (!name || !*name) return 0;
    FormatTable& table = formats();
    std::lock_guard guard(table.lock);
    for (std::size_t i = 0; i < table.names.size(); ++i) {
        if (sameIgnoringCase(table.names[i], name)) return kFirstFormat + static_cast<UINT>(i);
    }
    if (kFirstFormat + table.names.size() > kLastFormat) return 0;
    table.names.emplace_back(name);
    return kFirstFormat + static_cast<UINT>(table.names.size() - 1);
}

int GetClipboardFormatNameA(UINT format, char* buffer, int size) {
    if (!buffer || size <= 0 || format < kFirstFormat) return 0;
    FormatTable& table = formats();
    std::lock_guard guard(table.lock);
    const std::size_t index = format - kFirstFormat;
    if (index >= table.names.size()) return 0;
    const std::string& name = table.names[index];
    const int copied =
        static_cast<int>(std::min<std::size_t>(name.size(), static_cast<std::size_t>(size - 1)));
    std::memcpy(buffer, name.data(), static_cast<std::size_t>(copied));
    buffer[copied] = '\0';
    return copied;
}

void ReleaseStgMedium(STGMEDIUM* medium) {
    if (!medium) return;
    if (medium->pUnkForRelease) {
        medium->pUnkForRelease->Release();
    } else if (medium->tymed == TYMED_HGLOBAL) {
        GlobalFree(medium->hGlobal);
    }
    medium->tymed = TYMED_NULL;
    medium->hGlobal = nullptr;
    medium->pUnkForRelease = nullptr;
}

}  // namespace platform::com
