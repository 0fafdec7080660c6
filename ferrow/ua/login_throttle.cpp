#include "ferrow/ua/login_throttle.h"

#include <algorithm>

namespace ferrow::ua {

std::chrono::milliseconds LoginThrottle::waitBefore(const std::string& client, Clock::time_point now) const {
    const auto it = clients_.find(client);
    if (it == clients_.end() || it->second.notBefore <= now) return std::chrono::milliseconds(0);
    return std::chrono::ceil<std::chrono::milliseconds>(it->second.notBefore - now);
}

void LoginThrottle::onFailure(const std::string& client, Clock::time_point now) {
    auto it = clients_.find(client);
    if (it == clients_.end()) {
        makeRoom(now);
        it = clients_.emplace(client, Penalty{now, std::chrono::milliseconds(0)}).first;
    }
    Penalty& penalty = it->second;
    penalty.step = penalty.step.count() == 0 ? kFirstStep : std::min(penalty.step * 2, kLongestStep);
    penalty.notBefore = std::max(penalty.notBefore, now) + penalty.step;
}

void LoginThrottle::makeRoom(Clock::time_point now) {
    if (clients_.size() < kMaxClients) return;
    // Penalties already served first, else the one that ends soonest.
    std::erase_if(clients_, [now](const auto& entry) { return entry.second.notBefore <= now; });
    if (clients_.size() < kMaxClients) return;
    const auto soonest = std::min_element(clients_.begin(), clients_.end(), [](const auto& a, const auto& b) {
        return a.second.notBefore < b.second.notBefore;
    });
    clients_.erase(soonest);
}

}  // namespace ferrow::ua
