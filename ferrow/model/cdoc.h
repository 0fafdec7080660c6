#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "ferrow/model/doc_result.h"
#include "ferrow/model/doc_view.h"
#include "ferrow/model/tag_group.h"

namespace ferrow {

class ODevice;
struct MonitorRun;
struct TdbDocument;

// The one configuration: the root group with its devices, the selection, the next default device
// number, the monitor. Lives on the user-interface thread; OPC threads reach it through Live() and
// FindItem. Every change happens under the document lock.
class CDoc {
  public:
    // `makeDevice` is how the document makes a device: the program gives its devices a link; without
    // it a device has none and never connects.
    explicit CDoc(std::function<std::unique_ptr<ODevice>()> makeDevice = {});
    ~CDoc();
    CDoc(const CDoc&) = delete;
    CDoc& operator=(const CDoc&) = delete;

    // The live document, or null.
    static CDoc* Live();

    // Whether OPC clients hold server objects; New and Open are refused meanwhile. Never, unless set.
    void SetClientsConnected(std::function<bool()> clientsConnected);
    bool ClientsConnected() const { return clientsConnected_ && clientsConnected_(); }

    // Both refuse (nothing changed) while OPC clients hold server objects. The result carries the text
    // for the user when they fail.
    DocResult OnNewDocument();
    // Reads and connects; a file that does not follow the format is reported and leaves an empty
    // configuration.
    DocResult OnOpenDocument(const std::string& path);
    // Writes the file in one step; the old file stays when writing fails.
    DocResult OnSaveDocument(const std::string& path);

    // Creates "Device%d", lets `editDevice` (the device dialog) confirm it, then inserts and connects
    // it. Null when the dialog was cancelled. The dialog runs without the document lock, so that OPC
    // threads are not kept waiting by a user.
    ODevice* AddDevice(const std::function<bool(ODevice&)>& editDevice);
    // Nothing while the selection is watched (use count), monitoring is on or an OPC item holds one of
    // its tags.
    void DeleteSelection();
    // "Device.Tag": the tag, and its device through `device` when given; null for anything else. The
    // pointer stays valid only while the caller holds the document lock (a device may be deleted once
    // it is released): take a use of the tag before letting the lock go, or call AcquireItem.
    OTag* FindItem(std::string_view itemId, ODevice** device = nullptr);
    // FindItem with a use of the tag taken under the document lock: while the reference lives, the
    // tag's device refuses to be deleted. Empty for an unknown item.
    TagRef AcquireItem(std::string_view itemId, ODevice** device = nullptr);

    // Every view except `sender` gets the hint.
    void UpdateAllViews(int hint, OTagGroup* object = nullptr, CDocView* sender = nullptr);
    bool IsModified() const { return m_bModified; }
    void SetModifiedFlag(bool modified = true) { m_bModified = modified; }
    std::size_t DeviceCount() const { return m_root.m_groups.size(); }
    ODevice* Device(std::size_t index) const;

    OTagGroup m_root;
    std::atomic<OTagGroup*> m_pSelection{nullptr};
    unsigned m_cfPrivate = 0;
    CDocView* m_pDeviceView = nullptr;
    CDocView* m_pTagView = nullptr;
    std::uint16_t m_nNextDevice = 1;
    // The monitor (devlink/monitor.h) runs while m_bMonitor is set; whoever starts it stops it before
    // the document clears or goes.
    std::thread m_hMonitorThread;
    std::atomic<bool> m_bMonitor{false};
    // Shared with the monitor thread while it runs (see monitor.h).
    std::shared_ptr<MonitorRun> m_pMonitorRun;

  private:
    // The refusal while OPC clients are connected, or Done.
    DocResult RefuseWhileClientsConnected() const;
    // Deletes every device, clears the selection and the numbering, tells the views.
    void Clear();
    // Clear, then the empty configuration of New.
    void ResetToNew();
    void Build(const TdbDocument& file);
    void StartTagLoading();

    std::unique_ptr<ODevice> MakeDevice() const;

    bool m_bModified = false;
    std::function<std::unique_ptr<ODevice>()> makeDevice_;
    std::function<bool()> clientsConnected_;
};

}  // namespace ferrow
