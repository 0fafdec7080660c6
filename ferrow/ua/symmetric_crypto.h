#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ferrow::ua {

// HMAC-SHA256 of data under key (32 bytes).
std::string hmacSha256(std::string_view key, std::string_view data);

// Compares two signatures without leaking where they differ.
bool signaturesEqual(std::string_view expected, std::string_view actual);

// AES-CBC without padding (the chunk carries its own padding); the key length picks AES-128 or AES-256.
// Returns nullopt when the key or IV length is wrong or the data is not whole blocks.
std::optional<std::string> aesCbcEncrypt(std::string_view key, std::string_view iv, std::string_view plain);
std::optional<std::string> aesCbcDecrypt(std::string_view key, std::string_view iv, std::string_view cipher);

}  // namespace ferrow::ua
