#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "ferrow/ua/builtin_types.h"

namespace ferrow::ua {

// The ids of the user token policies the endpoint offers.
inline constexpr const char* kAnonymousPolicyId = "anonymous";
inline constexpr const char* kUserNamePolicyId = "username";
// What a password is encrypted with when the channel it travels on has no security.
inline constexpr std::string_view kUserTokenSecurityPolicy =
    "http://opcfoundation.org/UA/SecurityPolicy#Basic256Sha256";

// The user identity token of an ActivateSession request, decoded.
struct UserIdentity {
    bool anonymous = true;
    std::string userName;
    std::string password;             // as sent: encrypted unless `encryptionAlgorithm` is empty
    std::string encryptionAlgorithm;  // the asymmetric encryption URI the client used, or empty
};

// The token as an identity, or the status that refuses it: BadIdentityTokenInvalid for a malformed
// token or one of a policy not offered, BadIdentityTokenRejected for a kind of token not accepted here.
std::variant<UserIdentity, std::uint32_t> decodeUserIdentity(const ExtensionObject& token);

}  // namespace ferrow::ua
