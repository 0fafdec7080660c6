// The session service set: CreateSession, ActivateSession, CloseSession and Cancel.
#include <algorithm>
#include <cmath>

#include "ferrow/ua/node_ids.h"
#include "ferrow/ua/random_bytes.h"
#include "ferrow/ua/server_core.h"
#include "ferrow/ua/status_codes.h"
#include "ferrow/ua/transport_limits.h"

namespace ferrow::ua {

namespace {
constexpr std::size_t kNonceLength = 32;
}

void UaServerCore::createSession(RequestContext& context, CreateSessionRequest& request) {
    if (sessions_.size() >= limits::kMaxSessions) return fault(context, status::BadTooManySessions);
    auto session = std::make_unique<Session>();
    session->sessionId = NodeId(1, nextSessionNumber_++);
    session->authenticationToken = NodeId::opaqueId(1, randomBytes(kNonceLength));
    session->name = request.sessionName.substr(0, 256);
    const double requested =
        std::isfinite(request.requestedSessionTimeout) ? request.requestedSessionTimeout : 0;
    session->timeout = std::chrono::milliseconds(static_cast<std::int64_t>(std::clamp<double>(
        requested, double(limits::kMinSessionTimeout.count()), double(limits::kMaxSessionTimeout.count()))));
    session->lastActivity = Clock::now();
    session->connectionId = context.connectionId;

    CreateSessionResponse response;
    response.sessionId = session->sessionId;
    response.authenticationToken = session->authenticationToken;
    response.revisedSessionTimeout = double(session->timeout.count());
    response.serverNonce = ByteString(randomBytes(kNonceLength));
    response.serverEndpoints = endpoints();
    response.maxRequestMessageSize = limits::kMaxMessageSize;
    sessions_.emplace(session->authenticationToken, std::move(session));
    reply(context, id::CreateSessionResponse, response);
}

void UaServerCore::activateSession(RequestContext& context, ActivateSessionRequest& request) {
    const auto it = sessions_.find(context.header.authenticationToken);
    if (it == sessions_.end()) return fault(context, status::BadSessionIdInvalid);
    Session& session = *it->second;
    // A session not yet activated belongs to the channel that created it; an activated one may move to
    // a new channel (a client reconnecting), since without security any channel is as good as another.
    if (!session.activated && session.connectionId != context.connectionId)
        return fault(context, status::BadSecureChannelIdInvalid);

    const ExtensionObject& token = request.userIdentityToken;
    const bool anonymous = token.body == ExtensionObject::Body::None ||
                           token.typeId == NodeId::numericId(id::AnonymousIdentityToken);
    if (!anonymous) {
        const bool known = token.typeId == NodeId::numericId(id::UserNameIdentityToken) ||
                           token.typeId == NodeId::numericId(id::X509IdentityToken);
        return fault(context, known ? status::BadIdentityTokenRejected : status::BadIdentityTokenInvalid);
    }
    if (token.body == ExtensionObject::Body::Binary) {
        AnonymousIdentityToken anonymousToken;
        BinaryDecoder decoder(token.bytes);
        decoder(anonymousToken);
        if (!anonymousToken.policyId.empty() && anonymousToken.policyId != "anonymous")
            return fault(context, status::BadIdentityTokenInvalid);
    }

    if (session.activated && session.connectionId != context.connectionId) session.publishRequests.clear();
    session.activated = true;
    session.connectionId = context.connectionId;
    session.lastActivity = Clock::now();
    ActivateSessionResponse response;
    response.serverNonce = ByteString(randomBytes(kNonceLength));
    reply(context, id::ActivateSessionResponse, response);
}

void UaServerCore::closeSessionService(RequestContext& context, CloseSessionRequest& request) {
    const NodeId token = context.session->authenticationToken;
    context.session = nullptr;
    closeSession(token, request.deleteSubscriptions);
    HeaderOnlyResponse response;
    reply(context, id::CloseSessionResponse, response);
}

void UaServerCore::cancel(RequestContext& context, CancelRequest& request) {
    CancelResponse response;
    auto& queue = context.session->publishRequests;
    std::vector<PendingPublish> cancelled;
    for (auto it = queue.begin(); it != queue.end();) {
        if (it->requestHandle == request.requestHandle) {
            cancelled.push_back(std::move(*it));
            it = queue.erase(it);
        } else {
            ++it;
        }
    }
    // Answered once out of the queue: an answer may end a connection, which empties it.
    for (const PendingPublish& publish : cancelled) {
        RequestContext answer;
        answer.connectionId = publish.connectionId;
        answer.requestId = publish.requestId;
        answer.header.requestHandle = publish.requestHandle;
        fault(answer, status::BadRequestCancelledByClient);
    }
    response.cancelCount = static_cast<std::uint32_t>(cancelled.size());
    reply(context, id::CancelResponse, response);
}

}  // namespace ferrow::ua
