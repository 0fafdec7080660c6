#pragma once

#include <string>

#include "ferrow/ua/builtin_types.h"

namespace ferrow::ua {

// What the endpoint says of itself: its application description and build information.
struct ServerInfo {
    std::string hostname = "localhost";
    std::string applicationUri;  // urn:<hostname>:Quillon:Ferrow unless set
    std::string productUri = "urn:quillon:ferrow";
    std::string productName = "Ferrow";
    std::string manufacturerName = "Quillon";
    std::string softwareVersion;
    std::string buildNumber;
    DateTime buildDate;
    DateTime startTime;

    std::string effectiveApplicationUri() const {
        return applicationUri.empty() ? "urn:" + hostname + ":Quillon:Ferrow" : applicationUri;
    }
};

}  // namespace ferrow::ua
