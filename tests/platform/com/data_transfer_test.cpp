#include "platform/com/data_transfer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace platform::com;

namespace {

// An object that only counts its references, to see what a medium's release does to it.
class CountedObject : public IUnknown {
  public:
    HRESULT QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    ULONG refs = 1;
};

}  // namespace

TEST(GlobalMemory, MovableBlockKeepsItsHandleAndContentsWhenItGrows) {
    const long before = globalBlockCount();
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, 16);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(globalBlockCount(), before + 1);
    std::memcpy(GlobalLock(block), "0123456789abcdef", 16);
    EXPECT_EQ(GlobalUnlock(block), 0);

    ASSERT_EQ(GlobalReAlloc(block, 100000, GMEM_MOVEABLE | GMEM_ZEROINIT), block);
    EXPECT_EQ(GlobalSize(block), 100000u);
    const auto* data = static_cast<const char*>(GlobalLock(block));
    EXPECT_EQ(std::string(data, 16), "0123456789abcdef");
    EXPECT_EQ(std::vector<char>(data + 16, data + 100000), std::vector<char>(100000 - 16, 0));
    GlobalUnlock(block);
    EXPECT_EQ(globalBlockCount(), before + 1) << "growing is not a new block";

    EXPECT_EQ(GlobalFree(block), nullptr);
    EXPECT_EQ(globalBlockCount(), before);
    EXPECT_EQ(GlobalFree(nullptr), nullptr);
}

TEST(GlobalMemory, LockCountsNestAndALockedBlockDoesNotMove) {
    HGLOBAL block = GlobalAlloc(GHND, 64);
    ASSERT_NE(block, nullptr);
    auto* outer = static_cast<unsigned char*>(GlobalLock(block));
    EXPECT_EQ(std::vector<unsigned char>(outer, outer + 64), std::vector<unsigned char>(64, 0));
    EXPECT_EQ(GlobalLock(block), outer);
    outer[0] = 0x5A;
    outer[40] = 0x77;

    // The holder of the lock keeps using its pointer, so growth is refused and the block left as it was.
    EXPECT_EQ(GlobalReAlloc(block, 1 << 20, 0), nullptr);
    EXPECT_EQ(GlobalSize(block), 64u);
    EXPECT_EQ(GlobalReAlloc(block, 32, 0), block);
    EXPECT_EQ(GlobalSize(block), 32u);
    EXPECT_EQ(outer[0], 0x5A);

    EXPECT_NE(GlobalUnlock(block), 0) << "still locked once";
    EXPECT_EQ(GlobalUnlock(block), 0);
    EXPECT_EQ(GlobalUnlock(block), 0) << "an unlocked block stays unlocked";
    ASSERT_EQ(GlobalReAlloc(block, 1 << 20, GMEM_ZEROINIT), block);
    const auto* data = static_cast<const unsigned char*>(GlobalLock(block));
    EXPECT_EQ(data[0], 0x5A);
    EXPECT_EQ(data[40], 0) << "bytes given up by the shrink come back zeroed";
    GlobalUnlock(block);
    GlobalFree(block);

    EXPECT_EQ(GlobalLock(nullptr), nullptr);
    EXPECT_EQ(GlobalSize(nullptr), 0u);
    EXPECT_EQ(GlobalReAlloc(nullptr, 10, 0), nullptr);
}

TEST(ClipboardFormats, NamesIgnoreCaseAndKeepTheirNumbers) {
    const UINT data = RegisterClipboardFormatA("QuillonTestFormatData");
    const UINT time = RegisterClipboardFormatA("QuillonTestFormatDataTime");
    EXPECT_GE(data, 0xC000u);
    EXPECT_GE(time, 0xC000u);
    EXPECT_NE(data, time);
    EXPECT_EQ(RegisterClipboardFormatA("quillontestformatdata"), data);
    EXPECT_EQ(RegisterClipboardFormatA("QUILLONTESTFORMATDATA"), data);
    EXPECT_EQ(RegisterClipboardFormatA("QuillonTestFormatDataTime"), time);
    EXPECT_EQ(RegisterClipboardFormatA(""), 0u);
    EXPECT_EQ(RegisterClipboardFormatA(nullptr), 0u);

    char name[64] = {};
    EXPECT_EQ(GetClipboardFormatNameA(data, name, sizeof name), 21);
    EXPECT_STREQ(name, "QuillonTestFormatData") << "the first spelling is the name";
}

TEST(ClipboardFormats, NameCopiesAreCutToTheBufferWithATerminator) {
    const UINT format = RegisterClipboardFormatA("QuillonTruncatedName");
    char name[8];
    std::memset(name, 'x', sizeof name);
    EXPECT_EQ(GetClipboardFormatNameA(format, name, 5), 4);
    EXPECT_STREQ(name, "Quil");
    EXPECT_EQ(name[5], 'x') << "nothing written past the given size";
    EXPECT_EQ(GetClipboardFormatNameA(format, name, 1), 0);
    EXPECT_EQ(name[0], '\0');
    EXPECT_EQ(GetClipboardFormatNameA(format, name, 0), 0);
    EXPECT_EQ(GetClipboardFormatNameA(format, nullptr, 8), 0);
    EXPECT_EQ(GetClipboardFormatNameA(1, name, sizeof name), 0) << "a predefined format has no name";
    EXPECT_EQ(GetClipboardFormatNameA(0xFFFF, name, sizeof name), 0) << "not registered";
}

TEST(ClipboardFormats, ThreadsRegisteringOneNameGetOneNumber) {
    constexpr int kThreads = 4;
    std::vector<UINT> numbers(kThreads);
    std::vector<std::thread> threads;
    std::atomic<int> ready{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ++ready;
            while (ready < kThreads) std::this_thread::yield();
            for (int i = 0; i < 50; ++i)
                RegisterClipboardFormatA(("QuillonRace" + std::to_string(i)).c_str());
            numbers[t] = RegisterClipboardFormatA("QuillonRace7");
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (UINT number : numbers) EXPECT_EQ(number, numbers[0]);
    char name[32] = {};
    GetClipboardFormatNameA(numbers[0], name, sizeof name);
    EXPECT_STREQ(name, "QuillonRace7");
    EXPECT_EQ(RegisterClipboardFormatA("QuillonRace49") - RegisterClipboardFormatA("QuillonRace0"), 49u)
        << "each name registered once";
}

TEST(StorageMedium, ReleaseFreesTheBlockOrLeavesItToTheReleaseObject) {
    const long before = globalBlockCount();
    STGMEDIUM owned{TYMED_HGLOBAL, GlobalAlloc(GMEM_MOVEABLE, 10), nullptr};
    ReleaseStgMedium(&owned);
    EXPECT_EQ(globalBlockCount(), before);
    EXPECT_EQ(owned.tymed, TYMED_NULL);
    EXPECT_EQ(owned.hGlobal, nullptr);

    CountedObject keeper;
    HGLOBAL kept = GlobalAlloc(GMEM_MOVEABLE, 10);
    STGMEDIUM lent{TYMED_HGLOBAL, kept, &keeper};
    keeper.AddRef();
    ReleaseStgMedium(&lent);
    EXPECT_EQ(keeper.refs, 1u) << "released once";
    EXPECT_EQ(globalBlockCount(), before + 1) << "the block belongs to the release object";
    EXPECT_EQ(lent.tymed, TYMED_NULL);
    EXPECT_EQ(lent.pUnkForRelease, nullptr);
    GlobalFree(kept);

    STGMEDIUM empty{TYMED_NULL, nullptr, nullptr};
    ReleaseStgMedium(&empty);
    ReleaseStgMedium(nullptr);
    EXPECT_EQ(globalBlockCount(), before);
}
