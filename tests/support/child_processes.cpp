#include "tests/support/child_processes.h"

#include <dirent.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace testsupport {

namespace {

using namespace std::chrono_literals;

// The processes whose parent is this one, read from /proc (at most `capacity`).
int childrenOf(pid_t parent, pid_t* found, int capacity) {
    DIR* proc = ::opendir("/proc");
    if (!proc) return 0;
    int count = 0;
    while (const dirent* entry = ::readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0') continue;
        char path[64];
        std::snprintf(path, sizeof path, "/proc/%ld/stat", pid);
        FILE* stat = std::fopen(path, "re");
        if (!stat) continue;
        // "pid (name) state ppid": the name may hold spaces and parentheses, so read from the last ')'.
        char line[512] = {};
        const size_t got = std::fread(line, 1, sizeof line - 1, stat);
        std::fclose(stat);
        line[got] = '\0';
        const char* close = nullptr;
        for (const char* p = line; *p; ++p)
            if (*p == ')') close = p;
        char state = 0;
        long ppid = 0;
        if (close && std::sscanf(close + 1, " %c %ld", &state, &ppid) == 2 && ppid == parent &&
            count < capacity)
            found[count++] = static_cast<pid_t>(pid);
    }
    ::closedir(proc);
    return count;
}

bool reaped(pid_t pid) {
    const pid_t done = ::waitpid(pid, nullptr, WNOHANG);
    return done == pid || (done < 0 && errno == ECHILD);
}

void killAllChildrenNow() {
    pid_t children[256];
    for (int round = 0; round < 8; ++round) {
        const int count = childrenOf(::getpid(), children, 256);
        if (count == 0) return;
        for (int i = 0; i < count; ++i) ::kill(children[i], SIGKILL);
        for (int i = 0; i < count; ++i) ::waitpid(children[i], nullptr, 0);
    }
}

void onFatalSignal(int signal) {
    killAllChildrenNow();
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

}  // namespace

void adoptOrphans() {
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) {
        struct sigaction action = {};
        action.sa_handler = onFatalSignal;
        action.sa_flags = SA_RESETHAND;
        ::sigaction(signal, &action, nullptr);
    }
}

void endChildProcesses(std::chrono::milliseconds grace) {
    std::vector<pid_t> children(256);
    for (int round = 0; round < 8; ++round) {
        const int count = childrenOf(::getpid(), children.data(), static_cast<int>(children.size()));
        if (count == 0) return;
        for (int i = 0; i < count; ++i) ::kill(children[i], SIGTERM);
        for (int i = 0; i < count; ++i) {
            const auto end = std::chrono::steady_clock::now() + grace;
            while (!reaped(children[i]) && std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(5ms);
            if (!reaped(children[i])) {
                ::kill(children[i], SIGKILL);
                ::waitpid(children[i], nullptr, 0);
            }
        }
    }
}

}  // namespace testsupport
