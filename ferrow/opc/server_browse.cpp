// The server's browse position and IOPCBrowseServerAddressSpace over the open configuration.
#include <algorithm>

#include "ferrow/model/cdoc.h"
#include "ferrow/model/locks.h"
#include "ferrow/opc/opc_server.h"
#include "platform/com/task_memory.h"

namespace ferrow::opc {

using namespace platform::com;

// ---- IOPCBrowseServerAddressSpace

BrowsePath OpcServer::browsePosition() {
    std::lock_guard lock(clientLock_);
    return browsePosition_;
}

void OpcServer::setBrowsePosition(BrowsePath path) {
    std::lock_guard lock(clientLock_);
    browsePosition_ = std::move(path);
}

HRESULT OpcServer::QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (!pNameSpaceType) return E_POINTER;
    *pNameSpaceType = QueryOrganizationType();
    return S_OK;
}

HRESULT OpcServer::ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    return MoveBrowsePosition(dwBrowseDirection, ansiFromWide(wideView(szString)));
}

HRESULT OpcServer::BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                                    VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                                    IEnumString** ppIEnumString) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (!ppIEnumString) return E_POINTER;
    *ppIEnumString = nullptr;
    if (!isKnownBrowseType(dwBrowseFilterType)) return E_INVALIDARG;
    return CreateBrowseEnum(dwBrowseFilterType, ansiFromWide(wideView(szFilterCriteria)), vtDataTypeFilter,
                            dwAccessRightsFilter, ppIEnumString);
}

HRESULT OpcServer::GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (!szItemID) return E_POINTER;
    *szItemID = nullptr;
    std::string itemId;
    if (const HRESULT r = MakeItemID(ansiFromWide(wideView(szItemDataID)), &itemId); FAILED(r)) return r;
    *szItemID = taskStringFromAnsi(itemId);
    return *szItemID ? S_OK : E_OUTOFMEMORY;
}

HRESULT OpcServer::BrowseAccessPaths(LPCWSTR /*szItemID*/, IEnumString** ppIEnumString) {
    auto call = enterCall();
    if (!call) return RPC_E_DISCONNECTED;
    if (ppIEnumString) *ppIEnumString = nullptr;
    return E_NOTIMPL;
}

// ---- the browse operations

OPCNAMESPACETYPE OpcServer::QueryOrganizationType() { return OPC_NS_HIERARCHIAL; }

HRESULT OpcServer::MoveBrowsePosition(OPCBROWSEDIRECTION direction, const std::string& name) {
    BrowsePath path = browsePosition();
    if (direction == OPC_BROWSE_UP) {
        if (path.empty()) return E_FAIL;
        path.pop_back();
        setBrowsePosition(std::move(path));
        return S_OK;
    }
    // DOWN and TO alike: one level, relative, to a sub-group of exactly that name.
    {
        std::lock_guard lock(documentLock());
        const OTagGroup* here = resolveBrowsePath(path);
        const bool found = here && std::any_of(here->m_groups.begin(), here->m_groups.end(),
                                               [&](const auto& child) { return child->m_strName == name; });
        if (!found) return E_INVALIDARG;
    }
    path.push_back(name);
    setBrowsePosition(std::move(path));
    return S_OK;
}

HRESULT OpcServer::CreateBrowseEnum(OPCBROWSETYPE type, std::string filter, VARTYPE dataTypeFilter,
                                    DWORD accessRightsFilter, IEnumString** out) {
    if (type == OPC_FLAT) setBrowsePosition({});
    BrowseEnum* created =
        BrowseEnum::Create(browsePosition(), type, std::move(filter), dataTypeFilter, accessRightsFilter);
    if (!created) return E_OUTOFMEMORY;
    const HRESULT query = created->QueryInterface(IID_IEnumString, reinterpret_cast<void**>(out));
    created->Release();
    return query;
}

HRESULT OpcServer::MakeItemID(const std::string& name, std::string* itemId) {
    const BrowsePath path = browsePosition();
    std::lock_guard lock(documentLock());
    if (const OTagGroup* here = resolveBrowsePath(path)) {
        const bool known = std::any_of(here->m_groups.begin(), here->m_groups.end(),
                                       [&](const auto& child) { return child->m_strName == name; }) ||
                           std::any_of(here->m_tags.begin(), here->m_tags.end(),
                                       [&](const auto& tag) { return tag->m_strName == name; });
        if (known) {
            *itemId = here->GetPath() + name;
            return S_OK;
        }
    }
    CDoc* doc = CDoc::Live();
    if (doc && doc->FindItem(name)) {
        *itemId = name;
        return S_OK;
    }
    return E_FAIL;
}

}  // namespace ferrow::opc
