#include "ferrow/devlink/monitor.h"

#include <condition_variable>
#include <mutex>
#include <vector>

#include "ferrow/devlink/tag_lists.h"
#include "ferrow/model/cdoc.h"
#include "ferrow/model/locks.h"

namespace ferrow {

namespace {

std::mutex wakeLock;
std::condition_variable wake;

void MonitorLoop(CDoc* doc) {
    std::vector<OTag*> watchList;
    OTagGroup* watched = nullptr;
    while (doc->m_bMonitor) {
        if (doc->m_pSelection != watched) {
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
                SubscribeTags(0, watchList);
            }
        }
        // Values come from the device's notifications; nothing is polled.
        ReadTags(false, watchList);
        std::unique_lock lock(wakeLock);
        wake.wait_for(lock, kMonitorPeriod, [doc] { return !doc->m_bMonitor; });
    }
    UnsubscribeTags(0, watchList);
    if (watched) --watched->m_nUseCount;
}

}  // namespace

bool StartMonitor(CDoc& doc) {
    if (doc.m_hMonitorThread.joinable()) return true;
    doc.m_bMonitor = true;
    try {
        doc.m_hMonitorThread = std::thread(MonitorLoop, &doc);
    } catch (const std::system_error&) {
        doc.m_bMonitor = false;
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
    {
        std::lock_guard lock(wakeLock);
        doc.m_bMonitor = false;
    }
    wake.notify_all();
    if (doc.m_pTagView) doc.m_pTagView->SetValueTimer(false);
    // Its exchanges each have a limit, so this wait has one too.
    doc.m_hMonitorThread.join();
    doc.UpdateAllViews(kHintSelection);
}

}  // namespace ferrow
