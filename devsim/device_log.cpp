#include "devsim/device_log.h"

#include <algorithm>

namespace devsim {

void DeviceLog::append(std::string line) {
    std::vector<Listener> listeners;
    {
        std::lock_guard lock(mutex_);
        entries_.push_back(line);
        if (entries_.size() > kMaxEntries) entries_.pop_front();
        for (const auto& [id, listener] : listeners_) listeners.push_back(listener);
    }
    changed_.notify_all();
    for (const auto& listener : listeners) listener(line);
}

std::vector<std::string> DeviceLog::entries() const {
    std::lock_guard lock(mutex_);
    return {entries_.begin(), entries_.end()};
}

std::string DeviceLog::tail(std::size_t count) const {
    std::lock_guard lock(mutex_);
    const std::size_t first = entries_.size() > count ? entries_.size() - count : 0;
    std::string text;
    for (std::size_t i = first; i < entries_.size(); ++i) text += entries_[i] + "\r\n";
    return text;
}

void DeviceLog::clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
}

bool DeviceLog::contains(const std::string& fragment) const {
    std::lock_guard lock(mutex_);
    return std::any_of(entries_.begin(), entries_.end(),
                       [&](const std::string& e) { return e.find(fragment) != std::string::npos; });
}

bool DeviceLog::waitFor(const std::string& fragment, std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] {
        return std::any_of(entries_.begin(), entries_.end(),
                           [&](const std::string& e) { return e.find(fragment) != std::string::npos; });
    });
}

int DeviceLog::addListener(Listener listener) {
    std::lock_guard lock(mutex_);
    listeners_.emplace_back(nextListener_, std::move(listener));
    return nextListener_++;
}

void DeviceLog::removeListener(int id) {
    std::lock_guard lock(mutex_);
    std::erase_if(listeners_, [id](const auto& entry) { return entry.first == id; });
}

}  // namespace devsim
