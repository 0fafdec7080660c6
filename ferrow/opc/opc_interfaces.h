#pragma once

#include <cstdint>

#include "ferrow/opc/opc_ids.h"
#include "platform/com/data_transfer.h"
#include "platform/com/filetime.h"
#include "platform/com/interfaces.h"
#include "platform/com/variant.h"

namespace ferrow::opc {

using platform::com::BOOL;
using platform::com::DWORD;
using platform::com::FILETIME;
using platform::com::HRESULT;
using platform::com::IUnknown;
using platform::com::LCID;
using platform::com::LONG;
using platform::com::LPCWSTR;
using platform::com::LPWSTR;
using platform::com::REFIID;
using platform::com::UINT;
using platform::com::ULONG;
using platform::com::VARIANT;
using platform::com::VARTYPE;
using platform::com::WORD;
using BYTE = std::uint8_t;

// A handle the client and the server exchange: a number from a handle table, never a pointer.
using OPCHANDLE = std::uint32_t;

enum OPCSERVERSTATE : DWORD {
    OPC_STATUS_RUNNING = 1,
    OPC_STATUS_FAILED = 2,
    OPC_STATUS_NOCONFIG = 3,
    OPC_STATUS_SUSPENDED = 4,
    OPC_STATUS_TEST = 5,
};
enum OPCNAMESPACETYPE : DWORD { OPC_NS_HIERARCHIAL = 1, OPC_NS_FLAT = 2 };
enum OPCBROWSEDIRECTION : DWORD { OPC_BROWSE_UP = 1, OPC_BROWSE_DOWN = 2, OPC_BROWSE_TO = 3 };
enum OPCBROWSETYPE : DWORD { OPC_BRANCH = 1, OPC_LEAF = 2, OPC_FLAT = 3 };
// A client's value is only one of the enumerators where it is one of them.
constexpr bool isKnownBrowseType(OPCBROWSETYPE type) { return type >= OPC_BRANCH && type <= OPC_FLAT; }
enum OPCENUMSCOPE : DWORD {
    OPC_ENUM_PRIVATE_CONNECTIONS = 1,
    OPC_ENUM_PUBLIC_CONNECTIONS = 2,
    OPC_ENUM_ALL_CONNECTIONS = 3,
    OPC_ENUM_PRIVATE = 4,
    OPC_ENUM_PUBLIC = 5,
    OPC_ENUM_ALL = 6,
};
enum OPCDATASOURCE : DWORD { OPC_DS_CACHE = 1, OPC_DS_DEVICE = 2 };
constexpr bool isKnownSource(OPCDATASOURCE source) {
    return source == OPC_DS_CACHE || source == OPC_DS_DEVICE;
}
inline constexpr DWORD OPC_READABLE = 1;
inline constexpr DWORD OPC_WRITEABLE = 2;

// Quality words.
inline constexpr WORD OPC_QUALITY_BAD = 0x00;
inline constexpr WORD OPC_QUALITY_COMM_FAILURE = 0x18;
inline constexpr WORD OPC_QUALITY_OUT_OF_SERVICE = 0x1C;
inline constexpr WORD OPC_QUALITY_UNCERTAIN = 0x40;
inline constexpr WORD OPC_QUALITY_GOOD = 0xC0;
inline constexpr WORD OPC_QUALITY_MASK = 0xC0;

// The clipboard format names of the version 1.0 data transfer streams.
inline constexpr const char* kStreamFormatData = "OPCSTMFORMATDATA";
inline constexpr const char* kStreamFormatDataTime = "OPCSTMFORMATDATATIME";
inline constexpr const char* kStreamFormatWriteComplete = "OPCSTMFORMATWRITECOMPLETE";

// In-memory layout is this platform's natural one; only byte streams are written field by field.
struct OPCSERVERSTATUS {
    FILETIME ftStartTime;
    FILETIME ftCurrentTime;
    FILETIME ftLastUpdateTime;
    OPCSERVERSTATE dwServerState;
    DWORD dwGroupCount;
    DWORD dwBandWidth;
    WORD wMajorVersion;
    WORD wMinorVersion;
    WORD wBuildNumber;
    WORD wReserved;
    LPWSTR szVendorInfo;
};

enum OPCEUTYPE : DWORD { OPC_NOENUM = 0, OPC_ANALOG = 1, OPC_ENUMERATED = 2 };

// What a client asks AddItems/ValidateItems for, one item each.
struct OPCITEMDEF {
    LPWSTR szAccessPath;
    LPWSTR szItemID;
    BOOL bActive;
    OPCHANDLE hClient;
    DWORD dwBlobSize;
    BYTE* pBlob;
    VARTYPE vtRequestedDataType;
    WORD wReserved;
};

struct OPCITEMRESULT {
    OPCHANDLE hServer;
    VARTYPE vtCanonicalDataType;
    WORD wReserved;
    DWORD dwAccessRights;
    DWORD dwBlobSize;
    BYTE* pBlob;
};

// One item as IEnumOPCItemAttributes hands it out; the strings and vEUInfo are the caller's to free.
struct OPCITEMATTRIBUTES {
    LPWSTR szAccessPath;
    LPWSTR szItemID;
    BOOL bActive;
    OPCHANDLE hClient;
    OPCHANDLE hServer;
    DWORD dwAccessRights;
    DWORD dwBlobSize;
    BYTE* pBlob;
    VARTYPE vtRequestedDataType;
    VARTYPE vtCanonicalDataType;
    OPCEUTYPE dwEUType;
    VARIANT vEUInfo;
};

// One item as IOPCSyncIO::Read returns it; vDataValue is the caller's to clear.
struct OPCITEMSTATE {
    OPCHANDLE hClient;
    FILETIME ftTimeStamp;
    WORD wQuality;
    WORD wReserved;
    VARIANT vDataValue;
};

// The OPC interfaces, in their published slot order. Out-parameters are task-allocated as published.

class IOPCServer : public IUnknown {
  public:
    static constexpr const IID& kIid = IID_IOPCServer;
    virtual HRESULT AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                             OPCHANDLE hClientGroup, LONG* pTimeBias, float* pPercentDeadband, DWORD dwLCID,
                             OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate, REFIID riid,
                             IUnknown** ppUnk) = 0;
    virtual HRESULT GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) = 0;
    virtual HRESULT GetGroupByName(LPCWSTR szName, REFIID riid, IUnknown** ppUnk) = 0;
    virtual HRESULT GetStatus(OPCSERVERSTATUS** ppServerStatus) = 0;
    virtual HRESULT RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) = 0;
    virtual HRESULT CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, IUnknown** ppUnk) = 0;

  protected:
    ~IOPCServer() = default;
};

class IOPCCommon : public IUnknown {
  public:
    static constexpr const IID& kIid = IID_IOPCCommon;
    virtual HRESULT SetLocaleID(LCID dwLcid) = 0;
    virtual HRESULT GetLocaleID(LCID* pdwLcid) = 0;
    virtual HRESULT QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) = 0;
    virtual HRESULT GetErrorString(HRESULT dwError, LPWSTR* ppString) = 0;
    virtual HRESULT SetClientName(LPCWSTR szName) = 0;

  protected:
    ~IOPCCommon() = default;
};

class IOPCBrowseServerAddressSpace : public IUnknown {
  public:
    static constexpr const IID& kIid = IID_IOPCBrowseServerAddressSpace;
    virtual HRESULT QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) = 0;
    virtual HRESULT ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) = 0;
    virtual HRESULT BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                                     VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                                     platform::com::IEnumString** ppIEnumString) = 0;
    virtual HRESULT GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) = 0;
    virtual HRESULT BrowseAccessPaths(LPCWSTR szItemID, platform::com::IEnumString** ppIEnumString) = 0;

  protected:
    ~IOPCBrowseServerAddressSpace() = default;
};

class IOPCItemProperties : public IUnknown {
  public:
    static constexpr const IID& kIid = IID_IOPCItemProperties;
    virtual HRESULT QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount, DWORD** ppPropertyIDs,
                                             LPWSTR** ppDescriptions, VARTYPE** ppvtDataTypes) = 0;
    virtual HRESULT GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                      VARIANT** ppvData, HRESULT** ppErrors) = 0;
    virtual HRESULT LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                  LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) = 0;

  protected:
    ~IOPCItemProperties() = default;
};

// Implemented by the client; the server calls it when it is about to go away.
class IOPCShutdown : public IUnknown {
  public:
    static constexpr const IID& kIid = IID_IOPCShutdown;
    virtual HRESULT ShutdownRequest(LPCWSTR szReason) = 0;

  protected:
    ~IOPCShutdown() = default;
};

class IOPCGroupStateMgt : public IUnknown {
  public:
    static constexpr const IID& kIid = IID_IOPCGroupStateMgt;
    virtual HRESULT GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                             float* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                             OPCHANDLE* phServerGroup) = 0;
    virtual HRESULT SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                             LONG* pTimeBias, float* pPercentDeadband, DWORD* pLCID,
                             OPCHANDLE* phClientGroup) = 0;
    virtual HRESULT SetName(LPCWSTR szName) = 0;
    virtual HRESULT CloneGroup(LPCWSTR szName, REFIID riid, IUnknown** ppUnk) = 0;

  protected:
    ~IOPCGroupStateMgt() = default;
};

class IOPCItemMgt : public IUnknown {
  public:
    static constexpr const IID& kIid = IID_IOPCItemMgt;
    virtual HRESULT AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                             HRESULT** ppErrors) = 0;
    virtual HRESULT ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                                  OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) = 0;
    virtual HRESULT RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) = 0;
    virtual HRESULT SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive, HRESULT** ppErrors) = 0;
    virtual HRESULT SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                                     HRESULT** ppErrors) = 0;
    virtual HRESULT SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                                 HRESULT** ppErrors) = 0;
    virtual HRESULT CreateEnumerator(REFIID riid, IUnknown** ppUnk) = 0;

  protected:
    ~IOPCItemMgt() = default;
};

class IEnumOPCItemAttributes : public IUnknown {
  public:
    static constexpr const IID& kIid = IID_IEnumOPCItemAttributes;
    virtual HRESULT Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray, ULONG* pceltFetched) = 0;
    virtual HRESULT Skip(ULONG celt) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumOPCItemAttributes** ppEnumItemAttributes) = 0;

  protected:
    ~IEnumOPCItemAttributes() = default;
};

class IOPCSyncIO : public IUnknown {
  public:
    static constexpr const IID& kIid = IID_IOPCSyncIO;
    virtual HRESULT Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                         OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) = 0;
    virtual HRESULT Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, HRESULT** ppErrors) = 0;

  protected:
    ~IOPCSyncIO() = default;
};

// Version 1.0 asynchronous requests; completions go to the IAdviseSink of the group's IDataObject.
class IOPCAsyncIO : public IUnknown {
  public:
    static constexpr const IID& kIid = IID_IOPCAsyncIO;
    virtual HRESULT Read(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwNumItems, OPCHANDLE* phServer,
                         DWORD* pTransactionID, HRESULT** ppErrors) = 0;
    virtual HRESULT Write(DWORD dwConnection, DWORD dwNumItems, OPCHANDLE* phServer, VARIANT* pItemValues,
                          DWORD* pTransactionID, HRESULT** ppErrors) = 0;
    virtual HRESULT Refresh(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD* pTransactionID) = 0;
    virtual HRESULT Cancel(DWORD dwTransactionID) = 0;

  protected:
    ~IOPCAsyncIO() = default;
};

// Version 2.0 asynchronous requests; completions go to the group's IOPCDataCallback sinks.
class IOPCAsyncIO2 : public IUnknown {
  public:
    static constexpr const IID& kIid = IID_IOPCAsyncIO2;
    virtual HRESULT Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
                         HRESULT** ppErrors) = 0;
    virtual HRESULT Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, DWORD dwTransactionID,
                          DWORD* pdwCancelID, HRESULT** ppErrors) = 0;
    virtual HRESULT Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) = 0;
    virtual HRESULT Cancel2(DWORD dwCancelID) = 0;
    virtual HRESULT SetEnable(BOOL bEnable) = 0;
    virtual HRESULT GetEnable(BOOL* pbEnable) = 0;

  protected:
    ~IOPCAsyncIO2() = default;
};

// Implemented by the client; the group's connection point calls it. The arrays belong to the caller.
class IOPCDataCallback : public IUnknown {
  public:
    static constexpr const IID& kIid = IID_IOPCDataCallback;
    virtual HRESULT OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                 HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                                 VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                                 HRESULT* pErrors) = 0;
    virtual HRESULT OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                   HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                                   VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                                   HRESULT* pErrors) = 0;
    virtual HRESULT OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr, DWORD dwCount,
                                    OPCHANDLE* pClienthandles, HRESULT* pErrors) = 0;
    virtual HRESULT OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) = 0;

  protected:
    ~IOPCDataCallback() = default;
};

}  // namespace ferrow::opc
