#include "ferrow/bus/opc_tables.h"

#include <mutex>

#include "platform/com/dbus/local_server.h"
#include "platform/com/dbus/platform_tables.h"
#include "platform/com/dbus/remote_object.h"

namespace ferrow::bus {

namespace {
using namespace tables;
using platform::com::dbus::Facet;
using platform::com::dbus::InterfaceTable;
using platform::com::dbus::makeTable;

class ServerProxy final : public Facet<IOPCServer> {
  public:
    using Facet::Facet;
    HRESULT AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate, OPCHANDLE hClientGroup,
                     LONG* pTimeBias, float* pPercentDeadband, DWORD dwLCID, OPCHANDLE* phServerGroup,
                     DWORD* pRevisedUpdateRate, REFIID riid, IUnknown** ppUnk) override {
        return forward<Server_AddGroup>(szName, bActive, dwRequestedUpdateRate, hClientGroup, pTimeBias,
                                        pPercentDeadband, dwLCID, phServerGroup, pRevisedUpdateRate, riid,
                                        ppUnk);
    }
    HRESULT GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) override {
        return forward<Server_GetErrorString>(dwError, dwLocale, ppString);
    }
    HRESULT GetGroupByName(LPCWSTR szName, REFIID riid, IUnknown** ppUnk) override {
        return forward<Server_GetGroupByName>(szName, riid, ppUnk);
    }
    HRESULT GetStatus(OPCSERVERSTATUS** ppServerStatus) override {
        return forward<Server_GetStatus>(ppServerStatus);
    }
    HRESULT RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) override {
        return forward<Server_RemoveGroup>(hServerGroup, bForce);
    }
    HRESULT CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, IUnknown** ppUnk) override {
        return forward<Server_CreateGroupEnumerator>(dwScope, riid, ppUnk);
    }
};

class CommonProxy final : public Facet<IOPCCommon> {
  public:
    using Facet::Facet;
    HRESULT SetLocaleID(LCID dwLcid) override { return forward<Common_SetLocaleID>(dwLcid); }
    HRESULT GetLocaleID(LCID* pdwLcid) override { return forward<Common_GetLocaleID>(pdwLcid); }
    HRESULT QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) override {
        return forward<Common_QueryAvailableLocaleIDs>(pdwCount, pdwLcid);
    }
    HRESULT GetErrorString(HRESULT dwError, LPWSTR* ppString) override {
        return forward<Common_GetErrorString>(dwError, ppString);
    }
    HRESULT SetClientName(LPCWSTR szName) override { return forward<Common_SetClientName>(szName); }
};

class BrowseProxy final : public Facet<IOPCBrowseServerAddressSpace> {
  public:
    using Facet::Facet;
    HRESULT QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) override {
        return forward<Browse_QueryOrganization>(pNameSpaceType);
    }
    HRESULT ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) override {
        return forward<Browse_ChangeBrowsePosition>(dwBrowseDirection, szString);
    }
    HRESULT BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                             VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                             IEnumString** ppIEnumString) override {
        return forward<Browse_BrowseOPCItemIDs>(dwBrowseFilterType, szFilterCriteria, vtDataTypeFilter,
                                                dwAccessRightsFilter, ppIEnumString);
    }
    HRESULT GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) override {
        return forward<Browse_GetItemID>(szItemDataID, szItemID);
    }
    HRESULT BrowseAccessPaths(LPCWSTR szItemID, IEnumString** ppIEnumString) override {
        return forward<Browse_BrowseAccessPaths>(szItemID, ppIEnumString);
    }
};

class PropertiesProxy final : public Facet<IOPCItemProperties> {
  public:
    using Facet::Facet;
    HRESULT QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount, DWORD** ppPropertyIDs,
                                     LPWSTR** ppDescriptions, VARTYPE** ppvtDataTypes) override {
        return forward<Properties_QueryAvailableProperties>(szItemID, pdwCount, ppPropertyIDs, ppDescriptions,
                                                            ppvtDataTypes);
    }
    HRESULT GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs, VARIANT** ppvData,
                              HRESULT** ppErrors) override {
        return forward<Properties_GetItemProperties>(szItemID, dwCount, pdwPropertyIDs, ppvData, ppErrors);
    }
    HRESULT LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs, LPWSTR** ppszNewItemIDs,
                          HRESULT** ppErrors) override {
        return forward<Properties_LookupItemIDs>(szItemID, dwCount, pdwPropertyIDs, ppszNewItemIDs, ppErrors);
    }
};

class GroupProxy final : public Facet<IOPCGroupStateMgt> {
  public:
    using Facet::Facet;
    HRESULT GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                     float* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                     OPCHANDLE* phServerGroup) override {
        return forward<Group_GetState>(pUpdateRate, pActive, ppName, pTimeBias, pPercentDeadband, pLCID,
                                       phClientGroup, phServerGroup);
    }
    HRESULT SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive, LONG* pTimeBias,
                     float* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup) override {
        return forward<Group_SetState>(pRequestedUpdateRate, pRevisedUpdateRate, pActive, pTimeBias,
                                       pPercentDeadband, pLCID, phClientGroup);
    }
    HRESULT SetName(LPCWSTR szName) override { return forward<Group_SetName>(szName); }
    HRESULT CloneGroup(LPCWSTR szName, REFIID riid, IUnknown** ppUnk) override {
        return forward<Group_CloneGroup>(szName, riid, ppUnk);
    }
};

class ItemsProxy final : public Facet<IOPCItemMgt> {
  public:
    using Facet::Facet;
    HRESULT AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                     HRESULT** ppErrors) override {
        return forward<Items_AddItems>(dwCount, pItemArray, ppAddResults, ppErrors);
    }
    HRESULT ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                          OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) override {
        return forward<Items_ValidateItems>(dwCount, pItemArray, bBlobUpdate, ppValidationResults, ppErrors);
    }
    HRESULT RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) override {
        return forward<Items_RemoveItems>(dwCount, phServer, ppErrors);
    }
    HRESULT SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive, HRESULT** ppErrors) override {
        return forward<Items_SetActiveState>(dwCount, phServer, bActive, ppErrors);
    }
    HRESULT SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                             HRESULT** ppErrors) override {
        return forward<Items_SetClientHandles>(dwCount, phServer, phClient, ppErrors);
    }
    HRESULT SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                         HRESULT** ppErrors) override {
        return forward<Items_SetDatatypes>(dwCount, phServer, pRequestedDatatypes, ppErrors);
    }
    HRESULT CreateEnumerator(REFIID riid, IUnknown** ppUnk) override {
        return forward<Items_CreateEnumerator>(riid, ppUnk);
    }
};

class ItemEnumProxy final : public Facet<IEnumOPCItemAttributes> {
  public:
    using Facet::Facet;
    HRESULT Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray, ULONG* pceltFetched) override {
        return forward<ItemEnum_Next>(celt, ppItemArray, pceltFetched);
    }
    HRESULT Skip(ULONG celt) override { return forward<ItemEnum_Skip>(celt); }
    HRESULT Reset() override { return forward<ItemEnum_Reset>(); }
    HRESULT Clone(IEnumOPCItemAttributes** ppEnum) override { return forward<ItemEnum_Clone>(ppEnum); }
};

class SyncProxy final : public Facet<IOPCSyncIO> {
  public:
    using Facet::Facet;
    HRESULT Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer, OPCITEMSTATE** ppItemValues,
                 HRESULT** ppErrors) override {
        return forward<Sync_Read>(dwSource, dwCount, phServer, ppItemValues, ppErrors);
    }
    HRESULT Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, HRESULT** ppErrors) override {
        return forward<Sync_Write>(dwCount, phServer, pItemValues, ppErrors);
    }
};

class AsyncProxy final : public Facet<IOPCAsyncIO> {
  public:
    using Facet::Facet;
    HRESULT Read(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwNumItems, OPCHANDLE* phServer,
                 DWORD* pTransactionID, HRESULT** ppErrors) override {
        return forward<Async_Read>(dwConnection, dwSource, dwNumItems, phServer, pTransactionID, ppErrors);
    }
    HRESULT Write(DWORD dwConnection, DWORD dwNumItems, OPCHANDLE* phServer, VARIANT* pItemValues,
                  DWORD* pTransactionID, HRESULT** ppErrors) override {
        return forward<Async_Write>(dwConnection, dwNumItems, phServer, pItemValues, pTransactionID,
                                    ppErrors);
    }
    HRESULT Refresh(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD* pTransactionID) override {
        return forward<Async_Refresh>(dwConnection, dwSource, pTransactionID);
    }
    HRESULT Cancel(DWORD dwTransactionID) override { return forward<Async_Cancel>(dwTransactionID); }
};

class Async2Proxy final : public Facet<IOPCAsyncIO2> {
  public:
    using Facet::Facet;
    HRESULT Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
                 HRESULT** ppErrors) override {
        return forward<Async2_Read>(dwCount, phServer, dwTransactionID, pdwCancelID, ppErrors);
    }
    HRESULT Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, DWORD dwTransactionID,
                  DWORD* pdwCancelID, HRESULT** ppErrors) override {
        return forward<Async2_Write>(dwCount, phServer, pItemValues, dwTransactionID, pdwCancelID, ppErrors);
    }
    HRESULT Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) override {
        return forward<Async2_Refresh2>(dwSource, dwTransactionID, pdwCancelID);
    }
    HRESULT Cancel2(DWORD dwCancelID) override { return forward<Async2_Cancel2>(dwCancelID); }
    HRESULT SetEnable(BOOL bEnable) override { return forward<Async2_SetEnable>(bEnable); }
    HRESULT GetEnable(BOOL* pbEnable) override { return forward<Async2_GetEnable>(pbEnable); }
};

class DataCallbackProxy final : public Facet<IOPCDataCallback> {
  public:
    using Facet::Facet;
    HRESULT OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality, HRESULT hrMastererror,
                         DWORD dwCount, OPCHANDLE* phClientItems, VARIANT* pvValues, WORD* pwQualities,
                         FILETIME* pftTimeStamps, HRESULT* pErrors) override {
        return forward<Callback_OnDataChange>(dwTransid, hGroup, hrMasterquality, hrMastererror, dwCount,
                                              phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors);
    }
    HRESULT OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality, HRESULT hrMastererror,
                           DWORD dwCount, OPCHANDLE* phClientItems, VARIANT* pvValues, WORD* pwQualities,
                           FILETIME* pftTimeStamps, HRESULT* pErrors) override {
        return forward<Callback_OnReadComplete>(dwTransid, hGroup, hrMasterquality, hrMastererror, dwCount,
                                                phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors);
    }
    HRESULT OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr, DWORD dwCount,
                            OPCHANDLE* pClienthandles, HRESULT* pErrors) override {
        return forward<Callback_OnWriteComplete>(dwTransid, hGroup, hrMastererr, dwCount, pClienthandles,
                                                 pErrors);
    }
    HRESULT OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) override {
        return forward<Callback_OnCancelComplete>(dwTransid, hGroup);
    }
};

class ShutdownProxy final : public Facet<IOPCShutdown> {
  public:
    using Facet::Facet;
    HRESULT ShutdownRequest(LPCWSTR szReason) override { return forward<Shutdown_ShutdownRequest>(szReason); }
};
}  // namespace

void registerOpcTables() {
    static std::once_flag once;
    std::call_once(once, [] {
        registerOpcWireTypes();
        platform::com::dbus::registerPlatformTables();
        static const InterfaceTable server =
            makeTable<IOPCServer, ServerProxy, Server_AddGroup, Server_GetErrorString, Server_GetGroupByName,
                      Server_GetStatus, Server_RemoveGroup, Server_CreateGroupEnumerator>("IOPCServer");
        static const InterfaceTable common =
            makeTable<IOPCCommon, CommonProxy, Common_SetLocaleID, Common_GetLocaleID,
                      Common_QueryAvailableLocaleIDs, Common_GetErrorString, Common_SetClientName>(
                "IOPCCommon");
        static const InterfaceTable browse =
            makeTable<IOPCBrowseServerAddressSpace, BrowseProxy, Browse_QueryOrganization,
                      Browse_ChangeBrowsePosition, Browse_BrowseOPCItemIDs, Browse_GetItemID,
                      Browse_BrowseAccessPaths>("IOPCBrowseServerAddressSpace");
        static const InterfaceTable properties =
            makeTable<IOPCItemProperties, PropertiesProxy, Properties_QueryAvailableProperties,
                      Properties_GetItemProperties, Properties_LookupItemIDs>("IOPCItemProperties");
        static const InterfaceTable group =
            makeTable<IOPCGroupStateMgt, GroupProxy, Group_GetState, Group_SetState, Group_SetName,
                      Group_CloneGroup>("IOPCGroupStateMgt");
        static const InterfaceTable items =
            makeTable<IOPCItemMgt, ItemsProxy, Items_AddItems, Items_ValidateItems, Items_RemoveItems,
                      Items_SetActiveState, Items_SetClientHandles, Items_SetDatatypes,
                      Items_CreateEnumerator>("IOPCItemMgt");
        static const InterfaceTable itemEnum =
            makeTable<IEnumOPCItemAttributes, ItemEnumProxy, ItemEnum_Next, ItemEnum_Skip, ItemEnum_Reset,
                      ItemEnum_Clone>("IEnumOPCItemAttributes");
        static const InterfaceTable sync =
            makeTable<IOPCSyncIO, SyncProxy, Sync_Read, Sync_Write>("IOPCSyncIO");
        static const InterfaceTable async =
            makeTable<IOPCAsyncIO, AsyncProxy, Async_Read, Async_Write, Async_Refresh, Async_Cancel>(
                "IOPCAsyncIO");
        static const InterfaceTable async2 =
            makeTable<IOPCAsyncIO2, Async2Proxy, Async2_Read, Async2_Write, Async2_Refresh2, Async2_Cancel2,
                      Async2_SetEnable, Async2_GetEnable>("IOPCAsyncIO2");
        static const InterfaceTable callback =
            makeTable<IOPCDataCallback, DataCallbackProxy, Callback_OnDataChange, Callback_OnReadComplete,
                      Callback_OnWriteComplete, Callback_OnCancelComplete>("IOPCDataCallback");
        static const InterfaceTable shutdown =
            makeTable<IOPCShutdown, ShutdownProxy, Shutdown_ShutdownRequest>("IOPCShutdown");
        for (const InterfaceTable* t : {&server, &common, &browse, &properties, &group, &items, &itemEnum,
                                        &sync, &async, &async2, &callback, &shutdown})
            platform::com::dbus::registerTable(t);
        platform::com::dbus::registerLocalServer(opc::CLSID_FerrowServer,
                                                 QStringLiteral("org.quillon.Ferrow"));
    });
}

void enableFerrowActivation() {
    registerOpcTables();
    platform::com::dbus::enableLocalServerActivation();
}

}  // namespace ferrow::bus
