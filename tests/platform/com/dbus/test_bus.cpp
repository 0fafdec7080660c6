#include "tests/platform/com/dbus/test_bus.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "tests/pavane/private_bus.h"
#include "tests/support/child_processes.h"

extern char** environ;

namespace bustest {

namespace {
using namespace std::chrono_literals;

// Waits for `pid` to end, at most `limit`; true when it did (and was reaped).
bool reap(pid_t pid, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const pid_t done = ::waitpid(pid, nullptr, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR)) return true;
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(5ms);
    }
}

// The first line `fd` delivers within `limit`, without its line end; empty on silence or end of file.
QString readLine(int fd, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    std::string line;
    while (line.size() < 4096) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return {};
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return {};
        char c = 0;
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return {};
        if (c == '\n') return QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())).trimmed();
        line += c;
    }
    return {};
}
}  // namespace

TestBus::TestBus(const QString& serviceDir) {
    const QString config = testsupport::PrivateBus::writeConfig(serviceDir);
    if (config.isEmpty()) return;
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) return;
    const std::string configArg = "--config-file=" + config.toStdString();
    std::vector<std::string> args{"dbus-daemon", configArg, "--nofork", "--print-address=1"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], STDOUT_FILENO);
    pid_t pid = -1;
    const int failed = ::posix_spawnp(&pid, "dbus-daemon", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);
    output_ = pipe[0];
    if (failed) return;
    pid_ = pid;
    address_ = readLine(output_, 30s);
    if (address_.isEmpty()) stop();
}

TestBus::~TestBus() { stop(); }

void TestBus::stop() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        if (!reap(pid_, 3s)) {
            ::kill(pid_, SIGKILL);
            reap(pid_, 3s);
        }
        pid_ = -1;
    }
    if (output_ >= 0) ::close(output_);
    output_ = -1;
    // Servers the bus started and a failed test left behind end with it.
    testsupport::endChildProcesses();
}

}  // namespace bustest
