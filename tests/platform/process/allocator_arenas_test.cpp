// The allocator's arena limit, in a process of its own: arenas made by earlier tests would hide it.
#include "platform/process/allocator_arenas.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <latch>
#include <thread>
#include <vector>

namespace {

// The arenas the allocator has made so far: malloc_info describes each as a <heap>.
int arenaCount() {
    char* text = nullptr;
    std::size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    if (!out) return -1;
    malloc_info(0, out);
    std::fclose(out);
    int count = 0;
    for (const char* at = text; (at = std::strstr(at, "<heap nr=")) != nullptr; ++at) ++count;
    std::free(text);
    return count;
}

TEST(AllocatorArenas, ThreadsAllocatingAtOnceShareAtMostOneArenaPerProcessor) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer's allocator has no arenas";
#else
    if (std::getenv("MALLOC_ARENA_MAX") || std::getenv("GLIBC_TUNABLES"))
        GTEST_SKIP() << "the environment sets the allocator's limits";
    const int before = arenaCount();
    ASSERT_GE(before, 1);
    ASSERT_TRUE(platform::process::limitAllocatorArenas());

    // Every thread holds a block until all have one, so that no thread ends and hands its arena on to
    // the next: without the limit each would have an arena of its own, up to eight per processor.
    constexpr int kThreads = 24;
    std::latch allocated(kThreads);
    std::latch done(1);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&] {
            // Written to, so that the compiler keeps the allocation.
            auto* volatile block = static_cast<char*>(std::malloc(4096));
            block[0] = 1;
            allocated.count_down();
            done.wait();
            std::free(block);
        });
    allocated.wait();
    const int during = arenaCount();
    done.count_down();
    for (std::thread& thread : threads) thread.join();
    EXPECT_LE(during, std::max(before, platform::process::allocatorArenaLimit()))
        << before << " arenas before the threads started";
#endif
}

}  // namespace
