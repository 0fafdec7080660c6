#include "ferrow/ua/user_identity.h"

#include "ferrow/ua/binary_decoder.h"
#include "ferrow/ua/node_ids.h"
#include "ferrow/ua/session_messages.h"
#include "ferrow/ua/status_codes.h"

namespace ferrow::ua {

namespace {

template <class Token>
bool decodeBody(const ExtensionObject& token, Token& out) {
    if (token.body != ExtensionObject::Body::Binary) return false;
    try {
        BinaryDecoder decoder(token.bytes);
        decoder(out);
        decoder.expectEnd();
        return true;
    } catch (const DecodeError&) {
        return false;
    }
}

}  // namespace

std::variant<UserIdentity, std::uint32_t> decodeUserIdentity(const ExtensionObject& token) {
    // No token at all is an anonymous user, as clients of the first profiles send it.
    if (token.body == ExtensionObject::Body::None) return UserIdentity{};
    if (token.typeId == NodeId::numericId(id::AnonymousIdentityToken)) {
        AnonymousIdentityToken anonymous;
        if (!decodeBody(token, anonymous)) return status::BadIdentityTokenInvalid;
        if (!anonymous.policyId.empty() && anonymous.policyId != kAnonymousPolicyId)
            return status::BadIdentityTokenInvalid;
        return UserIdentity{};
    }
    if (token.typeId == NodeId::numericId(id::UserNameIdentityToken)) {
        UserNameIdentityToken userName;
        if (!decodeBody(token, userName) || userName.policyId != kUserNamePolicyId ||
            userName.userName.empty())
            return status::BadIdentityTokenInvalid;
        UserIdentity identity;
        identity.anonymous = false;
        identity.userName = std::move(userName.userName);
        identity.password = std::move(userName.password.bytes);
        identity.encryptionAlgorithm = std::move(userName.encryptionAlgorithm);
        return identity;
    }
    if (token.typeId == NodeId::numericId(id::X509IdentityToken)) return status::BadIdentityTokenRejected;
    return status::BadIdentityTokenInvalid;
}

}  // namespace ferrow::ua
