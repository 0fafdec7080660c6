#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ferrow/ua/common_messages.h"

namespace ferrow::ua {

// What the endpoint offers on its secure channels and the identity it proves itself with. Built once by
// the application before the endpoint starts and shared read-only by every channel; validateCertificate
// is called on the endpoint's network thread.
struct ChannelSecurityConfig {
    struct Offer {
        std::string policyUri;
        MessageSecurityMode mode = MessageSecurityMode::None;
    };

    std::string certificateDer;  // our application instance certificate
    std::shared_ptr<EVP_PKEY> privateKey;
    std::vector<Offer> offered{{std::string(kSecurityPolicyNone), MessageSecurityMode::None}};
    // 0 to accept a client's DER certificate, or the Bad status the channel refuses it with.
    std::function<std::uint32_t(const std::string& certificateDer)> validateCertificate;

    bool offersPolicy(std::string_view uri) const {
        for (const Offer& offer : offered)
            if (offer.policyUri == uri) return true;
        return false;
    }
    bool offers(std::string_view uri, MessageSecurityMode mode) const {
        for (const Offer& offer : offered)
            if (offer.policyUri == uri && offer.mode == mode) return true;
        return false;
    }
};

}  // namespace ferrow::ua
