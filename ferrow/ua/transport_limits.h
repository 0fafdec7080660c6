#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

// The endpoint's limits, the values its OperationLimits and ServerCapabilities nodes report.
namespace ferrow::ua::limits {

inline constexpr std::uint32_t kBufferSize = 65535;
inline constexpr std::uint32_t kMinBufferSize = 8192;
inline constexpr std::uint32_t kMaxMessageSize = 16 * 1024 * 1024;
inline constexpr std::uint32_t kMaxChunkCount = 256;
// A message of the largest size must fit the chunk count: with 64 KiB chunks it takes 257, with smaller
// ones more. The count a connection accepts is never below kMaxChunkCount and always enough for that.
constexpr std::uint32_t chunkCountFor(std::uint32_t receiveBufferSize) {
    const std::uint32_t perChunk = receiveBufferSize - 24;  // the symmetric headers
    const std::uint32_t needed = (kMaxMessageSize + perChunk - 1) / perChunk;
    return needed > kMaxChunkCount ? needed : kMaxChunkCount;
}
inline constexpr std::size_t kMaxEndpointUrlLength = 4096;
inline constexpr std::chrono::seconds kHelloLimit{10};
inline constexpr std::chrono::milliseconds kMinChannelLifetime{10000}, kMaxChannelLifetime{3600000};
inline constexpr std::size_t kMaxSessions = 100;
inline constexpr std::chrono::milliseconds kMinSessionTimeout{10000}, kMaxSessionTimeout{3600000};
inline constexpr std::size_t kMaxSubscriptionsPerSession = 100;
inline constexpr std::size_t kMaxMonitoredItems = 1000000;
inline constexpr std::size_t kMaxOperationsPerCall = 10000;
inline constexpr double kMinIntervalMs = 10.0;
inline constexpr std::uint32_t kMaxQueueSize = 1000;
inline constexpr std::size_t kMaxPublishRequestsPerSession = 10;
inline constexpr std::size_t kMaxContinuationPointsPerSession = 10;
// Notification messages a subscription keeps for Republish until they are acknowledged.
inline constexpr std::size_t kMaxRetransmitQueue = 20;
// Bytes the endpoint buffers for one connection before it stops reading from it.
inline constexpr std::size_t kMaxPendingOutput = 4 * kMaxMessageSize;

}  // namespace ferrow::ua::limits
