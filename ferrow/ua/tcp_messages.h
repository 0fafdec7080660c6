#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The UA TCP connection protocol: the 8-byte header of every message and the HEL, ACK and ERR bodies.
namespace ferrow::ua {

inline constexpr std::size_t kTcpHeaderSize = 8;

struct TcpHeader {
    std::string type;  // "HEL", "ACK", "ERR", "OPN", "MSG", "CLO", ...
    char chunkType = 'F';
    std::uint32_t size = 0;  // of the whole message, header included
};

// The header at the start of `bytes`, or nothing while fewer than 8 bytes have arrived.
std::optional<TcpHeader> peekTcpHeader(std::string_view bytes);

struct HelloMessage {
    std::uint32_t protocolVersion = 0, receiveBufferSize = 0, sendBufferSize = 0, maxMessageSize = 0,
                  maxChunkCount = 0;
    std::string endpointUrl;
};
template <class Io>
void fields(Io& io, HelloMessage& v) {
    io(v.protocolVersion), io(v.receiveBufferSize), io(v.sendBufferSize), io(v.maxMessageSize);
    io(v.maxChunkCount), io(v.endpointUrl);
}

struct AcknowledgeMessage {
    std::uint32_t protocolVersion = 0, receiveBufferSize = 0, sendBufferSize = 0, maxMessageSize = 0,
                  maxChunkCount = 0;
};
template <class Io>
void fields(Io& io, AcknowledgeMessage& v) {
    io(v.protocolVersion), io(v.receiveBufferSize), io(v.sendBufferSize), io(v.maxMessageSize);
    io(v.maxChunkCount);
}

struct ErrorMessage {
    std::uint32_t error = 0;
    std::string reason;
};
template <class Io>
void fields(Io& io, ErrorMessage& v) {
    io(v.error), io(v.reason);
}

// A whole message: header with the right size, then the body.
std::string frameMessage(std::string_view type, char chunkType, std::string_view body);
std::string errorMessage(std::uint32_t status, std::string_view reason);

}  // namespace ferrow::ua
