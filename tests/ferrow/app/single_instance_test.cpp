#include "ferrow/app/single_instance.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QSysInfo>
#include <cerrno>
#include <csignal>

#include "platform/ui/wait.h"
#include "tests/support/test_environment.h"

using ferrow::SingleInstance;
using namespace std::chrono_literals;

namespace {

class SingleInstanceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const QString runtime = testsupport::freshFolder(QStringLiteral("run"));
        QFile::setPermissions(runtime,
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
    }
};

// A socket file as a crashed instance leaves it: bound, then closed without removing the file.
void leaveStaleSocket(const QString& path) {
    QDir().mkpath(SingleInstance::folder());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray bytes = QFile::encodeName(path);
    ASSERT_LT(static_cast<std::size_t>(bytes.size()), sizeof(address.sun_path));
    std::memcpy(address.sun_path, bytes.constData(), static_cast<std::size_t>(bytes.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);
    ASSERT_TRUE(QFile::exists(path));
}

// A process number that no process has now.
qint64 unusedPid() {
    for (pid_t pid = 4000000; pid > 1000; --pid)
        if (::kill(pid, 0) == -1 && errno == ESRCH) return pid;
    return -1;
}

// A first instance takes the name; a second is refused and its knock reaches the first.
void expectFirstAndSecond() {
    SingleInstance first;
    ASSERT_TRUE(first.claim());
    int knocks = 0;
    QObject::connect(&first, &SingleInstance::activationRequested, [&] { ++knocks; });
    SingleInstance second;
    EXPECT_FALSE(second.claim());
    EXPECT_TRUE(second.activateFirst());
    EXPECT_TRUE(platform::ui::waitUntil([&] { return knocks == 1; }, 30s));
}

}  // namespace

TEST_F(SingleInstanceTest, SecondInstanceIsRefusedAndBringsTheFirstForward) { expectFirstAndSecond(); }

TEST_F(SingleInstanceTest, TheNameIsFreeAgainWhenTheFirstEnds) {
    {
        SingleInstance first;
        ASSERT_TRUE(first.claim());
    }
    SingleInstance next;
    EXPECT_TRUE(next.claim());
}

TEST_F(SingleInstanceTest, LeftoversOfACrashedInstanceDoNotLockFerrowOut) {
    leaveStaleSocket(SingleInstance::socketPath());
    // A lock file whose process is gone.
    const qint64 deadPid = unusedPid();
    ASSERT_GT(deadPid, 0);
    QFile lock(SingleInstance::socketPath() + QStringLiteral(".lock"));
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    lock.write(QByteArray::number(deadPid) + "\nferrow\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    lock.close();

    expectFirstAndSecond();
}

TEST_F(SingleInstanceTest, ARuntimeFolderThatCannotHoldTheLockDoesNotKeepFerrowFromStarting) {
    // The folder's place is taken by a file.
    QFile blocker(SingleInstance::folder());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    SingleInstance only;
    EXPECT_TRUE(only.claim());
}
