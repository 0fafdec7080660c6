#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ferrow {

// Byte-wise comparison ignoring ASCII case (letters folded to lower case): <0, 0, >0.
int compareNoCase(std::string_view a, std::string_view b);
inline bool equalNoCase(std::string_view a, std::string_view b) { return compareNoCase(a, b) == 0; }

// Inserts before the first element whose name compares greater ignoring case, so equal names keep
// their insertion order. Returns the position used.
template <typename T>
std::size_t insertByName(std::vector<std::unique_ptr<T>>& list, std::unique_ptr<T> item) {
    std::size_t at = 0;
    while (at < list.size() && compareNoCase(list[at]->m_strName, item->m_strName) <= 0) ++at;
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(at), std::move(item));
    return at;
}

// The same for a list that is known to be in name order (a device's tags, which only AddTag inserts):
// a binary search finds the same place.
template <typename T>
std::size_t insertIntoSorted(std::vector<std::unique_ptr<T>>& list, std::unique_ptr<T> item) {
    const auto at = std::upper_bound(
        list.begin(), list.end(), item->m_strName,
        [](const std::string& name, const auto& e) { return compareNoCase(name, e->m_strName) < 0; });
    const auto index = static_cast<std::size_t>(at - list.begin());
    list.insert(at, std::move(item));
    return index;
}

}  // namespace ferrow
