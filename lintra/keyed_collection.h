#pragma once

#include <QByteArray>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

namespace lintra {

// The keyed-collection shape the schema classes share: elements kept in arrival order, addressed by
// 1-based position or by an optional key (compared ignoring case), owned by the collection.
template <typename T>
class KeyedCollection {
    using Slot = std::pair<QByteArray, std::unique_ptr<T>>;

  public:
    class iterator {
      public:
        explicit iterator(typename std::vector<Slot>::const_iterator at) : at_(at) {}
        T& operator*() const { return *at_->second; }
        T* operator->() const { return at_->second.get(); }
        iterator& operator++() {
            ++at_;
            return *this;
        }
        bool operator==(const iterator& other) const { return at_ == other.at_; }

      private:
        typename std::vector<Slot>::const_iterator at_;
    };

    int Count() const { return static_cast<int>(items_.size()); }

    // Throws std::out_of_range for a position outside 1..Count or an unknown key.
    T& Item(int index) const {
        if (index < 1 || index > Count()) throw std::out_of_range("collection index out of range");
        return *items_[static_cast<std::size_t>(index - 1)].second;
    }
    T& Item(const QByteArray& key) const { return *items_[slotOf(key)].second; }

    void Remove(int index) {
        Item(index);
        items_.erase(items_.begin() + (index - 1));
    }
    void Remove(const QByteArray& key) {
        items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(slotOf(key)));
    }
    void Clear() { items_.clear(); }

    iterator begin() const { return iterator(items_.cbegin()); }
    iterator end() const { return iterator(items_.cend()); }

  protected:
    // Stores `item` under `key` when the key is not empty. A key already in use throws
    // std::invalid_argument and nothing is added.
    T& store(std::unique_ptr<T> item, const QByteArray& key) {
        if (!key.isEmpty() && findKey(key) >= 0) throw std::invalid_argument("key is already in use");
        items_.emplace_back(key, std::move(item));
        return *items_.back().second;
    }

  private:
    std::ptrdiff_t findKey(const QByteArray& key) const {
        for (std::size_t i = 0; i < items_.size(); ++i)
            if (!items_[i].first.isEmpty() && items_[i].first.compare(key, Qt::CaseInsensitive) == 0)
                return static_cast<std::ptrdiff_t>(i);
        return -1;
    }
    std::size_t slotOf(const QByteArray& key) const {
        const std::ptrdiff_t at = key.isEmpty() ? -1 : findKey(key);
        if (at < 0) throw std::out_of_range("no element with this key");
        return static_cast<std::size_t>(at);
    }

    std::vector<Slot> items_;
};

}  // namespace lintra
