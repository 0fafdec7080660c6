#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace ferrow::opc {

// A gate one thread holds at a time: a waiter gives up after a limit (so a client's thread never waits
// for ever behind a sink that does not return), and the thread holding it may enter again (a sink that
// activates its group from inside a callback does not wait at all). Any thread; its lock is a leaf.
class SendGate {
  public:
    // False when another thread still held the gate at the limit.
    bool enter(std::chrono::milliseconds limit);
    // Once per successful enter, on the thread that entered.
    void leave();

    // The gate held for a scope, when it could be entered within the limit.
    class Turn {
      public:
        Turn(SendGate& gate, std::chrono::milliseconds limit) : gate_(gate), entered_(gate.enter(limit)) {}
        ~Turn() {
            if (entered_) gate_.leave();
        }
        Turn(const Turn&) = delete;
        Turn& operator=(const Turn&) = delete;
        bool entered() const { return entered_; }

      private:
        SendGate& gate_;
        bool entered_;
    };

  private:
    std::mutex lock_;
    std::condition_variable free_;
    std::thread::id holder_;
    int depth_ = 0;
};

}  // namespace ferrow::opc
