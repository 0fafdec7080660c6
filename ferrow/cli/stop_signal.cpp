#include "ferrow/cli/stop_signal.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace ferrow::cli {

namespace {

std::atomic<const StopSignal*> signalTarget{nullptr};
static_assert(std::atomic<const StopSignal*>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);

void onTerminationSignal(int signalNumber) {
    const int savedErrno = errno;
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    sigemptyset(&defaults.sa_mask);
    sigaction(signalNumber, &defaults, nullptr);
    if (const StopSignal* target = signalTarget.load()) target->raise();
    errno = savedErrno;
}

}  // namespace

WakePipe::WakePipe() {
    if (pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) fds_[0] = fds_[1] = -1;
}

WakePipe::~WakePipe() {
    if (fds_[0] >= 0) close(fds_[0]);
    if (fds_[1] >= 0) close(fds_[1]);
}

void WakePipe::raise() const {
    if (fds_[1] < 0) return;
    const char byte = 1;
    // A full pipe is already readable: nothing is lost when this write fails.
    [[maybe_unused]] const ssize_t written = write(fds_[1], &byte, 1);
}

void WakePipe::drain() const {
    if (fds_[0] < 0) return;
    char bytes[64];
    while (read(fds_[0], bytes, sizeof bytes) > 0) {
    }
}

StopSignal::~StopSignal() {
    const StopSignal* self = this;
    signalTarget.compare_exchange_strong(self, nullptr);
}

void StopSignal::raise() const {
    raised_.store(true);
    pipe_.raise();
}

void StopSignal::receiveTerminationSignals() {
    signalTarget.store(this);
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace ferrow::cli
