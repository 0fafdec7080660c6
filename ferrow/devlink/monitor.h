#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "ferrow/devlink/oport.h"

namespace ferrow {

class CDoc;
class ODevice;

inline constexpr std::chrono::milliseconds kMonitorPeriod{300};
// How long switching monitoring off waits for the thread: one exchange's own limit and a margin. A
// thread still busy after that is in an exchange with a device that keeps it going (replies just inside
// the limit for a long list, or bytes that never make a line).
inline constexpr std::chrono::milliseconds kMonitorStopLimit =
    OPort::kReplyLimit + std::chrono::milliseconds{2000};

// What the monitor thread shares with the thread that switches it off.
struct MonitorRun {
    std::mutex lock;
    // Monitoring switched off (the document's m_bMonitor), or the thread ended.
    std::condition_variable changed;
    bool ended = false;
    // The device whose command port the thread exchanges on: the watched group's device.
    ODevice* device = nullptr;
};

// The Monitor command: a thread that subscribes the tags of the selected device (handle 0) and follows
// the selection every 300 ms, so that pushed values reach the tag list. False when the thread could not
// start.
bool StartMonitor(CDoc& doc);
// Ends the thread (it unsubscribes first) and tells the views; nothing when monitoring is off. Waits at
// most kMonitorStopLimit (scaled) for the thread; one still busy then has its exchange cut short, so the
// thread has ended, and touches nothing more, when this returns.
void StopMonitor(CDoc& doc);

}  // namespace ferrow
