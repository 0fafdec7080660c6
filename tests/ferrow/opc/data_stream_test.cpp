#include "ferrow/opc/data_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/com/safearray.h"

using namespace platform::com;
using ferrow::opc::OPCHANDLE;
using ferrow::opc::StreamFormat;
using ferrow::opc::StreamItem;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct Var : VARIANT {
    Var() { VariantInit(this); }
    ~Var() { VariantClear(this); }
};

// A value whose unused bytes are not zero, so that a writer copying whole VARIANTs shows up.
Var dirty() {
    Var v;
    v.wReserved1 = v.wReserved2 = v.wReserved3 = 0xA5A5;
    v.ullVal = 0x1122334455667788ULL;
    return v;
}

// The first `size` bytes of a block; the block is freed.
Bytes take(HGLOBAL block, std::size_t size) {
    Bytes bytes(size);
    const void* data = GlobalLock(block);
    std::memcpy(bytes.data(), data, size);
    GlobalUnlock(block);
    EXPECT_EQ(GlobalFree(block), nullptr);
    return bytes;
}

// A data stream's used bytes, as its own dwSize tells them.
Bytes takeStream(HGLOBAL block) {
    std::uint32_t size = 0;
    std::memcpy(&size, GlobalLock(block), sizeof size);
    GlobalUnlock(block);
    EXPECT_LE(size, GlobalSize(block));
    return take(block, size);
}

std::uint32_t u32At(const Bytes& bytes, std::size_t offset) {
    return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
           std::uint32_t{bytes[offset + 3]} << 24;
}

// Global memory that fails the n-th request from now (1 = the next; 0 = none), counting the requests.
class FailingMemory : public ferrow::opc::StreamMemory {
  public:
    explicit FailingMemory(int failAt) : failAt_(failAt) { previous_ = ferrow::opc::setStreamMemory(this); }
    ~FailingMemory() override { ferrow::opc::setStreamMemory(previous_); }
    HGLOBAL Alloc(SIZE_T bytes) override {
        ++requests;
        if (--failAt_ == 0) return nullptr;
        return GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, bytes);
    }
    void fail(int failAt) { failAt_ = failAt; }
    int requests = 0;

  private:
    int failAt_;
    ferrow::opc::StreamMemory* previous_ = nullptr;
};

}  // namespace

TEST(DataStream, DataItemsHaveTwelveByteHeadersAndUnalignedValues) {
    Var small = dirty();
    small.vt = VT_I2;
    small.iVal = -2;
    Var real = dirty();
    real.vt = VT_R8;
    real.dblVal = 1.5;
    const StreamItem items[] = {{0x11, 0xC0, {}, &small}, {0x22, 0x40, {}, &real}};
    HGLOBAL block = nullptr;
    ASSERT_EQ(ferrow::opc::WriteDataStream(StreamFormat::Data, 0x01020304, 0, items, &block), S_OK);
    EXPECT_EQ(GlobalSize(block), 4096u);
    // clang-format off
    const Bytes expected = {
        0x4C, 0, 0, 0,  2, 0, 0, 0,  0x04, 0x03, 0x02, 0x01,  0, 0, 0, 0,  0, 0, 0, 0,  // group header
        0x11, 0, 0, 0,  0x2C, 0, 0, 0,  0xC0, 0,  0, 0,                                 // item 1 at 44
        0x22, 0, 0, 0,  0x3C, 0, 0, 0,  0x40, 0,  0, 0,                                 // item 2 at 60
        2, 0,  0, 0, 0, 0, 0, 0,  0xFE, 0xFF, 0, 0, 0, 0, 0, 0,                         // VT_I2 -2
        5, 0,  0, 0, 0, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0xF8, 0x3F,                         // VT_R8 1.5
    };
    // clang-format on
    EXPECT_EQ(takeStream(block), expected);
}

TEST(DataStream, DataTimeItemsCarryTheirTimestampsLowHalfFirst) {
    Var number = dirty();
    number.vt = VT_I4;
    number.lVal = 0x12345678;
    Var flag = dirty();
    flag.vt = VT_BOOL;
    flag.boolVal = VARIANT_TRUE;
    const StreamItem items[] = {
        {7, 0xC0, FILETIME::fromTicks(0x01D9A1B2C3D4E5F6ULL), &number},
        {8, 0x18, FILETIME::fromTicks(0x0000000100000002ULL), &flag},
    };
    HGLOBAL block = nullptr;
    ASSERT_EQ(ferrow::opc::WriteDataStream(StreamFormat::DataTime, 5, 0x2A, items, &block), S_OK);
    // clang-format off
    const Bytes expected = {
        0x5C, 0, 0, 0,  2, 0, 0, 0,  5, 0, 0, 0,  0x2A, 0, 0, 0,  0, 0, 0, 0,
        7, 0, 0, 0,  0x3C, 0, 0, 0,  0xC0, 0,  0, 0,  0xF6, 0xE5, 0xD4, 0xC3,  0xB2, 0xA1, 0xD9, 0x01,
        8, 0, 0, 0,  0x4C, 0, 0, 0,  0x18, 0,  0, 0,  2, 0, 0, 0,  1, 0, 0, 0,
        3, 0,  0, 0, 0, 0, 0, 0,  0x78, 0x56, 0x34, 0x12, 0, 0, 0, 0,     // VT_I4
        11, 0,  0, 0, 0, 0, 0, 0,  0xFF, 0xFF, 0, 0, 0, 0, 0, 0,         // VT_BOOL true
    };
    // clang-format on
    EXPECT_EQ(takeStream(block), expected);
}

TEST(DataStream, ScalarsFillOnlyTheirOwnWidthAndPointersAreZero) {
    Var byte = dirty();
    byte.vt = VT_UI1;
    byte.bVal = 0xAB;
    Var money = dirty();
    money.vt = VT_CY;
    money.llVal = 15000;  // 1.5 in ten-thousandths
    Var when = dirty();
    when.vt = VT_DATE;
    when.date = 2.0;
    Var wide = dirty();
    wide.vt = VT_I8;
    wide.llVal = -2;
    VARIANT object{};  // an interface pointer is not copied into the stream (nor released here)
    object.vt = VT_UNKNOWN;
    object.ullVal = 0x1122334455667788ULL;
    const StreamItem items[] = {{1, 0xC0, {}, &byte}, {2, 0xC0, {}, &money},  {3, 0xC0, {}, &when},
                                {4, 0xC0, {}, &wide}, {5, 0xC0, {}, &object}, {6, 0xC0, {}, nullptr}};
    HGLOBAL block = nullptr;
    ASSERT_EQ(ferrow::opc::WriteDataStream(StreamFormat::Data, 0, 0, items, &block), S_OK);
    const Bytes stream = takeStream(block);
    ASSERT_EQ(stream.size(), 20u + 6 * 12 + 6 * 16);
    const Bytes values(stream.begin() + 92, stream.end());
    // clang-format off
    const Bytes expected = {
        17, 0,  0, 0, 0, 0, 0, 0,  0xAB, 0, 0, 0, 0, 0, 0, 0,
        6, 0,  0, 0, 0, 0, 0, 0,  0x98, 0x3A, 0, 0, 0, 0, 0, 0,
        7, 0,  0, 0, 0, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0, 0x40,
        20, 0,  0, 0, 0, 0, 0, 0,  0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
        13, 0,  0, 0, 0, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0, 0,
        0, 0,  0, 0, 0, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0, 0,  // no value at all: VT_EMPTY
    };
    // clang-format on
    EXPECT_EQ(values, expected);
}

TEST(DataStream, StringsFollowTheirVariantWithLengthCharactersAndTerminator) {
    Var text;
    text.vt = VT_BSTR;
    text.bstrVal = bstrFromAnsi("AB");
    Var none;
    none.vt = VT_BSTR;
    none.bstrVal = nullptr;
    Var after = dirty();
    after.vt = VT_I2;
    after.iVal = 7;
    const StreamItem items[] = {{1, 0xC0, {}, &text}, {2, 0xC0, {}, &none}, {3, 0xC0, {}, &after}};
    HGLOBAL block = nullptr;
    ASSERT_EQ(ferrow::opc::WriteDataStream(StreamFormat::Data, 9, 0, items, &block), S_OK);
    // clang-format off
    const Bytes expected = {
        0x78, 0, 0, 0,  3, 0, 0, 0,  9, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,
        1, 0, 0, 0,  0x38, 0, 0, 0,  0xC0, 0,  0, 0,
        2, 0, 0, 0,  0x52, 0, 0, 0,  0xC0, 0,  0, 0,
        3, 0, 0, 0,  0x68, 0, 0, 0,  0xC0, 0,  0, 0,
        8, 0,  0, 0, 0, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0, 0,  4, 0, 0, 0,  0x41, 0, 0x42, 0,  0, 0,  // "AB"
        8, 0,  0, 0, 0, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0, 0,  0, 0, 0, 0,  0, 0,                    // null
        2, 0,  0, 0, 0, 0, 0, 0,  7, 0, 0, 0, 0, 0, 0, 0,
    };
    // clang-format on
    EXPECT_EQ(takeStream(block), expected);
}

TEST(DataStream, ArraysFollowWithA32BitDescriptorAndTheirElements) {
    Var numbers;
    numbers.vt = VT_ARRAY | VT_I4;
    numbers.parray = SafeArrayCreateVector(VT_I4, 0, 3);
    const std::int32_t elements[] = {1, -1, 0x01020304};
    for (std::int32_t i = 0; i < 3; ++i)
        ASSERT_EQ(SafeArrayPutElement(numbers.parray, &i, &elements[i]), S_OK);
    // Locked while written: the receiver's copy is not locked.
    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(numbers.parray, &data), S_OK);
    const StreamItem items[] = {{0x33, 0xC0, {}, &numbers}};
    HGLOBAL block = nullptr;
    ASSERT_EQ(ferrow::opc::WriteDataStream(StreamFormat::Data, 1, 0, items, &block), S_OK);
    ASSERT_EQ(SafeArrayUnaccessData(numbers.parray), S_OK);
    // clang-format off
    const Bytes expected = {
        0x54, 0, 0, 0,  1, 0, 0, 0,  1, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,
        0x33, 0, 0, 0,  0x20, 0, 0, 0,  0xC0, 0,  0, 0,
        3, 0x20,  0, 0, 0, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0, 0,  // VARIANT, pointer 0
        1, 0,  0x80, 0,  4, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,  3, 0, 0, 0,  0, 0, 0, 0,  // descriptor
        1, 0, 0, 0,  0xFF, 0xFF, 0xFF, 0xFF,  4, 3, 2, 1,
    };
    // clang-format on
    EXPECT_EQ(takeStream(block), expected);
}

TEST(DataStream, ArraysOfStringsAndVariantsUse32BitElementSizes) {
    Var texts;
    texts.vt = VT_ARRAY | VT_BSTR;
    texts.parray = SafeArrayCreateVector(VT_BSTR, 1, 2);
    BSTR text = bstrFromAnsi("x");
    const std::int32_t first = 1;
    ASSERT_EQ(SafeArrayPutElement(texts.parray, &first, text), S_OK);
    SysFreeString(text);
    Var mixed;
    mixed.vt = VT_ARRAY | VT_VARIANT;
    mixed.parray = SafeArrayCreateVector(VT_VARIANT, -1, 2);
    Var word;
    word.vt = VT_UI2;
    word.uiVal = 0xBEEF;
    Var name;
    name.vt = VT_BSTR;
    name.bstrVal = bstrFromAnsi("y");
    const std::int32_t low = -1, high = 0;
    ASSERT_EQ(SafeArrayPutElement(mixed.parray, &low, &word), S_OK);
    ASSERT_EQ(SafeArrayPutElement(mixed.parray, &high, &name), S_OK);
    const StreamItem items[] = {{1, 0xC0, {}, &texts}, {2, 0xC0, {}, &mixed}};
    HGLOBAL block = nullptr;
    ASSERT_EQ(ferrow::opc::WriteDataStream(StreamFormat::Data, 0, 0, items, &block), S_OK);
    const Bytes stream = takeStream(block);
    // clang-format off
    const Bytes expected = {
        0x08, 0x20,  0, 0, 0, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0, 0,
        1, 0,  0x80, 0x01,  4, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,  2, 0, 0, 0,  1, 0, 0, 0,
        0, 0, 0, 0,  0, 0, 0, 0,  // two string pointers
        0x0C, 0x20,  0, 0, 0, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0, 0,
        1, 0,  0x80, 0x08,  16, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,  2, 0, 0, 0,  0xFF, 0xFF, 0xFF, 0xFF,
        18, 0,  0, 0, 0, 0, 0, 0,  0xEF, 0xBE, 0, 0, 0, 0, 0, 0,
        8, 0,  0, 0, 0, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0, 0,
    };
    // clang-format on
    ASSERT_EQ(stream.size(), 44 + expected.size());
    EXPECT_EQ(u32At(stream, 24), 44u);
    EXPECT_EQ(u32At(stream, 36), 44u + 48);
    EXPECT_EQ(Bytes(stream.begin() + 44, stream.end()), expected);
}

TEST(DataStream, ArrayTypeWithoutArrayStillHasItsDescriptor) {
    Var broken;
    broken.vt = VT_ARRAY | VT_R8;  // parray null
    Var after;
    after.vt = VT_I2;
    after.iVal = 1;
    const StreamItem items[] = {{1, 0xC0, {}, &broken}, {2, 0xC0, {}, &after}};
    HGLOBAL block = nullptr;
    ASSERT_EQ(ferrow::opc::WriteDataStream(StreamFormat::Data, 0, 0, items, &block), S_OK);
    const Bytes stream = takeStream(block);
    ASSERT_EQ(stream.size(), 44u + 16 + 24 + 16);
    EXPECT_EQ(u32At(stream, 36), 44u + 16 + 24);
    EXPECT_EQ(Bytes(stream.begin() + 60, stream.begin() + 84), Bytes(24, 0));
    EXPECT_EQ(stream[84], 2);
}

TEST(DataStream, EmptyStreamIsTheGroupHeaderAlone) {
    HGLOBAL block = nullptr;
    ASSERT_EQ(ferrow::opc::WriteDataStream(StreamFormat::DataTime, 0xFFFFFFFF, 3, {}, &block), S_OK);
    EXPECT_EQ(GlobalSize(block), 4096u);
    const Bytes expected = {20, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 3, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(takeStream(block), expected);
}

TEST(DataStream, TheBlockPastTheStreamIsZeroesNotOldHeap) {
    // The whole block may travel to another process: what follows the stream must not be what the heap
    // held before. A block full of marks is freed first, so the stream's block likely reuses it.
    for (int round = 0; round < 4; ++round) {
        HGLOBAL old = GlobalAlloc(GMEM_MOVEABLE, 4096);
        std::memset(GlobalLock(old), 0xAB, 4096);
        GlobalUnlock(old);
        GlobalFree(old);
        HGLOBAL block = nullptr;
        ASSERT_EQ(ferrow::opc::WriteDataStream(StreamFormat::Data, 1, 0, {}, &block), S_OK);
        const Bytes whole = take(block, 4096);
        EXPECT_TRUE(std::all_of(whole.begin() + 20, whole.end(), [](unsigned char b) { return b == 0; }));
    }
}

TEST(DataStream, WriteCompleteReportsSFalseWhenAnErrorIsNotSOk) {
    const OPCHANDLE handles[] = {0x10, 0x20, 0x30};
    const HRESULT failing[] = {S_OK, OPC_E_BADRIGHTS, S_FALSE};
    HGLOBAL block = nullptr;
    ASSERT_EQ(ferrow::opc::WriteWriteCompleteStream(0x0A0B0C0D, 4, handles, failing, &block), S_OK);
    EXPECT_EQ(GlobalSize(block) % 4096, 0u);
    // clang-format off
    const Bytes expected = {
        3, 0, 0, 0,  0x0D, 0x0C, 0x0B, 0x0A,  4, 0, 0, 0,  1, 0, 0, 0,
        0x10, 0, 0, 0,  0, 0, 0, 0,
        0x20, 0, 0, 0,  0x06, 0x00, 0x04, 0xC0,
        0x30, 0, 0, 0,  1, 0, 0, 0,
    };
    // clang-format on
    EXPECT_EQ(take(block, expected.size()), expected);

    const HRESULT succeeding[] = {S_OK, S_OK, S_OK};
    ASSERT_EQ(ferrow::opc::WriteWriteCompleteStream(1, 5, handles, succeeding, &block), S_OK);
    EXPECT_EQ(u32At(take(block, 16), 12), 0u);
    const HRESULT oneSuccessCode[] = {S_OK, S_FALSE, S_OK};
    ASSERT_EQ(ferrow::opc::WriteWriteCompleteStream(1, 5, handles, oneSuccessCode, &block), S_OK);
    EXPECT_EQ(u32At(take(block, 16), 12), 1u) << "an item's S_FALSE is not S_OK";
}

TEST(DataStream, AnItemNotConvertedMakesTheGroupStatusSFalse) {
    VARIANT value;
    VariantInit(&value);
    StreamItem items[] = {{1, 0xC0, {}, &value, S_OK}, {2, 0xC0, {}, &value, S_OK}};
    HGLOBAL block = nullptr;
    ASSERT_EQ(ferrow::opc::WriteDataStream(StreamFormat::Data, 1, 0, items, &block), S_OK);
    EXPECT_EQ(u32At(take(block, 20), 16), 0u);
    items[1].error = DISP_E_OVERFLOW;
    ASSERT_EQ(ferrow::opc::WriteDataStream(StreamFormat::DataTime, 1, 0, items, &block), S_OK);
    EXPECT_EQ(u32At(take(block, 20), 16), 1u);
}

TEST(DataStream, LongStreamsTakeOneBlockOfWholeStepsWithEverythingInPlace) {
    std::vector<Var> values(300);
    std::vector<StreamItem> items;
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i].vt = VT_I4;
        values[i].lVal = static_cast<std::int32_t>(i) * 3;
        items.push_back({static_cast<OPCHANDLE>(i + 1), 0xC0, {}, &values[i]});
    }
    Var text;  // one value longer than two steps
    text.vt = VT_BSTR;
    text.bstrVal = bstrFromAnsi(std::string(5000, 'q'));
    items.push_back({1000, 0xC0, {}, &text});

    FailingMemory counting(0);
    HGLOBAL block = nullptr;
    ASSERT_EQ(ferrow::opc::WriteDataStream(StreamFormat::Data, 0, 0, items, &block), S_OK);
    EXPECT_EQ(counting.requests, 1);
    // 20 + 301 * 12 = 3632 header bytes; 300 values of 16; the string's 16 + 4 + 10000 + 2.
    EXPECT_EQ(GlobalSize(block), 20480u);
    const Bytes stream = takeStream(block);
    ASSERT_EQ(stream.size(), 3632u + 4800 + 10022);
    EXPECT_EQ(u32At(stream, 20), 1u);
    EXPECT_EQ(u32At(stream, 24), 3632u);
    EXPECT_EQ(u32At(stream, 3632 + 8), 0u);
    EXPECT_EQ(u32At(stream, 20 + 299 * 12 + 4), 3632u + 299 * 16);
    EXPECT_EQ(u32At(stream, 3632 + 299 * 16 + 8), 897u);
    EXPECT_EQ(u32At(stream, 20 + 300 * 12), 1000u);
    EXPECT_EQ(u32At(stream, 20 + 300 * 12 + 4), 8432u);
    EXPECT_EQ(u32At(stream, 8432 + 16), 10000u);
    EXPECT_EQ(stream[8432 + 20 + 9998], 'q');
    EXPECT_EQ(stream[stream.size() - 2], 0);
    EXPECT_EQ(stream[stream.size() - 1], 0);
}

TEST(DataStream, FailedAllocationOrGrowthReportsOutOfMemoryAndLeaksNothing) {
    std::vector<Var> values(400);
    std::vector<StreamItem> items;
    for (Var& value : values) {
        value.vt = VT_R8;
        value.dblVal = 2.5;
        items.push_back({1, 0xC0, {}, &value});
    }
    const long before = globalBlockCount();
    FailingMemory failing(1);
    HGLOBAL block = reinterpret_cast<HGLOBAL>(&failing);
    EXPECT_EQ(ferrow::opc::WriteDataStream(StreamFormat::DataTime, 0, 0, items, &block), E_OUTOFMEMORY);
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(globalBlockCount(), before);
    failing.fail(1);
    const OPCHANDLE handles[] = {1};
    const HRESULT errors[] = {S_OK};
    EXPECT_EQ(ferrow::opc::WriteWriteCompleteStream(0, 0, handles, errors, &block), E_OUTOFMEMORY);
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(globalBlockCount(), before);
}

TEST(DataStream, StreamsPast32BitSizesAreRefusedBeforeAnythingIsAllocated) {
    // A descriptor that claims four thousand million doubles over a buffer of one.
    double one = 1.0;
    SAFEARRAY claimed{1, 0, 8, 0, &one, {{0xFFFFFFFFu, 0}}};
    VARIANT huge{};
    huge.vt = VT_ARRAY | VT_R8;
    huge.parray = &claimed;
    FailingMemory counting(0);
    const StreamItem items[] = {{1, 0xC0, {}, &huge}};
    HGLOBAL block = nullptr;
    EXPECT_EQ(ferrow::opc::WriteDataStream(StreamFormat::Data, 0, 0, items, &block), E_OUTOFMEMORY);
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(counting.requests, 0);
}

TEST(DataStream, CallerMistakesAreRefusedWithoutABlock) {
    const OPCHANDLE handles[] = {1, 2};
    const HRESULT errors[] = {S_OK};
    HGLOBAL block = nullptr;
    const long before = globalBlockCount();
    EXPECT_EQ(ferrow::opc::WriteWriteCompleteStream(0, 0, handles, errors, &block), E_INVALIDARG);
    EXPECT_EQ(block, nullptr);
    const HRESULT twoErrors[] = {S_OK, S_OK};
    EXPECT_EQ(ferrow::opc::WriteWriteCompleteStream(0, 0, handles, twoErrors, nullptr), E_POINTER);
    EXPECT_EQ(ferrow::opc::WriteDataStream(StreamFormat::Data, 0, 0, {}, nullptr), E_POINTER);
    EXPECT_EQ(globalBlockCount(), before);
}
