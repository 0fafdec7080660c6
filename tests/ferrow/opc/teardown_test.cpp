// Teardown while a client's sink does not return: the server's end comes back, and the thread let go
// inside the sink touches nothing freed once the sink returns (run under the sanitizers too).

#include <future>

#include "tests/ferrow/opc/group_io_fixture.h"

namespace opctest {
namespace {

// Until only the test's own reference to the sink is left: the thread inside it has let it go.
bool waitForOnlyOwnReference(DataCallbackSink& sink) {
    return becomes([&sink] { return sink.refs.load() == 1; });
}

TEST_F(GroupIoTest, TheServersEndReturnsWhileAPassIsInsideASinkThatDoesNotReturn) {
    group = makeGroup(1);
    adviseCallback(group.get(), stuck);
    addItem(group.get(), u"Dev.Level", 1);
    ASSERT_TRUE(stuck.waitForHeld(1));

    // The client lets go of everything; the server's final release cuts the group off.
    auto ended = std::async(std::launch::async, [this] {
        group.reset();
        server.reset();
    });
    ASSERT_EQ(ended.wait_for(30s), std::future_status::ready);
    stuck.release();
    EXPECT_TRUE(waitForOnlyOwnReference(stuck));
}

TEST_F(GroupIoTest, RemoveGroupAndTheServersEndReturnWhileACompletionIsInsideASink) {
    group = makeGroup(0);
    adviseCallback(group.get(), stuck);
    const OPCHANDLE item = addItem(group.get(), u"Dev.Level", 1);
    OPCHANDLE serverGroup = 0;
    ASSERT_EQ(group->GetState(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &serverGroup),
              S_OK);
    OPCHANDLE handles[] = {item};
    DWORD cancelId = 0;
    HRESULT* errors = nullptr;
    ASSERT_EQ(query<IOPCAsyncIO2>(group.get())->Read(1, handles, 7, &cancelId, &errors), S_OK);
    CoTaskMemFree(errors);
    ASSERT_TRUE(stuck.waitForHeld(1));

    auto ended = std::async(std::launch::async, [this, serverGroup] {
        EXPECT_EQ(server->RemoveGroup(serverGroup, 1), S_OK);
        group.reset();
        server.reset();
    });
    ASSERT_EQ(ended.wait_for(30s), std::future_status::ready);
    stuck.release();
    EXPECT_TRUE(waitForOnlyOwnReference(stuck));
}

}  // namespace
}  // namespace opctest
