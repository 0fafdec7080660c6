#include "ferrow/opc/opc_server.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <utility>

#include "ferrow/model/cdoc.h"
#include "ferrow/model/locks.h"
#include "ferrow/opc/com_server.h"
#include "ferrow/opc/error_text.h"
#include "ferrow/opc/object_count.h"
#include "platform/com/class_table.h"
#include "platform/com/task_memory.h"

namespace ferrow::opc {

using namespace platform::com;

namespace {
constexpr char16_t kVendorInfo[] = u"Ferrow server by Morvane GmbH";

struct ServerListState {
    std::mutex lock;
    std::vector<OpcServer*> servers;
};

ServerListState& liveServers() {
    static ServerListState state;
    return state;
}

// A client's wide string in 8-bit form; short ones (item IDs, mostly) without a heap allocation.
class NarrowText {
  public:
    explicit NarrowText(LPCWSTR text) {
        const std::u16string_view wide = wideView(text);
        if (wide.size() > sizeof small_) {
            long_ = ansiFromWide(wide);
            view_ = long_;
            return;
        }
        for (std::size_t i = 0; i < wide.size(); ++i)
            small_[i] = wide[i] <= 0xFF ? static_cast<char>(wide[i]) : '?';
        view_ = std::string_view(small_, wide.size());
    }
    NarrowText(const NarrowText&) = delete;
    NarrowText& operator=(const NarrowText&) = delete;
    std::string_view view() const { return view_; }

  private:
    char small_[128];
    std::string long_;
    std::string_view view_;
};

bool nameTaken(HandleTable<OpcGroup*>& groups, const std::string& name) {
    return std::any_of(groups.begin(), groups.end(),
                       [&](const auto& entry) { return entry.second->name() == name; });
}
}  // namespace

std::vector<ComPtr<IOPCServer>> serverList() {
    std::vector<ComPtr<IOPCServer>> out;
    ServerListState& list = liveServers();
    std::lock_guard lock(list.lock);
    for (OpcServer* server : list.servers)
        if (server->tryAddRef()) out.push_back(ComPtr<IOPCServer>::adopt(server));
    return out;
}

OpcServer* asServer(IOPCServer* server) { return static_cast<OpcServer*>(server); }

OpcServer* OpcServer::Create() {
    auto* server = new (std::nothrow) OpcServer();
    if (!server) return nullptr;
    ServerListState& list = liveServers();
    std::lock_guard lock(list.lock);
    list.servers.push_back(server);
    return server;
}

OpcServer::OpcServer()
    : ComObject(&objectCount),
      shutdownPoint_(this, this, IID_IOPCShutdown, &objectCount),
      core_(std::make_shared<ServerCore>()) {
    core_->owner = this;
}

void OpcServer::teardown() {
    {
        ServerListState& list = liveServers();
        std::lock_guard lock(list.lock);
        std::erase(list.servers, this);
    }
    HandleTable<OpcGroup*> groups;
    std::vector<OpcGroup*> removed;
    {
        std::lock_guard lock(core_->serverLock);
        groups = std::move(groups_);
        core_->owner = nullptr;
        // Removed groups still held by clients go too; one already in its final release ends by itself.
        for (OpcGroup* group : core_->removedGroups)
            if (group->tryAddRef()) removed.push_back(group);
        core_->removedGroups.clear();
    }
    // A group's destruction waits for its update thread, which takes the server lock: not held here.
    auto cutOff = [](OpcGroup* group) {
        group->MarkRemoved();
        CoDisconnectObject(group->identity(), 0);
        group->destroyNow();
        group->Release();
    };
    for (auto& [handle, group] : groups) cutOff(group);
    for (OpcGroup* group : removed) cutOff(group);
    shutdownPoint_.clear();
}

std::vector<ComPtr<IOPCShutdown>> OpcServer::ShutdownSinks() const {
    return shutdownPoint_.sinks<IOPCShutdown>();
}

bool OpcServer::GroupNameTaken(const std::string& name) { return nameTaken(groups_, name); }

std::size_t OpcServer::groupCount() {
    std::lock_guard lock(core_->serverLock);
    return groups_.size();
}

// ---- IOPCServer

HRESULT OpcServer::AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate, OPCHANDLE hClientGroup,
                            LONG* pTimeBias, float* pPercentDeadband, DWORD dwLCID, OPCHANDLE* phServerGroup,
                            DWORD* pRevisedUpdateRate, REFIID riid, IUnknown** ppUnk) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (!ppUnk) return E_POINTER;
    *ppUnk = nullptr;
    // A deadband that is no number would make every comparison of the update pass false.
    if (pPercentDeadband && !std::isfinite(*pPercentDeadband)) return E_INVALIDARG;
    std::string name = ansiFromWide(wideView(szName));
    ComPtr<IUnknown> dropped;  // released after the server lock, as every group reference is
    std::lock_guard lock(core_->serverLock);
    if (name.empty()) {
        for (std::size_t n = 1; name.empty(); ++n)
            if (std::string candidate = "Group" + std::to_string(n); !nameTaken(groups_, candidate))
                name = std::move(candidate);
    } else if (nameTaken(groups_, name)) {
        return OPC_E_DUPLICATENAME;
    }
    OpcGroup* group = CreateGroup(std::move(name), bActive, dwRequestedUpdateRate, hClientGroup, pTimeBias,
                                  pPercentDeadband, dwLCID);
    if (!group) return E_OUTOFMEMORY;
    // Asked before the group joins the map: an interface the group does not offer leaves nothing behind.
    const HRESULT query = group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
    if (FAILED(query)) {
        dropped = ComPtr<IUnknown>(group->identity());
        return query;
    }
    const OPCHANDLE handle = groups_.add(group);
    if (handle == 0) {
        dropped = ComPtr<IUnknown>::adopt(std::exchange(*ppUnk, nullptr));
        return E_OUTOFMEMORY;
    }
    group->AddRef();  // the map's reference
    group->setServerHandle(handle);
    if (phServerGroup) *phServerGroup = handle;
    if (pRevisedUpdateRate) *pRevisedUpdateRate = group->updateRate();
    return group->updateRate() != dwRequestedUpdateRate ? OPC_S_UNSUPPORTEDRATE : S_OK;
}

HRESULT OpcServer::GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (!ppString) return E_POINTER;
    *ppString = nullptr;
    if (const char* known = opcErrorText(dwError)) {
        *ppString = taskStringFromAnsi(known);
    } else if (std::u16string text; SUCCEEDED(SystemErrorText(dwError, dwLocale, &text))) {
        *ppString = taskString(text);
    } else {
        *ppString = taskStringFromAnsi(kUnknownErrorText);
    }
    return *ppString ? S_OK : E_OUTOFMEMORY;
}

HRESULT OpcServer::GetGroupByName(LPCWSTR szName, REFIID riid, IUnknown** ppUnk) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (!ppUnk) return E_POINTER;
    *ppUnk = nullptr;
    const std::string name = ansiFromWide(wideView(szName));
    std::lock_guard lock(core_->serverLock);
    for (auto& [handle, group] : groups_)
        if (group->name() == name) return group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
    return E_INVALIDARG;
}

HRESULT OpcServer::GetStatus(OPCSERVERSTATUS** ppServerStatus) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (!ppServerStatus) return E_POINTER;
    *ppServerStatus = nullptr;
    TaskPtr<OPCSERVERSTATUS> status(taskArray<OPCSERVERSTATUS>(1));
    if (!status) return E_OUTOFMEMORY;
    LPWSTR vendor = taskString(kVendorInfo);
    if (!vendor) return E_OUTOFMEMORY;
    {
        std::lock_guard lock(core_->serverLock);
        FillStatus(status.get());
    }
    status->szVendorInfo = vendor;
    *ppServerStatus = status.release();
    return S_OK;
}

HRESULT OpcServer::RemoveGroup(OPCHANDLE hServerGroup, BOOL /*bForce*/) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (hServerGroup == 0) return E_INVALIDARG;
    std::optional<OpcGroup*> removed;
    {
        std::lock_guard lock(core_->serverLock);
        removed = groups_.remove(hServerGroup);
        if (!removed) return E_INVALIDARG;
        (*removed)->MarkRemoved();
        try {
            core_->removedGroups.push_back(*removed);
        } catch (const std::bad_alloc&) {
            // Not cut off with the server then; it still ends with its client's last release.
        }
    }
    // The map's reference goes outside the server lock: a group's destruction waits for its update thread.
    (*removed)->Release();
    return S_OK;
}

HRESULT OpcServer::CreateGroupEnumerator(OPCENUMSCOPE /*dwScope*/, REFIID /*riid*/, IUnknown** ppUnk) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (ppUnk) *ppUnk = nullptr;
    return E_NOTIMPL;
}

// ---- IOPCCommon

HRESULT OpcServer::SetLocaleID(LCID dwLcid) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (dwLcid != kEnglishLocale) return E_INVALIDARG;
    locale_ = dwLcid;
    return S_OK;
}

HRESULT OpcServer::GetLocaleID(LCID* pdwLcid) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (!pdwLcid) return E_POINTER;
    *pdwLcid = locale_;
    return S_OK;
}

HRESULT OpcServer::QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (!pdwCount || !pdwLcid) return E_POINTER;
    *pdwCount = 0;
    *pdwLcid = taskArray<LCID>(1);
    if (!*pdwLcid) return E_OUTOFMEMORY;
    (*pdwLcid)[0] = kEnglishLocale;
    *pdwCount = 1;
    return S_OK;
}

HRESULT OpcServer::GetErrorString(HRESULT dwError, LPWSTR* ppString) {
    return GetErrorString(dwError, locale_.load(), ppString);
}

HRESULT OpcServer::SetClientName(LPCWSTR szName) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (!szName) return E_POINTER;
    std::string name = ansiFromWide(wideView(szName));
    std::lock_guard lock(clientLock_);
    clientName_ = std::move(name);
    return S_OK;
}

// ---- IOPCItemProperties

HRESULT OpcServer::QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount, DWORD** ppPropertyIDs,
                                            LPWSTR** ppDescriptions, VARTYPE** ppvtDataTypes) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (!szItemID || !pdwCount || !ppPropertyIDs || !ppDescriptions || !ppvtDataTypes) return E_POINTER;
    *pdwCount = 0;
    *ppPropertyIDs = nullptr;
    *ppDescriptions = nullptr;
    *ppvtDataTypes = nullptr;
    TagSnapshot tag;
    DWORD count = 0;
    if (const HRESULT r = FindItemTag(NarrowText(szItemID).view(), &tag, &count); FAILED(r)) return r;
    TaskPtr<DWORD> ids(taskArray<DWORD>(count));
    TaskPtr<LPWSTR> descriptions(taskArray<LPWSTR>(count));
    TaskPtr<VARTYPE> types(taskArray<VARTYPE>(count));
    if (!ids || !descriptions || !types) return E_OUTOFMEMORY;
    ListProperties(count, ids.get(), descriptions.get(), types.get(), tag);
    for (DWORD i = 0; i < count; ++i)
        if (!descriptions[i]) {
            for (DWORD j = 0; j < count; ++j) CoTaskMemFree(descriptions[j]);
            return E_OUTOFMEMORY;
        }
    *pdwCount = count;
    *ppPropertyIDs = ids.release();
    *ppDescriptions = descriptions.release();
    *ppvtDataTypes = types.release();
    return S_OK;
}

HRESULT OpcServer::GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs, VARIANT** ppvData,
                                     HRESULT** ppErrors) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (!szItemID || !pdwPropertyIDs || !ppvData || !ppErrors) return E_POINTER;
    *ppvData = nullptr;
    *ppErrors = nullptr;
    TaskPtr<VARIANT> values(taskArray<VARIANT>(dwCount));  // zero bytes: every entry VT_EMPTY
    TaskPtr<HRESULT> errors(taskArray<HRESULT>(dwCount));
    if (!values || !errors) return E_OUTOFMEMORY;
    TagSnapshot tag;
    DWORD propertyCount = 0;
    if (const HRESULT r = FindItemTag(NarrowText(szItemID).view(), &tag, &propertyCount); FAILED(r)) return r;
    if (const HRESULT r = ReadProperties(tag, dwCount, pdwPropertyIDs, values.get(), errors.get());
        FAILED(r)) {
        for (DWORD i = 0; i < dwCount; ++i) VariantClear(&values[i]);
        return r;
    }
    *ppvData = values.release();
    *ppErrors = errors.release();
    return S_OK;
}

HRESULT OpcServer::LookupItemIDs(LPWSTR /*szItemID*/, DWORD /*dwCount*/, DWORD* /*pdwPropertyIDs*/,
                                 LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (ppszNewItemIDs) *ppszNewItemIDs = nullptr;
    if (ppErrors) *ppErrors = nullptr;
    return LookupIDs();
}

// ---- IConnectionPointContainer

HRESULT OpcServer::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    return enumConnectionPoints({ComPtr<IConnectionPoint>(&shutdownPoint_)}, &objectCount, ppEnum);
}

HRESULT OpcServer::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (!ppCP) return E_POINTER;
    *ppCP = nullptr;
    if (riid != IID_IOPCShutdown) return CONNECT_E_NOCONNECTION;
    shutdownPoint_.AddRef();
    *ppCP = &shutdownPoint_;
    return S_OK;
}

// ---- the operations

HRESULT OpcServer::FindItemTag(std::string_view itemId, TagSnapshot* tag, DWORD* propertyCount) {
    HRESULT copied = S_OK;
    if (!tag->Load(itemId, &copied)) return OPC_E_UNKNOWNITEMID;
    if (FAILED(copied)) return copied;
    *propertyCount = static_cast<DWORD>(kItemProperties.size());
    return S_OK;
}

void OpcServer::ListProperties(DWORD count, DWORD* ids, LPWSTR* descriptions, VARTYPE* types,
                               const TagSnapshot& tag) {
    for (DWORD i = 0; i < count && i < kItemProperties.size(); ++i) {
        const ItemProperty& p = kItemProperties[i];
        ids[i] = p.id;
        descriptions[i] = taskString(p.description);
        types[i] = p.type == VT_EMPTY ? tag.canonical : p.type;
    }
}

HRESULT OpcServer::ReadProperties(const TagSnapshot& tag, DWORD count, const DWORD* ids, VARIANT* values,
                                  HRESULT* errors) {
    for (DWORD i = 0; i < count; ++i) {
        if (const HRESULT r = readProperty(tag, ids[i], &values[i]); FAILED(r)) return r;
        errors[i] = S_OK;
    }
    return S_OK;
}

HRESULT OpcServer::LookupIDs() { return E_NOTIMPL; }

void OpcServer::FillStatus(OPCSERVERSTATUS* status) {
    status->ftStartTime = ServerStartTime();
    status->ftCurrentTime = CoFileTimeNow();
    status->ftLastUpdateTime = core_->lastUpdateTime;
    status->dwServerState = OPC_STATUS_RUNNING;
    status->dwGroupCount = static_cast<DWORD>(groups_.size());
    status->dwBandWidth = 0;
    status->wMajorVersion = 2;
    status->wMinorVersion = 0;
    status->wBuildNumber = 1;
}

HRESULT OpcServer::SystemErrorText(HRESULT /*code*/, LCID /*locale*/, std::u16string* /*text*/) {
    return E_FAIL;
}

OpcGroup* OpcServer::CreateGroup(std::string name, BOOL active, DWORD requestedRate, OPCHANDLE clientHandle,
                                 const LONG* timeBias, const float* percentDeadband, DWORD lcid) {
    OpcGroup* group = OpcGroup::Create(core_);
    if (group)
        group->Initialize(std::move(name), active, requestedRate, clientHandle, timeBias, percentDeadband,
                          lcid);
    return group;
}

}  // namespace ferrow::opc
