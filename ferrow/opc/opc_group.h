#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ferrow/model/tag.h"
#include "ferrow/opc/opc_interfaces.h"
#include "platform/com/com_object.h"
#include "platform/com/handle_table.h"

namespace ferrow {
class ODevice;
}

namespace ferrow::opc {

class OpcServer;

// What a server shares with its groups: the server lock, the last update time it guards and the server
// itself. A group keeps it by shared ownership, so a removed group that its client still holds never
// reaches a server that is gone.
struct ServerCore {
    // Lock order of the OPC objects (a thread that needs several takes them in this order):
    //   document lock (item-ID resolution: taken while holding no server or group lock)
    //   -> server lock -> group lock -> value lock.
    // The object lock of a connection point and a server's client lock are leaves: nothing is taken
    // while one is held, and no lock at all is held while a client's sink is called.
    std::recursive_mutex serverLock;
    FILETIME lastUpdateTime;  // guarded by serverLock
    OpcServer* owner = nullptr;  // guarded by serverLock; null once the server is torn down
};

// One client item: a use of one tag and what the client asked for it. Fields guarded by the group lock.
struct OpcItem {
    OpcItem();
    ~OpcItem();
    OpcItem(const OpcItem&) = delete;
    OpcItem& operator=(const OpcItem&) = delete;

    BOOL active = 0;
    OPCHANDLE clientHandle = 0;
    VARTYPE requestedType = platform::com::VT_EMPTY;
    VARIANT cachedValue;                        // the value last taken over for the client
    WORD cachedQuality = 0;                     // bad until the first value
    FILETIME cachedTimestamp;                   // the creation time until the first value
    BOOL changed = 1;                           // reported in the group's next data-change pass
    TagRef tag;                                 // keeps the tag's device from being deleted
    ODevice* device = nullptr;                  // the tag's device
};

// The tags of one device that active items of a group refer to, once per item. While it exists the
// device's use count is one higher. The list is guarded by the group lock and the value lock together.
struct TagSubscription {
    ODevice* device = nullptr;
    std::vector<OTag*> tags;
    bool pendingSubscribe = true;  // the list must be registered with the device again
};

// A group of a server's client: its state, its items bound to tags, and the subscriptions of its
// active items per device. Created by the server's AddGroup; the server handle is its key in the
// server's group table, item handles are keys in the group's own item table (looked up, never turned
// into pointers). Called on any thread; see ServerCore for the lock order.
class OpcGroup : public platform::com::ComObject<IOPCGroupStateMgt, IOPCItemMgt> {
  public:
    static constexpr DWORD kMinUpdateRate = 10;

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

    // Stores the creation parameters; the time bias and deadband only where their pointers are given.
    virtual void Initialize(std::string name, BOOL active, DWORD requestedRate, OPCHANDLE clientHandle,
                            const LONG* timeBias, const float* percentDeadband, DWORD lcid);
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
    // Under the group lock: whether the handle is one of this group's items.
    virtual bool IsValidItem(OPCHANDLE handle);
    // A new item enumerator with one reference, or null when memory runs out.
    virtual IEnumOPCItemAttributes* CreateItemEnum();

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

  protected:
    explicit OpcGroup(std::shared_ptr<ServerCore> server);
    // Destroys every subscription (device use counts) and every item (tag uses).
    void teardown() override;

    std::shared_ptr<ServerCore> server_;
    // Guards the item table, the subscription list and every item and state field.
    std::recursive_mutex groupLock_;

  private:
    template <class Work>
    HRESULT ForHandles(DWORD count, const OPCHANDLE* handles, const void* values, HRESULT** ppErrors,
                       Work work);
    template <class Work>
    HRESULT ForDefinitions(DWORD count, const OPCITEMDEF* defs, OPCITEMRESULT** ppResults, HRESULT** ppErrors,
                           Work work);
    // Under the group lock; may throw std::bad_alloc, leaving everything as it was.
    void Subscribe(const OpcItem& item);
    void Unsubscribe(const OpcItem& item);
    void DestroySubscription(std::size_t index);

    std::string name_;
    BOOL active_ = 0;
    DWORD updateRate_ = 1000;
    OPCHANDLE clientHandle_ = 0;
    LONG timeBias_ = 0;
    float percentDeadband_ = 0.0f;
    DWORD lcid_ = 0;
    OPCHANDLE serverHandle_ = 0;
    std::atomic<bool> removed_{false};
    platform::com::HandleTable<std::unique_ptr<OpcItem>> items_;
    std::vector<std::unique_ptr<TagSubscription>> subscriptions_;
};

}  // namespace ferrow::opc
