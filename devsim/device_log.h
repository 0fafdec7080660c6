#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace devsim {

// What the simulated device received and did, one line per event ("shell 127.0.0.1:40000 < ip get").
// Thread-safe: services append on the device thread; tests read and wait on theirs. Listeners (the
// debug-message stream, the program's console) are called on the appending thread. Keeps the newest
// kMaxEntries lines.
class DeviceLog {
  public:
    static constexpr std::size_t kMaxEntries = 5000;
    using Listener = std::function<void(const std::string& line)>;

    void append(std::string line);
    std::vector<std::string> entries() const;
    // The newest entries as one text, each line ended by CR LF (the shell's "log" answer).
    std::string tail(std::size_t count) const;
    void clear();
    // Waits up to `limit` for an entry that contains `fragment`; true when one is there.
    bool waitFor(const std::string& fragment, std::chrono::milliseconds limit) const;
    bool contains(const std::string& fragment) const;

    int addListener(Listener listener);
    void removeListener(int id);

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::deque<std::string> entries_;
    std::vector<std::pair<int, Listener>> listeners_;
    int nextListener_ = 1;
};

}  // namespace devsim
