#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <unordered_map>

#include "ferrow/ua/secure_channel.h"

namespace ferrow::ua {

// Slows down repeated password guesses from one client (keyed by its network address): each failed
// login pushes the client's next accepted attempt further out, by a step that doubles from 250 ms up
// to 8 s; a successful login forgets the client. Attempts that arrive earlier wait, so guesses sent side
// by side are spaced like guesses sent one after the other. The table is bounded: the entry whose penalty
// ends first makes room. Plain state, driven with the time passed in; runs on the endpoint's thread.
class LoginThrottle {
  public:
    static constexpr std::chrono::milliseconds kFirstStep{250};
    static constexpr std::chrono::milliseconds kLongestStep{8000};
    static constexpr std::size_t kMaxClients = 4096;

    // How long an attempt from `client` arriving now must wait before it is checked.
    std::chrono::milliseconds waitBefore(const std::string& client, Clock::time_point now) const;
    void onFailure(const std::string& client, Clock::time_point now);
    void onSuccess(const std::string& client) { clients_.erase(client); }
    std::size_t clientCount() const { return clients_.size(); }

  private:
    struct Penalty {
        Clock::time_point notBefore;
        std::chrono::milliseconds step{0};
    };
    void makeRoom(Clock::time_point now);

    std::unordered_map<std::string, Penalty> clients_;
};

}  // namespace ferrow::ua
