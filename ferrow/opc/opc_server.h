#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "ferrow/opc/browse_enum.h"
#include "ferrow/opc/handle_spaces.h"
#include "ferrow/opc/item_properties.h"
#include "ferrow/opc/opc_group.h"
#include "ferrow/opc/opc_interfaces.h"
#include "platform/com/com_object.h"
#include "platform/com/com_ptr.h"
#include "platform/com/connection_point.h"
#include "platform/com/handle_table.h"

namespace ferrow::opc {

// The object one OPC client gets from the class factory: its groups, locale and name, browsing of the
// open configuration's tag tree, the six item properties, and the IOPCShutdown point through which the
// server announces its exit. Lives in serverList from construction to teardown; counted in objectCount.
// Called on any thread, concurrently; for the lock order see ferrow/model/locks.h.
class OpcServer
    : public platform::com::ComObject<IOPCServer, IOPCCommon, IOPCBrowseServerAddressSpace,
                                      IOPCItemProperties, platform::com::IConnectionPointContainer> {
  public:
    static constexpr LCID kDefaultLocale = 0x0800;
    static constexpr LCID kEnglishLocale = 1033;

    // Null when memory runs out; otherwise a server in serverList with a reference count of 0.
    static OpcServer* Create();

    // IOPCServer
    HRESULT AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate, OPCHANDLE hClientGroup,
                     LONG* pTimeBias, float* pPercentDeadband, DWORD dwLCID, OPCHANDLE* phServerGroup,
                     DWORD* pRevisedUpdateRate, REFIID riid, IUnknown** ppUnk) override;
    HRESULT GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) override;
    HRESULT GetGroupByName(LPCWSTR szName, REFIID riid, IUnknown** ppUnk) override;
    HRESULT GetStatus(OPCSERVERSTATUS** ppServerStatus) override;
    HRESULT RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) override;
    HRESULT CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, IUnknown** ppUnk) override;

    // IOPCCommon
    HRESULT SetLocaleID(LCID dwLcid) override;
    HRESULT GetLocaleID(LCID* pdwLcid) override;
    HRESULT QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) override;
    HRESULT GetErrorString(HRESULT dwError, LPWSTR* ppString) override;
    HRESULT SetClientName(LPCWSTR szName) override;

    // IOPCBrowseServerAddressSpace
    HRESULT QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) override;
    HRESULT ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) override;
    HRESULT BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                             VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                             platform::com::IEnumString** ppIEnumString) override;
    HRESULT GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) override;
    HRESULT BrowseAccessPaths(LPCWSTR szItemID, platform::com::IEnumString** ppIEnumString) override;

    // IOPCItemProperties
    HRESULT QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount, DWORD** ppPropertyIDs,
                                     LPWSTR** ppDescriptions, VARTYPE** ppvtDataTypes) override;
    HRESULT GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs, VARIANT** ppvData,
                              HRESULT** ppErrors) override;
    HRESULT LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs, LPWSTR** ppszNewItemIDs,
                          HRESULT** ppErrors) override;

    // IConnectionPointContainer
    HRESULT EnumConnectionPoints(platform::com::IEnumConnectionPoints** ppEnum) override;
    HRESULT FindConnectionPoint(REFIID riid, platform::com::IConnectionPoint** ppCP) override;

    // The advised shutdown sinks, each with a reference of the caller's (called without a lock).
    std::vector<platform::com::ComPtr<IOPCShutdown>> ShutdownSinks() const;
    std::size_t groupCount();
    // Whether a group of this server has exactly this name. Call with the server lock held.
    bool GroupNameTaken(const std::string& name);

  protected:
    OpcServer();

    // The operations behind the interface methods, which check arguments and allocate result arrays.
    // Item-ID look-up: the tag copied out and its property count, or OPC_E_UNKNOWNITEMID.
    virtual HRESULT FindItemTag(std::string_view itemId, TagSnapshot* tag, DWORD* propertyCount);
    virtual void ListProperties(DWORD count, DWORD* ids, LPWSTR* descriptions, VARTYPE* types,
                                const TagSnapshot& tag);
    // E_OUTOFMEMORY when a value could not be copied.
    virtual HRESULT ReadProperties(const TagSnapshot& tag, DWORD count, const DWORD* ids, VARIANT* values,
                                   HRESULT* errors);
    virtual HRESULT LookupIDs();
    // Under the server lock; the vendor text is the caller's.
    virtual void FillStatus(OPCSERVERSTATUS* status);
    // Text of a non-OPC code; this server has none.
    virtual HRESULT SystemErrorText(HRESULT code, LCID locale, std::u16string* text);
    virtual OpcGroup* CreateGroup(std::string name, BOOL active, DWORD requestedRate, OPCHANDLE clientHandle,
                                  const LONG* timeBias, const float* percentDeadband, DWORD lcid);
    virtual OPCNAMESPACETYPE QueryOrganizationType();
    virtual HRESULT MoveBrowsePosition(OPCBROWSEDIRECTION direction, const std::string& name);
    virtual HRESULT CreateBrowseEnum(OPCBROWSETYPE type, std::string filter, VARTYPE dataTypeFilter,
                                     DWORD accessRightsFilter, platform::com::IEnumString** out);
    virtual HRESULT MakeItemID(const std::string& name, std::string* itemId);

    // Leaves serverList, disconnects and destroys every group still in the map, releases the sinks.
    void teardown() override;

  private:
    BrowsePath browsePosition();
    void setBrowsePosition(BrowsePath path);

    platform::com::ConnectionPoint shutdownPoint_;
    std::shared_ptr<ServerCore> core_;
    // Guarded by core_->serverLock; each entry holds the map's reference on its group.
    platform::com::HandleTable<OpcGroup*> groups_{groupHandleSpace()};
    std::atomic<LCID> locale_{kDefaultLocale};
    // A leaf lock for the client's own fields, so that concurrent calls of one client stay well defined.
    std::mutex clientLock_;
    std::string clientName_;
    BrowsePath browsePosition_;
};

// Every live server, each with a reference of the caller's (servers in their final release are left out).
std::vector<platform::com::ComPtr<IOPCServer>> serverList();
OpcServer* asServer(IOPCServer* server);

}  // namespace ferrow::opc
