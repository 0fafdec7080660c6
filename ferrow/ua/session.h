#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "ferrow/ua/secure_channel.h"
#include "ferrow/ua/view_messages.h"

namespace ferrow::ua {

// A Publish request waiting for a notification or a keep-alive.
struct PendingPublish {
    std::uint64_t connectionId = 0;
    std::uint32_t requestId = 0, requestHandle = 0;
    std::vector<StatusCode> acknowledgementResults;
};

// References of one Browse that did not fit, kept for BrowseNext.
struct ContinuationPoint {
    std::vector<ReferenceDescription> remaining;
    std::uint32_t maxPerCall = 0;
};

// One client session: its identity, the channel it is activated on, its timeout and what it holds.
struct Session {
    NodeId sessionId, authenticationToken;
    std::string name;
    std::chrono::milliseconds timeout{0};
    Clock::time_point lastActivity;
    bool activated = false;
    std::string serverNonce;         // the last one sent: the client signs it and a password carries it
    std::string clientCertificate;   // DER; empty on a channel without security
    std::string userName;            // empty: anonymous
    bool mayWrite = false;           // whether writes to device outputs are allowed
    bool activationPending = false;  // a login waits out its client's penalty
    std::uint64_t connectionId = 0;  // 0: not bound to a live connection
    std::map<std::string, ContinuationPoint> continuationPoints;
    std::deque<PendingPublish> publishRequests;
    std::vector<std::uint32_t> subscriptionIds;
    std::uint32_t nextContinuationPoint = 1;
};

}  // namespace ferrow::ua
