// Writes the seeds of ua_message_fuzz into the folder named by its argument. Raw streams: one client
// conversation per service request type (HEL, OPN, CreateSession, ActivateSession, then the request),
// with the session token the fuzz target's zero random bytes produce. Framed records: each request's
// fields after its header, numbered as in ua_fuzz_requests.h.
#include <filesystem>
#include <fstream>
#include <iostream>

#include "ferrow/ua/session_messages.h"
#include "ferrow/ua/subscription_messages.h"
#include "ferrow/ua/view_messages.h"
#include "tests/ferrow/ua/wire_client.h"
#include "tests/fuzz/ua_fuzz_requests.h"

using namespace ferrow::ua;

namespace {

const NodeId kCounter = NodeId::stringId(2, "Device1.Counter");

std::string conversation(test::WireClient& client) {
    std::string out = client.hello() + client.open();
    out += client.request(id::CreateSessionRequest, CreateSessionRequest());
    client.authenticationToken = NodeId::opaqueId(1, std::string(32, '\0'));
    out += client.request(id::ActivateSessionRequest, ActivateSessionRequest());
    return out;
}

// One framed record: the type's number, the length and the fields after the request header.
template <class Request>
std::string recordOf(std::uint32_t typeId, const Request& request) {
    std::size_t number = 0;
    while (number < fuzz::kRequestTypeCount && fuzz::kRequestTypes[number] != typeId) ++number;
    const std::string fields = encodeBody(request).substr(encodeBody(request.requestHeader).size());
    std::string record(1, static_cast<char>(number));
    record += static_cast<char>(fields.size() & 0xFF);
    record += static_cast<char>(fields.size() >> 8);
    return record + fields;
}

std::string framedSeeds;  // every record, also written as one seed

template <class Request>
std::string seedOf(std::uint32_t typeId, Request request, bool withSubscription = false) {
    framedSeeds += recordOf(typeId, request);
    test::WireClient client;
    std::string out = conversation(client);
    if (withSubscription) {
        CreateSubscriptionRequest subscribe;
        subscribe.requestedPublishingInterval = 10;
        out += client.request(id::CreateSubscriptionRequest, subscribe);
        CreateMonitoredItemsRequest monitor;
        monitor.subscriptionId = 1;
        MonitoredItemCreateRequest item;
        item.itemToMonitor.nodeId = kCounter;
        monitor.itemsToCreate.push_back(item);
        out += client.request(id::CreateMonitoredItemsRequest, monitor);
    }
    out += client.request(typeId, std::move(request));
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: " << argv[0] << " <folder>\n";
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);
    auto write = [&folder](const std::string& name, const std::string& bytes) {
        std::ofstream(folder / name, std::ios::binary) << char(64) << bytes;  // first byte: piece size 65
    };

    ReadRequest read;
    read.nodesToRead = {
        {kCounter, 13, {}, {}}, {NodeId::numericId(2256), 13, {}, {}}, {kCounter, 14, {}, {}}};
    write("read", seedOf(id::ReadRequest, read));
    WriteRequest writeRequest;
    DataValue value;
    value.value = Variant::of(1.5);
    writeRequest.nodesToWrite = {{NodeId::stringId(2, "Device1.Setpoint"), 13, {}, value}};
    write("write", seedOf(id::WriteRequest, writeRequest));
    BrowseRequest browse;
    browse.requestedMaxReferencesPerNode = 1;
    browse.nodesToBrowse = {
        {NodeId::numericId(85), BrowseDirection::Both, NodeId::numericId(33), true, 0, 0x3F}};
    write("browse", seedOf(id::BrowseRequest, browse));
    BrowseNextRequest next;
    next.continuationPoints = {ByteString("cp1")};
    write("browse_next", seedOf(id::BrowseNextRequest, next));
    TranslateBrowsePathsRequest translate;
    translate.browsePaths = {{NodeId::numericId(85), {{NodeId::numericId(33), false, true, {2, "Device1"}}}}};
    write("translate", seedOf(id::TranslateBrowsePathsRequest, translate));
    write("register", seedOf(id::RegisterNodesRequest, NodeListRequest{{}, {kCounter}}));
    write("unregister", seedOf(id::UnregisterNodesRequest, NodeListRequest{{}, {kCounter}}));
    write("get_endpoints", seedOf(id::GetEndpointsRequest, GetEndpointsRequest()));
    write("find_servers", seedOf(id::FindServersRequest, FindServersRequest()));
    write("cancel", seedOf(id::CancelRequest, CancelRequest()));
    write("close_session", seedOf(id::CloseSessionRequest, CloseSessionRequest()));
    write("publish", seedOf(id::PublishRequest, PublishRequest{{}, {{1, 1}}}, true));
    write("republish", seedOf(id::RepublishRequest, RepublishRequest{{}, 1, 1}, true));
    ModifySubscriptionRequest modify;
    modify.subscriptionId = 1;
    write("modify_subscription", seedOf(id::ModifySubscriptionRequest, modify, true));
    write("set_publishing_mode",
          seedOf(id::SetPublishingModeRequest, SetPublishingModeRequest{{}, false, {1}}, true));
    write("delete_subscriptions",
          seedOf(id::DeleteSubscriptionsRequest, SubscriptionListRequest{{}, {1}}, true));
    ModifyMonitoredItemsRequest modifyItems;
    modifyItems.subscriptionId = 1;
    MonitoredItemModifyRequest itemChange;
    itemChange.monitoredItemId = 1;
    itemChange.requestedParameters.filter =
        wrapExtension(id::DataChangeFilter, DataChangeFilter{DataChangeTrigger::StatusValue, 1, 2.0});
    modifyItems.itemsToModify = {itemChange};
    write("modify_monitored_items", seedOf(id::ModifyMonitoredItemsRequest, modifyItems, true));
    SetMonitoringModeRequest mode;
    mode.subscriptionId = 1;
    mode.monitoringMode = MonitoringMode::Disabled;
    mode.monitoredItemIds = {1};
    write("set_monitoring_mode", seedOf(id::SetMonitoringModeRequest, mode, true));
    DeleteMonitoredItemsRequest remove;
    remove.subscriptionId = 1;
    remove.monitoredItemIds = {1};
    write("delete_monitored_items", seedOf(id::DeleteMonitoredItemsRequest, remove, true));
    CreateMonitoredItemsRequest create;
    create.subscriptionId = 1;
    create.itemsToCreate.resize(1);
    create.itemsToCreate[0].itemToMonitor.nodeId = NodeId::stringId(2, "Device1.Line.Speed");
    write("create_monitored_items", seedOf(id::CreateMonitoredItemsRequest, create, true));
    test::WireClient closing;
    write("close_channel", conversation(closing) + closing.close());
    test::WireClient renewing;
    write("renew_channel", conversation(renewing) + renewing.open(true));
    // Framed: every request after the fuzz target's own handshake (first byte odd).
    std::ofstream(folder / "framed_all", std::ios::binary) << char(1) << framedSeeds;
    return 0;
}
