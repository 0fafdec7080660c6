// Version 1.0 completions and passes as a 1.0 client sees them: the stream of an asynchronous read or
// refresh carries its transaction and the active items, and a pass with the 2.0 callbacks off reaches
// the DATA sink even when it has no active item to report.

#include "tests/ferrow/opc/group_io_fixture.h"

namespace opctest {
namespace {

constexpr std::size_t kItemCountAt = 4;
constexpr std::size_t kTransactionAt = 12;
constexpr std::size_t kFirstClientAt = 20;

TEST_F(GroupIoTest, Version1ReadAndRefreshCompleteWithTheirTransactionAndOnlyActiveItems) {
    group = makeGroup(1);
    const DWORD connection = adviseStream(group.get(), kStreamFormatData, data);
    const OPCHANDLE active = addItem(group.get(), u"Dev.Level", 41);
    const OPCHANDLE inactive = addItem(group.get(), u"Dev.Count", 42, VT_EMPTY, 0);
    push(level, 3.5);
    ComPtr<IOPCAsyncIO> io1 = query<IOPCAsyncIO>(group.get());

    DWORD refreshId = 0;
    ASSERT_EQ(io1->Refresh(connection, OPC_DS_CACHE, &refreshId), S_OK);
    ASSERT_NE(refreshId, 0u);
    const Stream refreshed =
        streamWhere(data, [&](const Stream& st) { return st.dword(kTransactionAt) == refreshId; });
    ASSERT_FALSE(refreshed.bytes.empty());
    EXPECT_EQ(refreshed.dword(kItemCountAt), 1u);
    EXPECT_EQ(refreshed.dword(kFirstClientAt), 41u);

    OPCHANDLE handles[] = {active, inactive};
    DWORD readId = 0;
    HRESULT* errors = nullptr;
    ASSERT_EQ(io1->Read(connection, OPC_DS_CACHE, 2, handles, &readId, &errors), S_OK);
    CoTaskMemFree(errors);
    ASSERT_NE(readId, 0u);
    ASSERT_NE(readId, refreshId);
    const Stream read =
        streamWhere(data, [&](const Stream& st) { return st.dword(kTransactionAt) == readId; });
    ASSERT_FALSE(read.bytes.empty());
    EXPECT_EQ(read.dword(kItemCountAt), 1u);
    EXPECT_EQ(read.dword(kFirstClientAt), 41u);
}

TEST_F(GroupIoTest, WithCallbacksOffAPassWithoutActiveChangesSendsAnEmptyVersion1Stream) {
    group = makeGroup(1);
    adviseStream(group.get(), kStreamFormatData, data);
    ASSERT_EQ(query<IOPCAsyncIO2>(group.get())->SetEnable(0), S_OK);
    // A new inactive item is flagged changed, which makes the next pass run with nothing active to report.
    addItem(group.get(), u"Dev.Count", 51, VT_EMPTY, 0);
    const Stream empty = streamWhere(data, [](const Stream& st) { return st.dword(kItemCountAt) == 0; });
    ASSERT_FALSE(empty.bytes.empty());
    EXPECT_EQ(empty.dword(0), 20u);
    EXPECT_EQ(empty.dword(8), kClientGroup);
    EXPECT_EQ(empty.dword(kTransactionAt), 0u);
}

}  // namespace
}  // namespace opctest
