#pragma once

#include <functional>
#include <map>
#include <memory>
#include <unordered_map>
#include <variant>

#include "ferrow/ua/address_space.h"
#include "ferrow/ua/attribute_messages.h"
#include "ferrow/ua/binary_decoder.h"
#include "ferrow/ua/binary_encoder.h"
#include "ferrow/ua/channel_security_config.h"
#include "ferrow/ua/data_source.h"
#include "ferrow/ua/login_throttle.h"
#include "ferrow/ua/server_info.h"
#include "ferrow/ua/session.h"
#include "ferrow/ua/session_messages.h"
#include "ferrow/ua/subscription_messages.h"
#include "ferrow/ua/tcp_connection.h"
#include "ferrow/ua/user_access.h"
#include "ferrow/ua/user_identity.h"

namespace ferrow::ua {

class SubscriptionEngine;

// What one request came with: where its response goes and the session it runs in.
struct RequestContext {
    std::uint64_t connectionId = 0;
    std::uint32_t requestId = 0;
    RequestHeader header;
    Session* session = nullptr;
};

// The services of the endpoint over its address space and data source. Decodes each request, checks
// its session, serves it and sends the response through the connection it came on, now or (device
// reads, writes, Publish) when the data source or a publishing cycle completes. Every member runs on the
// endpoint's network thread; work that completes on other threads comes back through `post`.
class UaServerCore : public RequestHandler {
  public:
    struct Environment {
        // The live connection with this id, or null.
        std::function<UaConnection*(std::uint64_t)> findConnection;
        // Runs a function on the endpoint's thread later, or after a while.
        std::function<void(std::function<void()>)> post;
        std::function<void(std::chrono::milliseconds, std::function<void()>)> postAfter;
        // Where the endpoint is reached (GetEndpoints answers with it).
        std::string endpointUrl;
        // Our certificate and key and the policies offered; null: security None alone.
        std::shared_ptr<const ChannelSecurityConfig> security;
        UserAccess users;
    };

    UaServerCore(UaDataSource& source, ServerInfo info, Environment environment);
    ~UaServerCore() override;

    void onRequest(UaConnection& connection, AssembledRequest request) override;
    void onChannelEnded(UaConnection& connection) override;
    // Session timeouts and subscription lifetimes; publishing runs on its own timers.
    void onHousekeeping(Clock::time_point now);
    // Rebuilds the device nodes from the data source.
    void reloadConfiguration();

    std::size_t sessionCount() const { return sessions_.size(); }
    void setEndpointUrl(std::string url) { environment_.endpointUrl = std::move(url); }
    const AddressSpace& addressSpace() const { return space_; }

    // Sends `response` with its header filled in for the request.
    template <class Response>
    void reply(const RequestContext& context, std::uint32_t typeId, Response& response,
               std::uint32_t serviceResult = 0) {
        fillHeader(context, response.responseHeader, serviceResult);
        send(context, typeId, encodeBody(response));
    }
    void fault(const RequestContext& context, std::uint32_t status);
    // A function that any thread may call to run `fn` on the endpoint's thread later, unless the core
    // is gone by then. Take it on the endpoint's thread, before handing it to the data source.
    using Poster = std::function<void(std::function<void()>)>;
    Poster poster() const;

  private:
    using Handler = std::function<void(BinaryDecoder&, RequestContext&)>;
    template <class Request>
    void route(std::uint32_t typeId, void (UaServerCore::*serve)(RequestContext&, Request&),
               bool needsSession = true);
    void registerServices();
    bool attachSession(RequestContext& context, bool needsActivation);
    void fillHeader(const RequestContext& context, ResponseHeader& header, std::uint32_t serviceResult);
    void send(const RequestContext& context, std::uint32_t typeId, const std::string& body);
    bool checkOperationCount(const RequestContext& context, std::size_t count);
    void closeSession(const NodeId& authenticationToken, bool deleteSubscriptions);

    // Discovery.
    void getEndpoints(RequestContext& context, GetEndpointsRequest& request);
    void findServers(RequestContext& context, FindServersRequest& request);
    std::vector<EndpointDescription> endpoints() const;
    std::vector<ChannelSecurityConfig::Offer> offeredSecurity() const;
    ApplicationDescription applicationDescription() const;
    // Session.
    void createSession(RequestContext& context, CreateSessionRequest& request);
    void activateSession(RequestContext& context, ActivateSessionRequest& request);
    void closeSessionService(RequestContext& context, CloseSessionRequest& request);
    void cancel(RequestContext& context, CancelRequest& request);
    const SecureChannel* channelOf(const RequestContext& context) const;
    std::uint32_t checkClientSignature(const SecureChannel& channel, const Session& session,
                                       const SignatureData& signature) const;
    // The user's password out of the token, or the status that refuses the token.
    std::variant<std::string, std::uint32_t> passwordOf(const SecureChannel& channel,
                                                        const UserIdentity& identity,
                                                        const Session& session) const;
    // View.
    void browse(RequestContext& context, BrowseRequest& request);
    void browseNext(RequestContext& context, BrowseNextRequest& request);
    void translateBrowsePaths(RequestContext& context, TranslateBrowsePathsRequest& request);
    void registerNodes(RequestContext& context, NodeListRequest& request);
    void unregisterNodes(RequestContext& context, NodeListRequest& request);
    BrowseResult browseOne(Session& session, const BrowseDescription& description,
                           std::uint32_t maxReferences);
    BrowseResult takeReferences(Session& session, ContinuationPoint point);
    // Attribute.
    void read(RequestContext& context, ReadRequest& request);
    void write(RequestContext& context, WriteRequest& request);
    // Subscription and monitored items: handed to the engine.
    void createSubscription(RequestContext& context, CreateSubscriptionRequest& request);
    void modifySubscription(RequestContext& context, ModifySubscriptionRequest& request);
    void setPublishingMode(RequestContext& context, SetPublishingModeRequest& request);
    void deleteSubscriptions(RequestContext& context, SubscriptionListRequest& request);
    void publish(RequestContext& context, PublishRequest& request);
    void republish(RequestContext& context, RepublishRequest& request);
    void createMonitoredItems(RequestContext& context, CreateMonitoredItemsRequest& request);
    void modifyMonitoredItems(RequestContext& context, ModifyMonitoredItemsRequest& request);
    void setMonitoringMode(RequestContext& context, SetMonitoringModeRequest& request);
    void deleteMonitoredItems(RequestContext& context, DeleteMonitoredItemsRequest& request);

    UaDataSource& source_;
    ServerInfo info_;
    Environment environment_;
    AddressSpace space_;
    std::unordered_map<std::uint32_t, Handler> services_;
    std::unordered_map<NodeId, std::unique_ptr<Session>, NodeIdHash> sessions_;  // by authentication token
    std::uint32_t nextSessionNumber_ = 1;
    std::unique_ptr<SubscriptionEngine> subscriptions_;
    LoginThrottle logins_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace ferrow::ua
