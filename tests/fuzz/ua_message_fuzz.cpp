// What a UA client sends through one connection of the endpoint and its services over an in-memory data
// source: whatever arrives, the endpoint answers or ends the connection with ERR, never reads past a
// message, and sends nothing after it has closed. The first byte's low bit chooses the input's form:
//   0  the raw byte stream, cut into pieces of (first byte / 2) % 97 + 1 bytes;
//   1  after a handshake with a session, a subscription and an item, requests framed here: each record is
//      a type number (ua_fuzz_requests.h; 0x80 set: 200-byte chunks), a 16-bit length and the request's
//      fields after its header, which gets the session's token. This reaches every service's decoder and
//      logic with valid framing. The session's token is predictable (random_bytes is replaced).
#include <QCoreApplication>
#include <cstdint>
#include <deque>
#include <functional>

#include "ferrow/ua/server_core.h"
#include "ferrow/ua/subscription_messages.h"
#include "ferrow/ua/tcp_connection.h"
#include "ferrow/ua/tcp_messages.h"
#include "tests/ferrow/ua/wire_client.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/ua_fuzz_endpoint.h"
#include "tests/fuzz/ua_fuzz_requests.h"

namespace {

using namespace ferrow::ua;

using Sink = fuzz::RecordingSink;

MemoryDataSource& dataSource() { return fuzz::fuzzDataSource(); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);  // the subscriptions' timers need one; it never runs
    dataSource();
    return 0;
}

namespace {

// HEL, OPN, CreateSession, ActivateSession, CreateSubscription and a monitored item on Device1.Counter.
std::string handshake(test::WireClient& client) {
    std::string out = client.hello() + client.open();
    out += client.request(id::CreateSessionRequest, CreateSessionRequest());
    client.authenticationToken = NodeId::opaqueId(1, std::string(32, '\0'));
    out += client.request(id::ActivateSessionRequest, ActivateSessionRequest());
    CreateSubscriptionRequest subscribe;
    subscribe.requestedPublishingInterval = 10;
    out += client.request(id::CreateSubscriptionRequest, subscribe);
    CreateMonitoredItemsRequest monitor;
    monitor.subscriptionId = 1;
    monitor.itemsToCreate.resize(1);
    monitor.itemsToCreate[0].itemToMonitor.nodeId = NodeId::stringId(2, "Device1.Counter");
    out += client.request(id::CreateMonitoredItemsRequest, monitor);
    return out;
}

// The records of a framed input as the messages a client would send.
std::vector<std::string> framedMessages(std::string_view records) {
    test::WireClient client;
    std::vector<std::string> out{handshake(client)};
    while (records.size() >= 3) {
        const auto kind = static_cast<std::uint8_t>(records[0]);
        const std::size_t length = std::min<std::size_t>(
            static_cast<std::uint8_t>(records[1]) | static_cast<std::uint8_t>(records[2]) << 8,
            records.size() - 3);
        RequestHeader header;
        header.authenticationToken = client.authenticationToken;
        header.requestHandle = ++client.requestHandle;
        const std::string body = encodeBody(header) + std::string(records.substr(3, length));
        out.push_back(client.message(fuzz::kRequestTypes[(kind & 0x7F) % fuzz::kRequestTypeCount], body,
                                     kind & 0x80 ? 200 : 0));
        records.remove_prefix(3 + length);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const bool framed = data[0] & 1;
    const std::size_t piece = framed ? SIZE_MAX : (data[0] >> 1) % 97 + 1;
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::vector<std::string> messages =
        framed ? framedMessages(input) : std::vector<std::string>{std::string(input)};

    Sink sink;
    std::deque<std::function<void()>> posted;
    UaConnection* live = nullptr;
    UaServerCore::Environment environment;
    environment.findConnection = [&live](std::uint64_t id) {
        return live && id == live->id() ? live : nullptr;
    };
    environment.post = [&posted](std::function<void()> fn) { posted.push_back(std::move(fn)); };
    environment.endpointUrl = "opc.tcp://fuzz:4840";
    ServerInfo info;
    info.hostname = "fuzz";
    UaServerCore core(dataSource(), info, environment);
    const auto now = Clock::now();
    UaConnection connection(1, 1, sink, core, now);
    live = &connection;

    for (const std::string& stream : messages) {
        for (std::size_t at = 0; at < stream.size(); at += std::min(piece, stream.size())) {
            connection.onBytes(std::string_view(stream).substr(at, piece), now);
            // What the data source completes comes back as the endpoint's thread would run it.
            while (!posted.empty()) {
                auto fn = std::move(posted.front());
                posted.pop_front();
                fn();
            }
        }
    }
    FUZZ_CHECK(sink.closed == connection.isClosed());
    FUZZ_CHECK(sink.bytesAfterClose == 0);
    // Everything sent is whole messages in chunks the peer's buffer takes; a connection that ended said
    // why with ERR, unless the peer ended it with CLO.
    std::string_view out = sink.sent;
    std::string lastType;
    while (!out.empty()) {
        const auto header = peekTcpHeader(out);
        FUZZ_CHECK(header.has_value() && header->size >= kTcpHeaderSize && header->size <= out.size());
        FUZZ_CHECK(header->size <= 65535);
        lastType = header->type;
        out.remove_prefix(header->size);
    }
    if (connection.isClosed() && lastType != "ERR")
        FUZZ_CHECK(!framed && input.find("CLO") != std::string_view::npos);
    live = nullptr;
    // Timers of deleted subscriptions go with the event loop's deferred deletions; there is no loop here.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
