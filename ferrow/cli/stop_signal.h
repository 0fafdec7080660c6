#pragma once

#include <atomic>

namespace ferrow::cli {

// A pipe whose read end becomes readable once it is raised: a wait on several events with poll(). Raising
// is async-signal-safe and never blocks.
class WakePipe {
  public:
    WakePipe();
    ~WakePipe();
    WakePipe(const WakePipe&) = delete;
    WakePipe& operator=(const WakePipe&) = delete;

    bool valid() const { return fds_[0] >= 0; }
    int readFd() const { return fds_[0]; }
    void raise() const;
    // Empties the pipe, so that the next poll waits again.
    void drain() const;

  private:
    int fds_[2] = {-1, -1};
};

// "Stop now", from another thread or from SIGINT/SIGTERM: ends a watch, which then releases what it made.
class StopSignal {
  public:
    StopSignal() = default;
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;
    ~StopSignal();

    void raise() const;
    bool raised() const { return raised_.load(); }
    int fd() const { return pipe_.readFd(); }
    bool valid() const { return pipe_.valid(); }

    // Makes SIGINT and SIGTERM raise this signal; a second one ends the process as usual, for a client
    // whose clean-up hangs. One signal object per process receives them.
    void receiveTerminationSignals();

  private:
    WakePipe pipe_;
    mutable std::atomic<bool> raised_{false};
};

}  // namespace ferrow::cli
