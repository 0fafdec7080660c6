#include "ferrow/ua/server_core.h"

#include "ferrow/ua/base_nodes.h"
#include "ferrow/ua/node_ids.h"
#include "ferrow/ua/status_codes.h"
#include "ferrow/ua/subscription_engine.h"
#include "ferrow/ua/transport_limits.h"

namespace ferrow::ua {

UaServerCore::UaServerCore(UaDataSource& source, ServerInfo info, Environment environment)
    : source_(source), info_(std::move(info)), environment_(std::move(environment)) {
    if (info_.startTime.ticks == 0) info_.startTime = DateTime::now();
    addBaseNodes(space_, info_);
    subscriptions_ = std::make_unique<SubscriptionEngine>(*this, source_, space_);
    registerServices();
    std::weak_ptr<bool> alive = alive_;
    source_.setConfigurationListener([this, alive, post = environment_.post] {
        post([this, alive] {
            if (alive.lock()) reloadConfiguration();
        });
    });
    reloadConfiguration();
}

UaServerCore::~UaServerCore() {
    source_.setConfigurationListener({});
    alive_.reset();
    subscriptions_.reset();  // ends every watch
}

UaServerCore::Poster UaServerCore::poster() const {
    return [alive = std::weak_ptr<bool>(alive_), post = environment_.post](std::function<void()> fn) {
        post([alive, fn = std::move(fn)] {
            if (alive.lock()) fn();
        });
    };
}

void UaServerCore::reloadConfiguration() {
    space_.setDevices(source_.devices());
    subscriptions_->onAddressSpaceChanged();
}

template <class Request>
void UaServerCore::route(std::uint32_t typeId, void (UaServerCore::*serve)(RequestContext&, Request&),
                         bool needsSession) {
    // The whole request is decoded before anything else, so that a malformed one ends its connection
    // whatever session it names.
    services_[typeId] = [this, serve, needsSession, typeId](BinaryDecoder& decoder, RequestContext& context) {
        Request request;
        decoder(request);
        decoder.expectEnd();
        if (needsSession && !attachSession(context, typeId != id::CloseSessionRequest)) return;
        (this->*serve)(context, request);
    };
}

void UaServerCore::registerServices() {
    route(id::GetEndpointsRequest, &UaServerCore::getEndpoints, false);
    route(id::FindServersRequest, &UaServerCore::findServers, false);
    route(id::CreateSessionRequest, &UaServerCore::createSession, false);
    route(id::ActivateSessionRequest, &UaServerCore::activateSession, false);
    route(id::CloseSessionRequest, &UaServerCore::closeSessionService);
    route(id::CancelRequest, &UaServerCore::cancel);
    route(id::BrowseRequest, &UaServerCore::browse);
    route(id::BrowseNextRequest, &UaServerCore::browseNext);
    route(id::TranslateBrowsePathsRequest, &UaServerCore::translateBrowsePaths);
    route(id::RegisterNodesRequest, &UaServerCore::registerNodes);
    route(id::UnregisterNodesRequest, &UaServerCore::unregisterNodes);
    route(id::ReadRequest, &UaServerCore::read);
    route(id::WriteRequest, &UaServerCore::write);
    route(id::CreateSubscriptionRequest, &UaServerCore::createSubscription);
    route(id::ModifySubscriptionRequest, &UaServerCore::modifySubscription);
    route(id::SetPublishingModeRequest, &UaServerCore::setPublishingMode);
    route(id::DeleteSubscriptionsRequest, &UaServerCore::deleteSubscriptions);
    route(id::PublishRequest, &UaServerCore::publish);
    route(id::RepublishRequest, &UaServerCore::republish);
    route(id::CreateMonitoredItemsRequest, &UaServerCore::createMonitoredItems);
    route(id::ModifyMonitoredItemsRequest, &UaServerCore::modifyMonitoredItems);
    route(id::SetMonitoringModeRequest, &UaServerCore::setMonitoringMode);
    route(id::DeleteMonitoredItemsRequest, &UaServerCore::deleteMonitoredItems);
}

void UaServerCore::onRequest(UaConnection& connection, AssembledRequest request) {
    RequestContext context;
    context.connectionId = connection.id();
    context.requestId = request.requestId;
    try {
        {
            BinaryDecoder headerDecoder(request.body);
            headerDecoder(context.header);
        }
        if (request.tooLarge) return fault(context, status::BadRequestTooLarge);
        const auto service = services_.find(request.typeId);
        // Any other service, standard or not, is refused by its request header alone.
        if (service == services_.end()) return fault(context, status::BadServiceUnsupported);
        BinaryDecoder decoder(request.body);
        service->second(decoder, context);
    } catch (const DecodeError& e) {
        connection.abort(request.tooLarge ? status::BadRequestTooLarge : e.status(), e.what());
    }
}

bool UaServerCore::attachSession(RequestContext& context, bool needsActivation) {
    const auto it = sessions_.find(context.header.authenticationToken);
    if (it == sessions_.end()) {
        fault(context, status::BadSessionIdInvalid);
        return false;
    }
    Session& session = *it->second;
    if (session.connectionId != context.connectionId) {
        fault(context, status::BadSecureChannelIdInvalid);
        return false;
    }
    if (needsActivation && !session.activated) {
        fault(context, status::BadSessionNotActivated);
        return false;
    }
    session.lastActivity = Clock::now();
    context.session = &session;
    return true;
}

void UaServerCore::onChannelEnded(UaConnection& connection) {
    // Sessions outlive their connection until their timeout, so that a client can activate them again
    // on a new channel; what waited for an answer on this connection is dropped.
    for (auto& [token, session] : sessions_) {
        if (session->connectionId != connection.id()) continue;
        session->connectionId = 0;
        session->publishRequests.clear();
    }
}

void UaServerCore::onHousekeeping(Clock::time_point now) {
    std::vector<NodeId> expired;
    for (const auto& [token, session] : sessions_)
        if (now - session->lastActivity >= session->timeout) expired.push_back(token);
    for (const NodeId& token : expired) closeSession(token, true);
    subscriptions_->onHousekeeping(now);
}

void UaServerCore::closeSession(const NodeId& authenticationToken, bool deleteSubscriptions) {
    (void)deleteSubscriptions;  // subscriptions cannot be transferred, so they go with their session
    const auto it = sessions_.find(authenticationToken);
    if (it == sessions_.end()) return;
    Session& session = *it->second;
    // Answering may end a connection, which empties the queue: answer from a copy.
    const auto waiting = std::move(session.publishRequests);
    session.publishRequests.clear();
    for (const PendingPublish& publish : waiting) {
        RequestContext context;
        context.connectionId = publish.connectionId;
        context.requestId = publish.requestId;
        context.header.requestHandle = publish.requestHandle;
        fault(context, status::BadSessionClosed);
    }
    subscriptions_->deleteSessionSubscriptions(session);
    sessions_.erase(it);
}

void UaServerCore::fillHeader(const RequestContext& context, ResponseHeader& header,
                              std::uint32_t serviceResult) {
    header.timestamp = DateTime::now();
    header.requestHandle = context.header.requestHandle;
    header.serviceResult = StatusCode{serviceResult};
}

void UaServerCore::send(const RequestContext& context, std::uint32_t typeId, const std::string& body) {
    if (UaConnection* connection = environment_.findConnection(context.connectionId))
        connection->sendResponse(context.requestId, context.header.requestHandle, typeId, body);
}

void UaServerCore::fault(const RequestContext& context, std::uint32_t status) {
    ServiceFault response;
    reply(context, id::ServiceFault, response, status);
}

bool UaServerCore::checkOperationCount(const RequestContext& context, std::size_t count) {
    if (count == 0) {
        fault(context, status::BadNothingToDo);
        return false;
    }
    if (count > limits::kMaxOperationsPerCall) {
        fault(context, status::BadTooManyOperations);
        return false;
    }
    return true;
}

}  // namespace ferrow::ua
