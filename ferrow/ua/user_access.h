#pragma once

#include <functional>
#include <string>

namespace ferrow::ua {

// Who may do what on the endpoint. Anonymous sessions browse, read and subscribe; writes need a user
// unless `anonymousWrite` allows them.
struct UserAccess {
    // Whether the password is the user's; unset: no user names are accepted. Called on the endpoint's
    // thread.
    std::function<bool(const std::string& user, const std::string& password)> checkPassword;
    bool anonymousWrite = true;
};

}  // namespace ferrow::ua
