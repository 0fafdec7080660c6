#include <QDBusPendingCall>
#include <QDBusPendingReply>

#include "tests/platform/com/dbus/bus_node_fixture.h"

namespace bustest {
namespace {

const QString kEnumStringInterface = QStringLiteral("org.quillon.com.IEnumString");

// A server of eight workers: one caller's calls that wait on something outside would once hold them all.
class FairnessTest : public BusNodeTest {
  protected:
    BusNode::Options serverOptions() const override {
        BusNode::Options options;
        options.maxWorkers = 8;
        return options;
    }
    // `count` Skip calls on `path` sent at once, without waiting for their answers.
    std::vector<QDBusPendingCall> skips(QDBusConnection& connection, const QString& path, int count) {
        std::vector<QDBusPendingCall> calls;
        for (int i = 0; i < count; ++i) {
            QDBusMessage message = QDBusMessage::createMethodCall(serverName, path, kEnumStringInterface,
                                                                  QStringLiteral("Skip"));
            message << uint{1};
            calls.push_back(connection.asyncCall(message, 30000));
        }
        return calls;
    }
};

TEST_F(FairnessTest, ACallerWhoseCallsWaitHoldsItsShareAndTheOthersAreServed) {
    QDBusConnection greedy = connect(QStringLiteral("greedy"));
    QDBusConnection other = connect(QStringLiteral("other"));
    const QString path = rawCreate(greedy);
    Notebook* notebook = factory->last.load();
    notebook->close();
    std::vector<QDBusPendingCall> held = skips(greedy, path, 20);
    ASSERT_TRUE(notebook->waitForSkips(4));

    // Another caller's calls are answered while the first caller's wait.
    const QDBusMessage reset = raw(other, path, kEnumStringInterface, QStringLiteral("Reset"));
    EXPECT_EQ(reset.type(), QDBusMessage::ReplyMessage) << reset.errorMessage().toStdString();
    EXPECT_FALSE(rawCreate(other).isEmpty());
    EXPECT_EQ(notebook->skipsWaiting(), 4) << "one caller runs its share of the workers at most";

    notebook->open();
    for (QDBusPendingCall& call : held) {
        call.waitForFinished();
        EXPECT_FALSE(call.isError()) << call.error().message().toStdString();
    }
}

TEST_F(FairnessTest, OnlyTheFloodingCallerMeetsTheQueueLimit) {
    QDBusConnection greedy = connect(QStringLiteral("greedy"));
    QDBusConnection other = connect(QStringLiteral("other"));
    const QString path = rawCreate(greedy);
    Notebook* notebook = factory->last.load();
    notebook->close();
    std::vector<QDBusPendingCall> first = skips(greedy, path, 4);
    ASSERT_TRUE(notebook->waitForSkips(4));
    // Four running, 256 queued, the rest refused.
    std::vector<QDBusPendingCall> flood = skips(greedy, path, 300);
    flood.back().waitForFinished();
    int refused = 0;
    for (QDBusPendingCall& call : flood)
        if (call.isFinished() && call.isError()) {
            EXPECT_EQ(call.error().name(), QStringLiteral("org.freedesktop.DBus.Error.LimitsExceeded"));
            ++refused;
        }
    EXPECT_EQ(refused, 300 - 256);
    const QDBusMessage reset = raw(other, path, kEnumStringInterface, QStringLiteral("Reset"));
    EXPECT_EQ(reset.type(), QDBusMessage::ReplyMessage) << reset.errorMessage().toStdString();

    notebook->open();
    int answered = 0;
    for (auto* calls : {&first, &flood})
        for (QDBusPendingCall& call : *calls) {
            call.waitForFinished();
            answered += call.isError() ? 0 : 1;
        }
    EXPECT_EQ(answered, 4 + 256) << "every queued call is answered";
}

// A system with one thread to give: a call that finds it busy fails with E_OUTOFMEMORY, and the server
// goes on.
class NoSpareThreadTest : public BusNodeTest {
  protected:
    BusNode::Options serverOptions() const override {
        BusNode::Options options;
        options.threadStarter = [this](std::function<void()> body) {
            if (started_.exchange(true))
                throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
            return std::thread(std::move(body));
        };
        return options;
    }
    mutable std::atomic<bool> started_{false};
};

TEST_F(NoSpareThreadTest, ACallNoThreadCanServeFailsWithOutOfMemory) {
    ComPtr<IEnumString> notebook = createNotebook();
    ASSERT_TRUE(notebook);
    Notebook* object = factory->last.load();
    object->close();
    QDBusConnection other = connect(QStringLiteral("other"));
    QDBusMessage message = QDBusMessage::createMethodCall(
        serverName, QStringLiteral("/org/quillon/com/obj/1"), kEnumStringInterface, QStringLiteral("Skip"));
    message << uint{1};
    // The one thread may still be ending an earlier call: then the Skip finds it busy and is sent again.
    QDBusPendingCall held = other.asyncCall(message, 30000);
    ASSERT_TRUE(eventually([&] {
        if (object->skipsWaiting() > 0) return true;
        if (held.isFinished()) held = other.asyncCall(message, 30000);
        return false;
    }));
    EXPECT_EQ(notebook->Reset(), E_OUTOFMEMORY);
    object->open();
    held.waitForFinished();
    EXPECT_FALSE(held.isError());
    // Once its thread has ended that call, the server serves the next.
    EXPECT_TRUE(eventually([&] { return notebook->Reset() == S_OK; }));
}

}  // namespace
}  // namespace bustest
