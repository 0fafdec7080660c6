#pragma once

#include <chrono>

namespace ferrow {

class CDoc;

inline constexpr std::chrono::milliseconds kMonitorPeriod{300};

// The Monitor command: a thread that subscribes the tags of the selected device (handle 0) and follows
// the selection every 300 ms, so that pushed values reach the tag list. False when the thread could not
// start.
bool StartMonitor(CDoc& doc);
// Ends the thread (it unsubscribes first) and tells the views; nothing when monitoring is off.
void StopMonitor(CDoc& doc);

}  // namespace ferrow
