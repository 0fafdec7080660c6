// Ferrow's UA endpoint behind a Basic256Sha256 secure channel: every input first opens the channel and
// activates a session with a subscription and an item, as a client with a certificate of its own does,
// then feeds the rest of the input behind the security layer or into it. The first byte chooses:
//   bit 0  the mode: 0 Sign, 1 SignAndEncrypt;
//   bit 1  the form of the rest:
//     0  requests: records of a type number (ua_fuzz_requests.h; 0x80 set: the bytes are the whole body
//        after the type id, request header included), a 16-bit length and the request's fields after its
//        header, which gets the session's token; each goes as one correctly protected MSG chunk, so the
//        decoders behind the security layer see it;
//     1  chunks: records of a kind, a 16-bit length and bytes, for the layer that checks and decrypts:
//        kind % 4 = 0  the bytes as they are, onto the stream;
//                   1  the bytes as the protected part of a chunk with right transport and security
//                      headers, neither signed nor encrypted;
//                   2  the bytes as the whole plain protected part (sequence header, body, padding),
//                      signed and (SignAndEncrypt) encrypted with the channel's keys: a true signature
//                      over a malformed inside;
//                   3  the bytes as sequence header and body of a correctly protected chunk.
//        Bit 2 of the kind makes the chunk a CLO, (kind >> 3) % 3 picks its chunk type F, C or A.
// The keys and certificates are made once per process and so are the client's handshake messages: the
// replaced random generator gives zero nonces, so the endpoint derives the same channel keys, session
// nonce and token every time. The first handshake is checked reply by reply before any input runs.
// The seeds hold ua_message_fuzz's request records under both modes and chunk records of every kind.
#include <QCoreApplication>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>

#include "ferrow/ua/binary_decoder.h"
#include "ferrow/ua/binary_encoder.h"
#include "ferrow/ua/channel_security_config.h"
#include "ferrow/ua/message_security.h"
#include "ferrow/ua/server_core.h"
#include "ferrow/ua/session_crypto.h"
#include "ferrow/ua/session_messages.h"
#include "ferrow/ua/subscription_messages.h"
#include "ferrow/ua/symmetric_crypto.h"
#include "ferrow/ua/tcp_connection.h"
#include "ferrow/ua/tcp_messages.h"
#include "tests/ferrow/ua/secured_test_client.h"
#include "tests/ferrow/ua/test_certificates.h"
#include "tests/ferrow/ua/wire_client.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/ua_fuzz_endpoint.h"
#include "tests/fuzz/ua_fuzz_requests.h"

namespace {

using namespace ferrow::ua;

constexpr const char* kClientUri = "urn:ferrow:fuzz:client";

const SecurityPolicy& policy() { return *findSecurityPolicy(securityPolicyBasic256Sha256Uri); }

// The server's and the client's certificates with their keys, and what the endpoint offers.
struct Identities {
    test::TestIdentity server, client;
    std::shared_ptr<ChannelSecurityConfig> config;
};

test::TestIdentity identityOf(const test::TestCertificate& made) {
    EVP_PKEY_up_ref(made.key.get());
    return test::TestIdentity{made.der(), EvpPkeyPtr(made.key.get())};
}

const Identities& identities() {
    static const Identities* made = [] {
        auto* out = new Identities;
        test::TestCertificateFields serverFields;
        serverFields.commonName = "Ferrow fuzz server";
        serverFields.applicationUri = "urn:ferrow:fuzz:server";
        test::TestCertificateFields clientFields;
        clientFields.commonName = "Ferrow fuzz client";
        clientFields.applicationUri = kClientUri;
        out->server = identityOf(test::makeTestCertificate(serverFields, nullptr, 0));
        out->client = identityOf(test::makeTestCertificate(clientFields, nullptr, 1));
        out->config = std::make_shared<ChannelSecurityConfig>();
        out->config->certificateDer = out->server.certificateDer;
        EVP_PKEY_up_ref(out->server.privateKey.get());
        out->config->privateKey = std::shared_ptr<EVP_PKEY>(out->server.privateKey.get(), EVP_PKEY_free);
        const std::string uri(securityPolicyBasic256Sha256Uri);
        out->config->offered = {{uri, MessageSecurityMode::Sign}, {uri, MessageSecurityMode::SignAndEncrypt}};
        out->config->validateCertificate = [](const std::string&) { return std::uint32_t{0}; };
        return out;
    }();
    return *made;
}

// One connection of an endpoint with its own services, run as the endpoint's thread would run it.
class Endpoint {
  public:
    Endpoint()
        : core_(fuzz::fuzzDataSource(), info(), environment()),
          connection_(1, 1, sink_, core_, now_, identities().config) {}
    ~Endpoint() {
        live_ = nullptr;
        // Timers of deleted subscriptions go with the event loop's deferred deletions; there is no loop.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Lets the services find the connection to answer on.
    void goLive() { live_ = &connection_; }
    void feed(std::string_view bytes) {
        connection_.onBytes(bytes, now_);
        while (!posted_.empty()) {
            auto fn = std::move(posted_.front());
            posted_.pop_front();
            fn();
        }
    }
    // The whole chunks sent since the last call.
    std::vector<std::string> takeChunks() {
        std::vector<std::string> chunks;
        while (true) {
            const auto header = peekTcpHeader(std::string_view(sink_.sent).substr(read_));
            if (!header || header->size < kTcpHeaderSize || read_ + header->size > sink_.sent.size()) break;
            chunks.push_back(sink_.sent.substr(read_, header->size));
            read_ += header->size;
        }
        return chunks;
    }
    const fuzz::RecordingSink& sink() const { return sink_; }
    const UaConnection& connection() const { return connection_; }

  private:
    static ServerInfo info() {
        ServerInfo made;
        made.hostname = "fuzz";
        return made;
    }
    UaServerCore::Environment environment() {
        UaServerCore::Environment made;
        made.findConnection = [this](std::uint64_t id) {
            return live_ && id == live_->id() ? live_ : nullptr;
        };
        made.post = [this](std::function<void()> fn) { posted_.push_back(std::move(fn)); };
        made.endpointUrl = "opc.tcp://fuzz:4840";
        made.security = identities().config;
        return made;
    }

    const Clock::time_point now_ = Clock::now();
    fuzz::RecordingSink sink_;
    std::deque<std::function<void()>> posted_;
    UaConnection* live_ = nullptr;
    UaServerCore core_;
    UaConnection connection_;
    std::size_t read_ = 0;
};

// The client's messages of the handshake and the client as it stands after them.
struct Handshake {
    std::string bytes;
    std::optional<test::SecuredTestClient> client;
    NodeId authenticationToken;
};

template <class Request>
std::string requestBody(std::uint32_t typeId, Request request, const NodeId& token, std::uint32_t handle) {
    request.requestHeader.authenticationToken = token;
    request.requestHeader.requestHandle = handle;
    return encodeBody(NodeId::numericId(typeId)) + encodeBody(request);
}

// The one response to the last request: checked, decrypted and decoded; aborts on anything else.
template <class Response>
Response replyOf(Endpoint& endpoint, test::SecuredTestClient& client, std::uint32_t typeId) {
    const std::vector<std::string> chunks = endpoint.takeChunks();
    FUZZ_CHECK(chunks.size() == 1 && chunks[0].starts_with("MSGF"));
    const std::string body = client.readMessage(chunks[0]);
    BinaryDecoder decoder(body);
    NodeId type;
    Response response;
    decoder(type), decoder(response);
    FUZZ_CHECK(type.numeric == typeId && response.responseHeader.serviceResult.code == 0);
    return response;
}

// HEL, OPN, CreateSession, ActivateSession (signed with the client's key), CreateSubscription and a
// monitored item on Device1.Counter, each answered as it should be.
Handshake makeHandshake(MessageSecurityMode mode) {
    Handshake made;
    made.client.emplace(policy(), mode, identities().client, identities().server.certificateDer);
    test::SecuredTestClient& client = *made.client;
    Endpoint endpoint;
    endpoint.goLive();
    auto send = [&](const std::string& bytes) {
        made.bytes += bytes;
        endpoint.feed(bytes);
    };

    send(test::WireClient().hello());
    send(client.openRequest(SecurityTokenRequestType::Issue));
    std::vector<std::string> chunks = endpoint.takeChunks();
    FUZZ_CHECK(chunks.size() == 2 && chunks[0].starts_with("ACK") && chunks[1].starts_with("OPN"));
    FUZZ_CHECK(client.acceptOpenResponse(chunks[1]));

    std::uint32_t handle = 0;
    CreateSessionRequest create;
    create.clientDescription.applicationUri = kClientUri;
    create.endpointUrl = "opc.tcp://fuzz:4840";
    create.clientNonce = ByteString(std::string(32, '\x5A'));
    create.clientCertificate = ByteString(identities().client.certificateDer);
    create.requestedSessionTimeout = 60000;
    send(client.message(requestBody(id::CreateSessionRequest, create, {}, ++handle)));
    const auto created = replyOf<CreateSessionResponse>(endpoint, client, id::CreateSessionResponse);
    made.authenticationToken = created.authenticationToken;

    ActivateSessionRequest activate;
    activate.clientSignature.algorithm = std::string(policy().asymmetricSignatureUri);
    activate.clientSignature.signature =
        ByteString(sessionSignature(policy(), identities().client.privateKey.get(),
                                    identities().server.certificateDer, created.serverNonce.bytes));
    send(client.message(
        requestBody(id::ActivateSessionRequest, activate, made.authenticationToken, ++handle)));
    replyOf<ActivateSessionResponse>(endpoint, client, id::ActivateSessionResponse);

    CreateSubscriptionRequest subscribe;
    subscribe.requestedPublishingInterval = 10;
    send(client.message(
        requestBody(id::CreateSubscriptionRequest, subscribe, made.authenticationToken, ++handle)));
    const auto subscribed =
        replyOf<CreateSubscriptionResponse>(endpoint, client, id::CreateSubscriptionResponse);

    CreateMonitoredItemsRequest monitor;
    monitor.subscriptionId = subscribed.subscriptionId;
    monitor.itemsToCreate.resize(1);
    monitor.itemsToCreate[0].itemToMonitor.nodeId = NodeId::stringId(2, "Device1.Counter");
    send(client.message(
        requestBody(id::CreateMonitoredItemsRequest, monitor, made.authenticationToken, ++handle)));
    const auto monitored =
        replyOf<CreateMonitoredItemsResponse>(endpoint, client, id::CreateMonitoredItemsResponse);
    FUZZ_CHECK(monitored.results.size() == 1 && monitored.results[0].statusCode.code == 0);
    FUZZ_CHECK(!endpoint.connection().isClosed());
    return made;
}

const Handshake& handshake(MessageSecurityMode mode) {
    static const Handshake sign = makeHandshake(MessageSecurityMode::Sign);
    static const Handshake encrypt = makeHandshake(MessageSecurityMode::SignAndEncrypt);
    return mode == MessageSecurityMode::Sign ? sign : encrypt;
}

void appendUint32(std::string& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>(value >> shift & 0xFF);
}

// Transport header and channel/token ids of a symmetric chunk of `protectedSize` bytes after them.
std::string chunkHeaders(std::uint8_t kind, std::size_t protectedSize,
                         const test::SecuredTestClient& client) {
    std::string out = kind & 4 ? "CLO" : "MSG";
    out += "FCA"[(kind >> 3) % 3];
    appendUint32(out,
                 static_cast<std::uint32_t>(kTcpHeaderSize + kSymmetricSecurityHeaderSize + protectedSize));
    appendUint32(out, client.channelId);
    appendUint32(out, client.tokenId);
    return out;
}

// A chunk whose protected part is `plain` as given, signed and encrypted with the client's keys.
std::string signedChunk(std::uint8_t kind, std::string plain, MessageSecurityMode mode,
                        const test::SecuredTestClient& client) {
    const bool encrypt = mode == MessageSecurityMode::SignAndEncrypt;
    const ChannelKeys& keys = client.sendingKeys();
    // The signature is two cipher blocks, so whole blocks of plain bytes make whole blocks to encrypt.
    if (encrypt) plain.resize(plain.size() / 16 * 16);
    std::string chunk = chunkHeaders(kind, plain.size() + policy().symmetricSignatureSize, client);
    chunk += plain;
    chunk += hmacSha256(keys.signingKey, chunk);
    if (!encrypt) return chunk;
    const std::size_t start = kTcpHeaderSize + kSymmetricSecurityHeaderSize;
    const auto cipher =
        aesCbcEncrypt(keys.encryptingKey, keys.initializationVector, std::string_view(chunk).substr(start));
    FUZZ_CHECK(cipher.has_value());
    chunk.replace(start, std::string::npos, *cipher);
    return chunk;
}

struct Record {
    std::uint8_t kind = 0;
    std::string_view bytes;
};

std::vector<Record> recordsOf(std::string_view input) {
    std::vector<Record> records;
    while (input.size() >= 3) {
        const std::size_t length = std::min<std::size_t>(
            static_cast<std::uint8_t>(input[1]) | static_cast<std::uint8_t>(input[2]) << 8, input.size() - 3);
        records.push_back({static_cast<std::uint8_t>(input[0]), input.substr(3, length)});
        input.remove_prefix(3 + length);
    }
    return records;
}

// The messages of the requests form, each one protected MSG chunk.
std::vector<std::string> requestMessages(std::string_view input, test::SecuredTestClient& client,
                                         const NodeId& token) {
    std::vector<std::string> out;
    std::uint32_t handle = 100;
    for (const Record& record : recordsOf(input)) {
        const std::uint32_t typeId = fuzz::kRequestTypes[(record.kind & 0x7F) % fuzz::kRequestTypeCount];
        std::string body = encodeBody(NodeId::numericId(typeId));
        if (!(record.kind & 0x80)) {
            RequestHeader header;
            header.authenticationToken = token;
            header.requestHandle = ++handle;
            body += encodeBody(header);
        }
        body += record.bytes;
        out.push_back(client.message(body));
    }
    return out;
}

// The messages of the chunks form.
std::vector<std::string> chunkMessages(std::string_view input, MessageSecurityMode mode,
                                       test::SecuredTestClient& client) {
    std::vector<std::string> out;
    for (const Record& record : recordsOf(input)) {
        switch (record.kind % 4) {
            case 0:
                out.emplace_back(record.bytes);
                break;
            case 1:
                out.push_back(chunkHeaders(record.kind, record.bytes.size(), client) +
                              std::string(record.bytes));
                break;
            case 2:
                out.push_back(signedChunk(record.kind, std::string(record.bytes), mode, client));
                break;
            default: {
                BinaryEncoder ids;
                ids(client.channelId), ids(client.tokenId);
                out.push_back(protectSymmetricChunk(
                    policy(), mode, client.sendingKeys(), record.kind & 4 ? "CLO" : "MSG",
                    "FCA"[(record.kind >> 3) % 3], ids.bytes(), record.bytes));
            }
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);  // the subscriptions' timers need one; it never runs
    fuzz::fuzzDataSource();
    handshake(MessageSecurityMode::Sign);
    handshake(MessageSecurityMode::SignAndEncrypt);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const auto mode = data[0] & 1 ? MessageSecurityMode::SignAndEncrypt : MessageSecurityMode::Sign;
    const bool chunks = data[0] & 2;
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
    const Handshake& opening = handshake(mode);
    test::SecuredTestClient client = *opening.client;
    const std::vector<std::string> messages =
        chunks ? chunkMessages(input, mode, client)
               : requestMessages(input, client, opening.authenticationToken);

    Endpoint endpoint;
    endpoint.goLive();
    endpoint.feed(opening.bytes);
    // The channel opened and the session works again, with the keys the client derived the first time.
    FUZZ_CHECK(!endpoint.connection().isClosed() && endpoint.connection().hasChannel());
    for (const std::string& message : messages) endpoint.feed(message);

    const fuzz::RecordingSink& sink = endpoint.sink();
    FUZZ_CHECK(sink.closed == endpoint.connection().isClosed());
    FUZZ_CHECK(sink.bytesAfterClose == 0);
    // Everything sent is whole chunks the peer's buffer takes; a connection that ended over requests
    // said why with ERR (the requests form sends no CLO).
    std::string_view out = sink.sent;
    std::string lastType;
    while (!out.empty()) {
        const auto header = peekTcpHeader(out);
        FUZZ_CHECK(header.has_value() && header->size >= kTcpHeaderSize && header->size <= out.size());
        FUZZ_CHECK(header->size <= 65535);
        lastType = header->type;
        out.remove_prefix(header->size);
    }
    if (endpoint.connection().isClosed() && !chunks) FUZZ_CHECK(lastType == "ERR");
    return 0;
}
