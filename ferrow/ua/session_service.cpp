// The session service set: CreateSession, ActivateSession, CloseSession and Cancel.
#include <algorithm>
#include <cmath>

#include "ferrow/ua/certificate.h"
#include "ferrow/ua/node_ids.h"
#include "ferrow/ua/pki_store.h"
#include "ferrow/ua/random_bytes.h"
#include "ferrow/ua/security_policy.h"
#include "ferrow/ua/server_core.h"
#include "ferrow/ua/session_crypto.h"
#include "ferrow/ua/status_codes.h"
#include "ferrow/ua/transport_limits.h"
#include "ferrow/ua/user_identity.h"

namespace ferrow::ua {

namespace {
constexpr std::size_t kNonceLength = 32;
}

const SecureChannel* UaServerCore::channelOf(const RequestContext& context) const {
    const UaConnection* connection = environment_.findConnection(context.connectionId);
    return connection ? connection->channel() : nullptr;
}

void UaServerCore::createSession(RequestContext& context, CreateSessionRequest& request) {
    if (sessions_.size() >= limits::kMaxSessions) return fault(context, status::BadTooManySessions);
    const SecureChannel* channel = channelOf(context);
    if (!channel) return;  // the connection went while the request waited
    const bool secured = channel->securityMode() != MessageSecurityMode::None;
    if (secured) {
        if (request.clientNonce.bytes.size() < kNonceLength) return fault(context, status::BadNonceInvalid);
        // The session belongs to the application that opened the channel, and says so in its certificate.
        if (request.clientCertificate.bytes != channel->peerCertificate())
            return fault(context, status::BadCertificateInvalid);
        const auto chain = Certificate::chainFromDer(request.clientCertificate.bytes);
        if (chain.empty() || !applicationUriMatches(chain.front(), request.clientDescription.applicationUri))
            return fault(context, status::BadCertificateUriInvalid);
    }

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
    session->serverNonce = randomBytes(kNonceLength);
    if (secured) session->clientCertificate = channel->peerCertificate();

    CreateSessionResponse response;
    response.sessionId = session->sessionId;
    response.authenticationToken = session->authenticationToken;
    response.revisedSessionTimeout = double(session->timeout.count());
    response.serverNonce = ByteString(session->serverNonce);
    response.serverEndpoints = endpoints();
    response.maxRequestMessageSize = limits::kMaxMessageSize;
    if (const ChannelSecurityConfig* security = environment_.security.get();
        security && security->privateKey) {
        response.serverCertificate = ByteString(security->certificateDer);
        if (secured) {
            const SecurityPolicy& policy = channel->securityPolicy();
            response.serverSignature = {
                std::string(policy.asymmetricSignatureUri),
                ByteString(sessionSignature(policy, security->privateKey.get(),
                                            request.clientCertificate.bytes, request.clientNonce.bytes))};
        }
    }
    sessions_.emplace(session->authenticationToken, std::move(session));
    reply(context, id::CreateSessionResponse, response);
}

std::uint32_t UaServerCore::checkClientSignature(const SecureChannel& channel, const Session& session,
                                                 const SignatureData& signature) const {
    // A session moves only to a channel of the application that created it: one created on a secured
    // channel never to one without security.
    if (channel.peerCertificate() != session.clientCertificate) return status::BadSecurityChecksFailed;
    if (channel.securityMode() == MessageSecurityMode::None) return status::Good;
    const SecurityPolicy& policy = channel.securityPolicy();
    const ChannelSecurityConfig* security = environment_.security.get();
    if (!security || signature.algorithm != policy.asymmetricSignatureUri ||
        !verifySessionSignature(policy, session.clientCertificate, security->certificateDer,
                                session.serverNonce, signature.signature.bytes))
        return status::BadApplicationSignatureInvalid;
    return status::Good;
}

std::variant<std::string, std::uint32_t> UaServerCore::passwordOf(const SecureChannel& channel,
                                                                  const UserIdentity& identity,
                                                                  const Session& session) const {
    const ChannelSecurityConfig* security = environment_.security.get();
    if (!environment_.users.checkPassword || !security || !security->privateKey)
        return status::BadIdentityTokenRejected;
    // A password travels only encrypted: by the channel, or by the token's own policy.
    if (identity.encryptionAlgorithm.empty()) {
        if (channel.securityMode() != MessageSecurityMode::SignAndEncrypt)
            return status::BadIdentityTokenRejected;
        return identity.password;
    }
    const SecurityPolicy& policy = channel.securityMode() == MessageSecurityMode::None
                                       ? *findSecurityPolicy(kUserTokenSecurityPolicy)
                                       : channel.securityPolicy();
    if (identity.encryptionAlgorithm != policy.asymmetricEncryptionUri)
        return status::BadIdentityTokenInvalid;
    auto password =
        decryptUserTokenSecret(policy, security->privateKey.get(), identity.password, session.serverNonce);
    if (!password) return status::BadIdentityTokenInvalid;
    return std::move(*password);
}

void UaServerCore::activateSession(RequestContext& context, ActivateSessionRequest& request) {
    const auto it = sessions_.find(context.header.authenticationToken);
    if (it == sessions_.end()) return fault(context, status::BadSessionIdInvalid);
    Session& session = *it->second;
    // A session not yet activated belongs to the channel that created it; an activated one may move to
    // a new channel of the same client (a client reconnecting).
    if (!session.activated && session.connectionId != context.connectionId)
        return fault(context, status::BadSecureChannelIdInvalid);
    if (session.activationPending) return fault(context, status::BadTooManyOperations);
    const UaConnection* connection = environment_.findConnection(context.connectionId);
    const SecureChannel* channel = connection ? connection->channel() : nullptr;
    if (!channel) return;
    if (const std::uint32_t refused = checkClientSignature(*channel, session, request.clientSignature))
        return fault(context, refused);

    auto decoded = decodeUserIdentity(request.userIdentityToken);
    if (const auto* refused = std::get_if<std::uint32_t>(&decoded)) return fault(context, *refused);
    const UserIdentity& identity = std::get<UserIdentity>(decoded);
    if (!identity.anonymous) {
        // Guesses from a client that guessed wrong lately wait their turn, one at a time per session.
        const std::string client = connection->peerAddress();
        if (const auto wait = logins_.waitBefore(client, Clock::now()); wait.count() > 0) {
            session.activationPending = true;
            environment_.postAfter(
                wait, [this, alive = std::weak_ptr<bool>(alive_), context, request]() mutable {
                    if (!alive.lock()) return;
                    if (const auto again = sessions_.find(context.header.authenticationToken);
                        again != sessions_.end())
                        again->second->activationPending = false;
                    activateSession(context, request);
                });
            return;
        }
        auto password = passwordOf(*channel, identity, session);
        if (const auto* refused = std::get_if<std::uint32_t>(&password)) return fault(context, *refused);
        if (!environment_.users.checkPassword(identity.userName, std::get<std::string>(password))) {
            logins_.onFailure(client, Clock::now());
            return fault(context, status::BadUserAccessDenied);
        }
        logins_.onSuccess(client);
    }

    if (session.activated && session.connectionId != context.connectionId) session.publishRequests.clear();
    session.activated = true;
    session.connectionId = context.connectionId;
    session.lastActivity = Clock::now();
    session.userName = identity.userName;
    session.mayWrite = !identity.anonymous || environment_.users.anonymousWrite;
    session.serverNonce = randomBytes(kNonceLength);
    ActivateSessionResponse response;
    response.serverNonce = ByteString(session.serverNonce);
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
