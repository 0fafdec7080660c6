#pragma once

#include <openssl/evp.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "ferrow/ua/common_messages.h"

namespace ferrow::ua {

struct SecurityPolicy;
struct ChannelKeys;

// Signing, encryption and padding of single chunks for the secured policies. A chunk here is the whole
// message: the 8-byte transport header, the security header, then the protected part (sequence header,
// body, padding, signature). Stateless; the secure channel that holds the keys calls it on its thread.
// Unprotect functions throw ChannelFault with BadSecurityChecksFailed on any bad length, padding or
// signature and never read outside `chunk`.

// Size of the channel id + token id header that follows the transport header of MSG/CLO chunks.
inline constexpr std::size_t kSymmetricSecurityHeaderSize = 8;

// The largest body (after the 8-byte sequence header) one symmetric chunk of `chunkSize` bytes carries.
std::size_t maxSymmetricBodySize(const SecurityPolicy& policy, MessageSecurityMode mode,
                                 std::size_t chunkSize);

// Frames `payload` (sequence header + body) after `securityHeader` (channel id + token id) as a chunk of
// `type`/`chunkType`, signed (Sign) or signed and encrypted (SignAndEncrypt) with the sender's keys.
std::string protectSymmetricChunk(const SecurityPolicy& policy, MessageSecurityMode mode,
                                  const ChannelKeys& keys, std::string_view type, char chunkType,
                                  std::string_view securityHeader, std::string_view payload);

// The payload (sequence header + body) of a received symmetric chunk, checked with the sender's keys.
std::string unprotectSymmetricChunk(const SecurityPolicy& policy, MessageSecurityMode mode,
                                    const ChannelKeys& keys, std::string_view chunk);

// The largest body one asymmetric chunk of `chunkSize` bytes carries, given the header size in front
// of the protected part, our signing key and the receiver's public key.
std::size_t maxAsymmetricBodySize(std::size_t chunkSize, std::size_t headerSize, EVP_PKEY* ourKey,
                                  EVP_PKEY* receiverKey);

// Frames `payload` after `securityHeader` (channel id + asymmetric security header) as an OPN chunk,
// signed with our private key and encrypted for the receiver's public key.
std::string protectAsymmetricChunk(EVP_PKEY* ourKey, EVP_PKEY* receiverKey, std::string_view securityHeader,
                                   std::string_view payload);

// The payload of a received OPN chunk whose protected part starts at `headerEnd`: decrypted with our
// private key and checked with the sender's public key.
std::string unprotectAsymmetricChunk(EVP_PKEY* ourKey, EVP_PKEY* senderKey, std::string_view chunk,
                                     std::size_t headerEnd);

}  // namespace ferrow::ua
