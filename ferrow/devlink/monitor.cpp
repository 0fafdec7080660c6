#include "ferrow/devlink/monitor.h"

#include <memory>
#include <vector>

#include "ferrow/devlink/device_link.h"
#include "ferrow/devlink/tag_lists.h"
#include "ferrow/model/cdoc.h"
#include "ferrow/model/device.h"
#include "ferrow/model/locks.h"
#include "platform/ui/time_scale.h"

namespace ferrow {

namespace {

// Whether `list` still holds the group's tags, in order. Called under the document lock.
bool HoldsTagsOf(const OTagGroup* group, const std::vector<OTag*>& list) {
    if (!group) return list.empty();
    if (group->m_tags.size() != list.size()) return false;
    for (std::size_t i = 0; i < list.size(); ++i)
        if (group->m_tags[i].get() != list[i]) return false;
    return true;
}

// A new selection, or the watched group's tags have changed (its device's list loaded after the monitor
// started). Never blocks on the document lock: the answer is "no" until the lock can be had.
bool WatchListOutdated(const CDoc& doc, const OTagGroup* watched, const std::vector<OTag*>& list) {
    if (doc.m_pSelection != watched) return true;
    std::unique_lock document(documentLock(), std::try_to_lock);
    return document.owns_lock() && !HoldsTagsOf(watched, list);
}

// The watched device's command connection, which holds its subscriptions; 0 when it is not connected.
unsigned ConnectionOf(OTagGroup* watched) {
    ODevice* device = watched ? watched->GetDevice() : nullptr;
    DeviceLink* link = device ? FindLink(*device) : nullptr;
    return link && link->m_pCommandPort->IsConnected() ? link->ConnectionNumber() : 0;
}

// Subscribes the list and returns the device connection it went to: 0 when the device was not
// connected, so that the next round tries again. What a connected device refuses is not asked again
// until it connects again.
unsigned Subscribe(OTagGroup* watched, const std::vector<OTag*>& list) {
    const unsigned connection = ConnectionOf(watched);
    if (connection != 0) SubscribeTags(0, list);
    return connection;
}

void MonitorLoop(CDoc* doc, std::shared_ptr<MonitorRun> run) {
    std::vector<OTag*> watchList;
    OTagGroup* watched = nullptr;
    // The device connection the subscription was made in: the device forgets it with that connection.
    unsigned subscribedIn = 0;
    while (doc->m_bMonitor) {
        if (WatchListOutdated(*doc, watched, watchList)) {
            UnsubscribeTags(0, watchList);
            // The thread that stops the monitor may hold the document lock while it waits for this
            // thread: never block on that lock, try again next round instead.
            std::unique_lock document(documentLock(), std::try_to_lock);
            if (document.owns_lock()) {
                if (watched) --watched->m_nUseCount;
                watched = doc->m_pSelection;
                watchList.clear();
                if (watched) {
                    for (const auto& tag : watched->m_tags) {
                        std::lock_guard values(valueLock());
                        watchList.push_back(tag.get());
                    }
                    ++watched->m_nUseCount;
                }
                document.unlock();
                {
                    std::lock_guard lock(run->lock);
                    run->device = watched ? watched->GetDevice() : nullptr;
                }
                subscribedIn = Subscribe(watched, watchList);
            }
        } else if (!watchList.empty()) {
            const unsigned connection = ConnectionOf(watched);
            if (connection != 0 && connection != subscribedIn) subscribedIn = Subscribe(watched, watchList);
        }
        // Values come from the device's notifications; nothing is polled.
        ReadTags(false, watchList);
        std::unique_lock lock(run->lock);
        run->changed.wait_for(lock, kMonitorPeriod, [doc] { return !doc->m_bMonitor; });
    }
    UnsubscribeTags(0, watchList);
    if (watched) --watched->m_nUseCount;
    std::lock_guard lock(run->lock);
    run->device = nullptr;
    run->ended = true;
    run->changed.notify_all();
}

}  // namespace

bool StartMonitor(CDoc& doc) {
    if (doc.m_hMonitorThread.joinable()) return true;
    doc.m_bMonitor = true;
    doc.m_pMonitorRun = std::make_shared<MonitorRun>();
    try {
        doc.m_hMonitorThread = std::thread(MonitorLoop, &doc, doc.m_pMonitorRun);
    } catch (const std::system_error&) {
        doc.m_bMonitor = false;
        doc.m_pMonitorRun.reset();
        return false;
    }
    if (doc.m_pTagView) doc.m_pTagView->SetValueTimer(true);
    return true;
}

void StopMonitor(CDoc& doc) {
    if (!doc.m_hMonitorThread.joinable()) {
        doc.m_bMonitor = false;
        return;
    }
    if (doc.m_pTagView) doc.m_pTagView->SetValueTimer(false);
    MonitorRun& run = *doc.m_pMonitorRun;
    {
        std::unique_lock lock(run.lock);
        doc.m_bMonitor = false;
        run.changed.notify_all();
        if (!run.changed.wait_for(lock, platform::scaled(kMonitorStopLimit), [&run] { return run.ended; }) &&
            run.device) {
            // The device has had its time: its exchange ends now as a failed one, the device counts as not
            // answering and refuses the thread's remaining requests at once, so the join below is short.
            if (DeviceLink* link = FindLink(*run.device)) link->m_pCommandPort->Abort();
        }
    }
    doc.m_hMonitorThread.join();
    doc.m_pMonitorRun.reset();
    doc.UpdateAllViews(kHintSelection);
}

}  // namespace ferrow
