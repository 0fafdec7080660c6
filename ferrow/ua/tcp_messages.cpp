#include "ferrow/ua/tcp_messages.h"

#include <cstring>

#include "ferrow/ua/binary_encoder.h"

namespace ferrow::ua {

std::optional<TcpHeader> peekTcpHeader(std::string_view bytes) {
    if (bytes.size() < kTcpHeaderSize) return std::nullopt;
    TcpHeader header;
    header.type = std::string(bytes.substr(0, 3));
    header.chunkType = bytes[3];
    std::memcpy(&header.size, bytes.data() + 4, 4);
    return header;
}

std::string frameMessage(std::string_view type, char chunkType, std::string_view body) {
    BinaryEncoder encoder;
    std::string out(type);
    out += chunkType;
    const auto size = static_cast<std::uint32_t>(kTcpHeaderSize + body.size());
    out.append(reinterpret_cast<const char*>(&size), 4);
    out += body;
    return out;
}

std::string errorMessage(std::uint32_t status, std::string_view reason) {
    // The reason is for people reading a trace; a peer's text never makes it long.
    return frameMessage("ERR", 'F', encodeBody(ErrorMessage{status, std::string(reason.substr(0, 1024))}));
}

}  // namespace ferrow::ua
