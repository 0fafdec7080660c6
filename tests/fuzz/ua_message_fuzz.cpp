// What a UA client sends, cut into pieces as the fuzzer likes, through one connection of the endpoint
// and its services over an in-memory data source: whatever arrives, the endpoint answers or ends the
// connection with ERR, never reads past a message, and sends nothing after it has closed. The session's
// token is predictable here (random_bytes is replaced), so that the seeds reach every service.
#include <QCoreApplication>
#include <cstdint>
#include <deque>
#include <functional>

#include "ferrow/ua/memory_data_source.h"
#include "ferrow/ua/server_core.h"
#include "ferrow/ua/tcp_connection.h"
#include "ferrow/ua/tcp_messages.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using namespace ferrow::ua;

struct Sink : ConnectionSink {
    std::string sent;
    bool closed = false;
    std::size_t bytesAfterClose = 0;
    void send(std::string bytes) override {
        if (closed) bytesAfterClose += bytes.size();
        sent += bytes;
    }
    void closeConnection() override { closed = true; }
};

MemoryDataSource& dataSource() {
    static MemoryDataSource* source = [] {
        auto* s = new MemoryDataSource;
        FolderInfo line{
            "Line", "Device1.Line", {}, {TagInfo{"Speed", "Device1.Line.Speed", TagType::Float, true}}};
        s->setDevices({FolderInfo{"Device1",
                                  "Device1",
                                  {line},
                                  {TagInfo{"Counter", "Device1.Counter", TagType::Int32, false},
                                   TagInfo{"Setpoint", "Device1.Setpoint", TagType::Double, true}}}});
        s->setSample("Device1.Counter", TagSample{std::int32_t{41}, 0xC0, DateTime{1}});
        return s;
    }();
    return *source;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);  // the subscriptions' timers need one; it never runs
    dataSource();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t piece = data[0] % 97 + 1;
    const std::string_view stream(reinterpret_cast<const char*>(data + 1), size - 1);

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

    for (std::size_t at = 0; at < stream.size(); at += piece) {
        connection.onBytes(stream.substr(at, piece), now);
        // What the data source completes comes back as the endpoint's thread would run it.
        for (int rounds = 0; !posted.empty() && rounds < 100000; ++rounds) {
            auto fn = std::move(posted.front());
            posted.pop_front();
            fn();
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
    if (connection.isClosed() && lastType != "ERR") FUZZ_CHECK(stream.find("CLO") != std::string_view::npos);
    live = nullptr;
    // Timers of deleted subscriptions go with the event loop's deferred deletions; there is no loop here.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
