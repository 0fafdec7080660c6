#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <utility>

namespace platform::com {

// Numbers shared by several handle tables: a handle live in one of them is live in no other, so a
// handle a client took from one object and hands to another is unknown there rather than one of its
// own. Thread-safe; never destroyed while a table uses it (make it a leaked singleton).
class HandleSpace {
  public:
    // 0 only when every 32-bit handle is taken.
    std::uint32_t take() {
        std::lock_guard lock(lock_);
        if (live_.size() >= kMaxEntries) return 0;
        while (next_ == 0 || live_.count(next_)) ++next_;
        live_.insert(next_);
        return next_++;
    }
    void give(std::uint32_t handle) {
        std::lock_guard lock(lock_);
        live_.erase(handle);
    }
    // The handles live in some table now.
    std::size_t size() {
        std::lock_guard lock(lock_);
        return live_.size();
    }

  private:
    static constexpr std::size_t kMaxEntries = 0xFFFFFFFEu;
    std::mutex lock_;
    std::set<std::uint32_t> live_;
    std::uint32_t next_ = 1;
};

// 32-bit handles a client may send back (group handles, cookies): numbers from this table (or from the
// space it draws on), looked up, never turned into pointers. Handles start at 1, are never 0 and are not
// reused while the counter has not wrapped. Not locked: the owner guards it.
template <class T>
class HandleTable {
  public:
    HandleTable() = default;
    explicit HandleTable(HandleSpace& space) : space_(&space) {}
    HandleTable(const HandleTable&) = delete;
    HandleTable& operator=(const HandleTable&) = delete;
    // The handles go with the entries; the emptied table keeps its space.
    HandleTable(HandleTable&& other) noexcept
        : entries_(std::exchange(other.entries_, {})), next_(other.next_), space_(other.space_) {}
    HandleTable& operator=(HandleTable&& other) noexcept {
        if (this != &other) {
            clear();
            entries_ = std::exchange(other.entries_, {});
            next_ = other.next_;
            space_ = other.space_;
        }
        return *this;
    }
    ~HandleTable() { clear(); }

    // 0 only when every 32-bit handle is taken.
    std::uint32_t add(T value) {
        if (entries_.size() >= kMaxEntries) return 0;
        if (space_) {
            const std::uint32_t handle = space_->take();
            if (handle == 0) return 0;
            try {
                entries_.emplace(handle, std::move(value));
            } catch (...) {
                space_->give(handle);
                throw;
            }
            return handle;
        }
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
        if (space_) space_->give(handle);
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
    void clear() {
        if (space_)
            for (const auto& entry : entries_) space_->give(entry.first);
        entries_.clear();
    }

  private:
    static constexpr std::size_t kMaxEntries = 0xFFFFFFFEu;
    std::map<std::uint32_t, T> entries_;
    std::uint32_t next_ = 1;
    HandleSpace* space_ = nullptr;
};

}  // namespace platform::com
