#pragma once

#include <cstdint>
#include <map>
#include <optional>

namespace platform::com {

// 32-bit handles a client may send back (group handles, cookies): numbers from this table, looked up,
// never turned into pointers. Handles start at 1, are never 0 and are not reused while the counter has
// not wrapped. Not locked: the owner guards it.
template <class T>
class HandleTable {
  public:
    // 0 only when every 32-bit handle is taken.
    std::uint32_t add(T value) {
        if (entries_.size() >= kMaxEntries) return 0;
        while (next_ == 0 || entries_.count(next_)) ++next_;
        const std::uint32_t handle = next_++;
        entries_.emplace(handle, std::move(value));
        return handle;
    }
    T* find(std::uint32_t handle) {
        auto it = entries_.find(handle);
        return it == entries_.end() ? nullptr : &it->second;
    }
    std::optional<T> remove(std::uint32_t handle) {
        auto it = entries_.find(handle);
        if (it == entries_.end()) return std::nullopt;
        std::optional<T> value(std::move(it->second));
        entries_.erase(it);
        return value;
    }
    // The first entry whose handle is above `handle`: walks that survive removals between steps.
    auto after(std::uint32_t handle) { return entries_.upper_bound(handle); }
    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    auto begin() { return entries_.begin(); }
    auto end() { return entries_.end(); }
    auto begin() const { return entries_.begin(); }
    auto end() const { return entries_.end(); }
    void clear() { entries_.clear(); }

  private:
    static constexpr std::size_t kMaxEntries = 0xFFFFFFFEu;
    std::map<std::uint32_t, T> entries_;
    std::uint32_t next_ = 1;
};

}  // namespace platform::com
