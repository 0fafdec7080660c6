#include "ferrow/opc/browse_enum.h"

#include <new>

#include "ferrow/model/cdoc.h"
#include "ferrow/model/locks.h"
#include "ferrow/opc/match_pattern.h"
#include "ferrow/opc/object_count.h"
#include "platform/com/task_memory.h"

namespace ferrow::opc {

using namespace platform::com;

namespace {
// Every item ID below `group`: its own tags in list order, then its sub-groups, depth first.
void collectItemIds(const OTagGroup& group, std::vector<std::string>* out) {
    const std::string path = group.GetPath();
    for (const auto& tag : group.m_tags) out->push_back(path + tag->m_strName);
    for (const auto& child : group.m_groups) collectItemIds(*child, out);
}
}  // namespace

OTagGroup* resolveBrowsePath(const BrowsePath& path) {
    CDoc* doc = CDoc::Live();
    if (!doc) return nullptr;
    OTagGroup* group = &doc->m_root;
    for (const auto& name : path) {
        OTagGroup* next = nullptr;
        for (const auto& child : group->m_groups)
            if (child->m_strName == name) {
                next = child.get();
                break;
            }
        if (!next) return nullptr;
        group = next;
    }
    return group;
}

BrowseEnum* BrowseEnum::Create(BrowsePath path, OPCBROWSETYPE type, std::string filter, VARTYPE dataTypeFilter,
                               DWORD accessRightsFilter) {
    std::shared_ptr<Names> flat;
    if (type == OPC_FLAT) {
        flat = std::make_shared<Names>();
        std::lock_guard lock(documentLock());
        if (OTagGroup* group = resolveBrowsePath(path)) collectItemIds(*group, flat.get());
    }
    auto* created = new (std::nothrow)
        BrowseEnum(std::move(path), type, std::move(filter), dataTypeFilter, accessRightsFilter, std::move(flat));
    if (created) created->AddRef();
    return created;
}

BrowseEnum::BrowseEnum(BrowsePath path, OPCBROWSETYPE type, std::string filter, VARTYPE dataTypeFilter,
                       DWORD accessRightsFilter, std::shared_ptr<const Names> flat)
    : ComObject(&objectCount),
      path_(std::move(path)),
      type_(type),
      filter_(std::move(filter)),
      dataTypeFilter_(dataTypeFilter),
      accessRightsFilter_(accessRightsFilter),
      flat_(std::move(flat)) {}

BrowseEnum::Names BrowseEnum::take(ULONG count) {
    Names out;
    const auto passes = [this](const std::string& name) { return filter_.empty() || MatchPattern(name, filter_); };
    if (type_ == OPC_FLAT) {
        for (; place_ < flat_->size() && out.size() < count; ++place_)
            if (passes((*flat_)[place_])) out.push_back((*flat_)[place_]);
        return out;
    }
    if (type_ != OPC_BRANCH && type_ != OPC_LEAF) return out;
    std::lock_guard documentGuard(documentLock());
    const OTagGroup* group = resolveBrowsePath(path_);
    if (!group) return out;
    const std::size_t size = type_ == OPC_BRANCH ? group->m_groups.size() : group->m_tags.size();
    for (; place_ < size && out.size() < count; ++place_) {
        const std::string& name =
            type_ == OPC_BRANCH ? group->m_groups[place_]->m_strName : group->m_tags[place_]->m_strName;
        if (passes(name)) out.push_back(name);
    }
    return out;
}

HRESULT BrowseEnum::Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) {
    if (pceltFetched) *pceltFetched = 0;
    if (!rgelt) return E_POINTER;
    std::lock_guard placeGuard(placeLock_);
    const std::size_t start = place_;
    const Names names = take(celt);
    for (std::size_t i = 0; i < names.size(); ++i) {
        rgelt[i] = taskStringFromAnsi(names[i]);
        if (!rgelt[i]) {
            for (std::size_t j = 0; j < i; ++j) {
                CoTaskMemFree(rgelt[j]);
                rgelt[j] = nullptr;
            }
            place_ = start;  // nothing was handed out: the next call starts here again
            return E_OUTOFMEMORY;
        }
    }
    if (pceltFetched) *pceltFetched = static_cast<ULONG>(names.size());
    return names.size() == celt ? S_OK : S_FALSE;
}

HRESULT BrowseEnum::Skip(ULONG celt) {
    std::lock_guard placeGuard(placeLock_);
    return take(celt).size() == celt ? S_OK : S_FALSE;
}

HRESULT BrowseEnum::Reset() {
    std::lock_guard placeGuard(placeLock_);
    place_ = 0;
    return S_OK;
}

HRESULT BrowseEnum::Clone(IEnumString** ppenum) {
    if (!ppenum) return E_POINTER;
    *ppenum = new (std::nothrow) BrowseEnum(path_, type_, filter_, dataTypeFilter_, accessRightsFilter_, flat_);
    if (!*ppenum) return E_OUTOFMEMORY;
    (*ppenum)->AddRef();
    return S_OK;
}

}  // namespace ferrow::opc
