#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ferrow/access/item_state.h"
#include "ferrow/access/watch_passes.h"
#include "ferrow/access/watched_tags.h"
#include "ferrow/model/tag.h"
#include "ferrow/opc/async_request.h"
#include "ferrow/opc/handle_spaces.h"
#include "ferrow/opc/opc_interfaces.h"
#include "ferrow/opc/request_pool.h"
#include "ferrow/opc/send_gate.h"
#include "platform/com/com_object.h"
#include "platform/com/connection_point.h"
#include "platform/com/handle_table.h"

namespace ferrow {
class ODevice;
}

namespace ferrow::opc {

class OpcServer;
class OpcGroup;

// What a server shares with its groups: the server lock, the last update time it guards and the server
// itself. A group keeps it by shared ownership, so a removed group that its client still holds never
// reaches a server that is gone.
struct ServerCore {
    // The server lock; for its place in the lock order see ferrow/model/locks.h.
    std::recursive_mutex serverLock;
    FILETIME lastUpdateTime;     // guarded by serverLock
    OpcServer* owner = nullptr;  // guarded by serverLock; null once the server is torn down
    // Groups removed from the server that their clients still hold (guarded by serverLock): the
    // server's end cuts them off too. A group leaves the list when it is destroyed.
    std::vector<OpcGroup*> removedGroups;
};

// One client item: the watched state of one tag (the core's ItemState), a use of the tag and what the
// client asked for it. Fields guarded by the group lock.
struct OpcItem : access::ItemState {
    BOOL active = 0;
    OPCHANDLE clientHandle = 0;
    VARTYPE requestedType = platform::com::VT_EMPTY;
    TagRef tag;                 // keeps the tag's device from being deleted
    ODevice* device = nullptr;  // the tag's device
};

// What a client may do with the tag's items: read, and write an output.
DWORD accessRights(const OTag& tag);

// The values of a data change or read completion for the version 2.0 callback, one entry per item.
struct CallbackArrays {
    CallbackArrays() = default;
    CallbackArrays(const CallbackArrays&) = delete;
    CallbackArrays& operator=(const CallbackArrays&) = delete;
    ~CallbackArrays();
    void reserve(std::size_t n);
    // Appends one entry, the value converted by the callback rule; its result is the entry's error.
    void add(const OpcItem& item);
    HRESULT masterQuality() const;
    // S_FALSE when any item's error is not S_OK.
    HRESULT masterError() const;
    DWORD count() const { return static_cast<DWORD>(handles.size()); }

    std::vector<OPCHANDLE> handles;
    std::vector<VARIANT> values;
    std::vector<WORD> qualities;
    std::vector<FILETIME> timestamps;
    std::vector<HRESULT> errors;
};

// A group of a server's client: its state, its items bound to tags, the tags its active items watch
// (access::WatchedTags), the update passes that turn tag changes into data-change callbacks
// (access::WatchPasses) and the request pool of its asynchronous requests (RequestPool). Created by the
// server's AddGroup; the server handle is its key in the server's group table, item handles are keys in the
// group's own item table (looked up, never turned into pointers). Called on any thread; for the lock order
// see ferrow/model/locks.h.
//
// No lock of the group is held while a client's sink is called: the values of a pass are copied out
// under the group lock and delivered after it, and the send lock keeps the passes of one group (update
// thread, activation, refresh completions) from interleaving.
class OpcGroup : public platform::com::ComObject<IOPCGroupStateMgt, IOPCItemMgt, IOPCSyncIO, IOPCAsyncIO,
                                                 platform::com::IDataObject, IOPCAsyncIO2,
                                                 platform::com::IConnectionPointContainer>,
                 private RequestPool::Owner {
  public:
    static constexpr DWORD kMinUpdateRate = 10;
    // How long a data-change pass or a completion waits for the pass before it to finish delivering.
    static constexpr std::chrono::milliseconds kSendWait{2000};
    // Request threads of one group at a time; further requests wait in the queue for one of them.
    static constexpr std::size_t kMaxRequestThreads = 16;
    // How long a teardown waits for a pass or request thread that is inside a client's sink before it
    // lets the thread go (the thread holds a reference, so the group's memory outlives it).
    static constexpr std::chrono::milliseconds kTeardownWait{5000};

    // Null when memory runs out; the reference count is 0.
    static OpcGroup* Create(std::shared_ptr<ServerCore> server);

    // IOPCGroupStateMgt
    HRESULT GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                     float* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                     OPCHANDLE* phServerGroup) override;
    HRESULT SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive, LONG* pTimeBias,
                     float* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup) override;
    HRESULT SetName(LPCWSTR szName) override;
    HRESULT CloneGroup(LPCWSTR szName, REFIID riid, IUnknown** ppUnk) override;

    // IOPCItemMgt
    HRESULT AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                     HRESULT** ppErrors) override;
    HRESULT ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                          OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) override;
    HRESULT RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) override;
    HRESULT SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive, HRESULT** ppErrors) override;
    HRESULT SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                             HRESULT** ppErrors) override;
    HRESULT SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                         HRESULT** ppErrors) override;
    HRESULT CreateEnumerator(REFIID riid, IUnknown** ppUnk) override;

    // IOPCSyncIO
    HRESULT Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer, OPCITEMSTATE** ppItemValues,
                 HRESULT** ppErrors) override;
    HRESULT Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, HRESULT** ppErrors) override;

    // IOPCAsyncIO
    HRESULT Read(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwNumItems, OPCHANDLE* phServer,
                 DWORD* pTransactionID, HRESULT** ppErrors) override;
    HRESULT Write(DWORD dwConnection, DWORD dwNumItems, OPCHANDLE* phServer, VARIANT* pItemValues,
                  DWORD* pTransactionID, HRESULT** ppErrors) override;
    HRESULT Refresh(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD* pTransactionID) override;
    HRESULT Cancel(DWORD dwTransactionID) override;

    // IOPCAsyncIO2
    HRESULT Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
                 HRESULT** ppErrors) override;
    HRESULT Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, DWORD dwTransactionID,
                  DWORD* pdwCancelID, HRESULT** ppErrors) override;
    HRESULT Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) override;
    HRESULT Cancel2(DWORD dwCancelID) override;
    HRESULT SetEnable(BOOL bEnable) override;
    HRESULT GetEnable(BOOL* pbEnable) override;

    // IDataObject
    HRESULT GetData(platform::com::FORMATETC* pformatetcIn, platform::com::STGMEDIUM* pmedium) override;
    HRESULT GetDataHere(platform::com::FORMATETC* pformatetc, platform::com::STGMEDIUM* pmedium) override;
    HRESULT QueryGetData(platform::com::FORMATETC* pformatetc) override;
    HRESULT GetCanonicalFormatEtc(platform::com::FORMATETC* pformatectIn,
                                  platform::com::FORMATETC* pformatetcOut) override;
    HRESULT SetData(platform::com::FORMATETC* pformatetc, platform::com::STGMEDIUM* pmedium,
                    BOOL fRelease) override;
    HRESULT EnumFormatEtc(DWORD dwDirection, platform::com::IEnumFORMATETC** ppenumFormatEtc) override;
    HRESULT DAdvise(platform::com::FORMATETC* pformatetc, DWORD advf, platform::com::IAdviseSink* pAdvSink,
                    DWORD* pdwConnection) override;
    HRESULT DUnadvise(DWORD dwConnection) override;
    HRESULT EnumDAdvise(platform::com::IEnumSTATDATA** ppenumAdvise) override;

    // IConnectionPointContainer
    HRESULT EnumConnectionPoints(platform::com::IEnumConnectionPoints** ppEnum) override;
    HRESULT FindConnectionPoint(REFIID riid, platform::com::IConnectionPoint** ppCP) override;

    // Stores the creation parameters; the time bias and deadband only where their pointers are given.
    virtual void Initialize(std::string name, BOOL active, DWORD requestedRate, OPCHANDLE clientHandle,
                            const LONG* timeBias, const float* percentDeadband, DWORD lcid);
    // Writes the stream of the changed active items into a new block in `medium`.
    virtual HRESULT BuildDataStream(platform::com::STGMEDIUM* medium, DWORD transactionId);
    virtual HRESULT BuildDataTimeStream(platform::com::STGMEDIUM* medium, DWORD transactionId);
    // The data-change pass: the changed active items to the 2.0 sinks and the 1.0 DATA/DATATIME sinks.
    virtual HRESULT SendDataChange();
    // Stores the rate, the minimum when it is below.
    virtual void ReviseUpdateRate(DWORD rate);
    // After SetState, unless the group has just become active.
    virtual void OnActiveChanged(bool changed);

    // The per-item work of the IOPCItemMgt methods, which have checked the arguments and allocated the
    // result arrays. A failure of the whole step makes the method free its arrays.
    virtual HRESULT DoAddItems(DWORD count, const OPCITEMDEF* defs, OPCITEMRESULT* results, HRESULT* errors);
    virtual HRESULT DoValidateItems(DWORD count, const OPCITEMDEF* defs, OPCITEMRESULT* results,
                                    HRESULT* errors);
    // These skip entries whose error is already set; a handle gone since it was checked is invalid.
    virtual HRESULT DoRemoveItems(DWORD count, const OPCHANDLE* handles, HRESULT* errors);
    virtual HRESULT DoSetActiveState(DWORD count, const OPCHANDLE* handles, BOOL active, HRESULT* errors);
    virtual HRESULT DoSetClientHandles(DWORD count, const OPCHANDLE* handles, const OPCHANDLE* clients,
                                       HRESULT* errors);
    virtual HRESULT DoSetDatatypes(DWORD count, const OPCHANDLE* handles, const VARTYPE* types,
                                   HRESULT* errors);
    // The work of the reads and writes for entries whose error is still S_OK; `states` are filled in.
    virtual HRESULT ReadItems(OPCDATASOURCE source, DWORD count, const OPCHANDLE* handles,
                              OPCITEMSTATE* states, HRESULT* errors);
    virtual HRESULT WriteItems(DWORD count, const OPCHANDLE* handles, const VARIANT* values, HRESULT* errors);
    // One pass over the items: registers pending subscriptions, takes over changed tag values and
    // qualities; true when an item is flagged changed.
    virtual bool UpdateFromTags();
    // Under the group lock: whether the handle is one of this group's items.
    virtual bool IsValidItem(OPCHANDLE handle);
    // A new item enumerator with one reference, or null when memory runs out.
    virtual IEnumOPCItemAttributes* CreateItemEnum();
    // Completion of a finished request: version 1.0 through the advise sinks, 2.0 through the callbacks.
    virtual void CompleteRequestDA1(AsyncRequest& request);
    virtual void CompleteRequestDA2(AsyncRequest& request);

    // The item after handle `*position` (0: the first), filled in for the client, with the document and
    // group locks held for this one item; `*position` moves on to it. S_FALSE when none is left,
    // E_OUTOFMEMORY (nothing filled, position kept) when memory runs out.
    HRESULT NextItemAttributes(OPCHANDLE* position, OPCITEMATTRIBUTES* out);
    // Moves `*position` on by one item; false when none is left.
    bool SkipItem(OPCHANDLE* position);

    // The name is written and read under the server lock.
    const std::string& name() const { return name_; }
    void setServerHandle(OPCHANDLE handle) { serverHandle_ = handle; }
    OPCHANDLE serverHandle() const { return serverHandle_; }
    DWORD updateRate();

    // Set by RemoveGroup; from then on the group's OPC methods answer E_FAIL.
    void MarkRemoved() { removed_ = true; }
    bool IsRemoved() const { return removed_.load(); }
    // The number the group registers its tags with the devices under; 0 until its first active pass.
    DWORD subscriptionHandle() const { return subscriptionHandle_.load(); }
    // Request threads running now (for tests of the bound).
    std::size_t requestThreadCount() { return requests_.threadCount(); }

  protected:
    explicit OpcGroup(std::shared_ptr<ServerCore> server);
    // Stops the update passes and the request pool, ends the device registrations, then lets go of the
    // watched tags (device use counts) and every item (tag uses) and releases the sinks.
    void teardown() override;

    std::shared_ptr<ServerCore> server_;
    // Guards the item table, the watched tags and every item and state field.
    std::recursive_mutex groupLock_;

  private:
    // The answer of the methods the group does not offer: E_FAIL once it is removed, else E_NOTIMPL.
    HRESULT notImplemented();
    // Under the group and value locks: the items' tag states, out of service for inactive items, and
    // converted for the client where `convert` is set; true when an entry failed before any conversion.
    bool readFromCache(DWORD count, const OPCHANDLE* handles, OPCITEMSTATE* states, HRESULT* errors,
                       bool convert);
    static HRESULT convertForClient(const OpcItem& item, VARIANT& value);
    // Under the group lock: a use of the item's tag, with its client handle and device where asked;
    // false when the handle is not (or no longer) one of the group's items.
    bool itemTag(OPCHANDLE handle, TagRef* tag, OPCHANDLE* client, ODevice** device);
    // One scheduled pass: the time to the next, or nullopt when the group has gone.
    std::optional<std::chrono::milliseconds> scheduledPass();
    // One pass of the update thread; false when the group is going away.
    bool updatePass();
    // Under the group lock: flags the item changed for the next pass.
    void markChanged(OpcItem& item) { item.MarkChanged(passNumbers_.current()); }
    // Under the group lock: the changed active items in item-map order.
    std::vector<const OpcItem*> changedActiveItems();
    // The stream of the changed active items flagged up to pass `upToPass`.
    HRESULT buildStream(bool withTime, platform::com::STGMEDIUM* medium, DWORD transactionId,
                        std::uint64_t upToPass, std::size_t* itemCount = nullptr);
    static constexpr std::uint64_t kEveryPass = ~std::uint64_t{0};
    void sendStreamToSink(UINT format, platform::com::IAdviseSink* sink, platform::com::STGMEDIUM& medium);
    // The 1.0 advise sink of a stream format (with a reference), or null.
    platform::com::ComPtr<platform::com::IAdviseSink> adviseSink(UINT format);
    // The checks shared by the asynchronous reads and writes, then queuing; see the interfaces.
    HRESULT queueItemRequest(AsyncRequest::Kind kind, DWORD count, const OPCHANDLE* handles,
                             const VARIANT* values, UINT format, OPCDATASOURCE source, DWORD transactionId,
                             DWORD* pId, HRESULT** ppErrors);
    // RequestPool::Owner
    void holdForRequests() override { addRef(); }
    void releaseAfterRequests() override { release(); }
    void runRequest(AsyncRequest& request) override;
    // Lets go of the group's holds on tag registrations.
    void endRegistrations();

    template <class Work>
    HRESULT ForHandles(DWORD count, const OPCHANDLE* handles, const void* values, HRESULT** ppErrors,
                       Work work);
    template <class Work>
    HRESULT ForDefinitions(DWORD count, const OPCITEMDEF* defs, OPCITEMRESULT** ppResults, HRESULT** ppErrors,
                           Work work);
    // Under the group lock: the active item's tag watched or no more. Subscribe may throw
    // std::bad_alloc, leaving everything as it was.
    void Subscribe(const OpcItem& item) { watchedTags_.Add(item.device, item.tag.get()); }
    void Unsubscribe(const OpcItem& item) { watchedTags_.Remove(item.device, item.tag.get()); }

    std::string name_;
    BOOL active_ = 0;
    DWORD updateRate_ = 1000;
    OPCHANDLE clientHandle_ = 0;
    LONG timeBias_ = 0;
    float percentDeadband_ = 0.0f;
    DWORD lcid_ = 0;
    OPCHANDLE serverHandle_ = 0;
    std::atomic<bool> removed_{false};
    platform::com::HandleTable<std::unique_ptr<OpcItem>> items_{itemHandleSpace()};
    // The items as the update pass walks them (group lock), made again after items came or went: a
    // walk over this list touches far less memory than one over the handle table's tree.
    std::vector<OpcItem*> passItems_;
    bool passItemsStale_ = true;
    // The tags of the active items and their registrations in the core's registry (group lock).
    access::WatchedTags watchedTags_;
    std::atomic<DWORD> subscriptionHandle_{0};
    // Counts the data-change passes (group lock): a pass clears only the changes it has seen.
    access::PassNumbers passNumbers_;

    // The version 2.0 data-callback sinks, under the point's own lock.
    platform::com::ConnectionPoint dataCallbackPoint_;
    std::atomic<BOOL> callbacksEnabled_{1};
    // The version 1.0 advise sinks: DATA, DATATIME, WRITECOMPLETE.
    std::mutex adviseLock_;
    platform::com::ComPtr<platform::com::IAdviseSink> adviseSinks_[3];

    // Serialises the deliveries of this group to its sinks (data-change passes, completions): one
    // sender at a time, a waiter gives up after kSendWait, and the sender may enter again.
    SendGate sendGate_;
    std::atomic<bool> sendPending_{false};

    // The group's passes on the core's scheduler.
    access::WatchPasses updates_;

    // Asynchronous requests, served by at most kMaxRequestThreads threads, each of which holds a
    // reference on the group while it runs; stopped in the teardown.
    RequestPool requests_{*this, kMaxRequestThreads};
};

}  // namespace ferrow::opc
