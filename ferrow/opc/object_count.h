#pragma once

#include <atomic>

namespace ferrow {

// Live OPC objects plus class-factory locks. Non-zero means OPC clients are connected: the document then
// refuses New and Open, and the exit asks first. Changed atomically by the OPC objects themselves.
extern std::atomic<long> objectCount;

}  // namespace ferrow
