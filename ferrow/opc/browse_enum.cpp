#include "ferrow/opc/browse_enum.h"

#include <new>

#include "ferrow/model/cdoc.h"
#include "ferrow/model/locks.h"
#include "ferrow/opc/match_pattern.h"
#include "ferrow/opc/object_count.h"
#include "platform/com/task_memory.h"

namespace ferrow::opc {

using namespace platform::com;

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

namespace {
// Every item ID below `group`: its own tags in list order, then its sub-groups, depth first.
template <class Add>
void collectItemIds(const OTagGroup& group, Add&& add) {
    const std::string path = group.GetPath();
    for (const auto& tag : group.m_tags) add(path, tag->m_strName);
    for (const auto& child : group.m_groups) collectItemIds(*child, add);
}
}  // namespace

BrowseEnum* BrowseEnum::Create(BrowsePath path, OPCBROWSETYPE type, std::string filter,
                               VARTYPE dataTypeFilter, DWORD accessRightsFilter) {
    std::shared_ptr<FlatIds> flat;
    if (type == OPC_FLAT) {
        flat = std::make_shared<FlatIds>();
        std::lock_guard lock(documentLock());
        if (OTagGroup* group = resolveBrowsePath(path)) {
            std::size_t bytes = 0, count = 0;
            collectItemIds(*group, [&](const std::string& prefix, const std::string& name) {
                bytes += prefix.size() + name.size();
                ++count;
            });
            flat->chars.reserve(bytes);
            flat->ends.reserve(count);
            collectItemIds(*group, [&](const std::string& prefix, const std::string& name) {
                flat->chars += prefix;
                flat->chars += name;
                flat->ends.push_back(flat->chars.size());
            });
        }
    }
    auto* created = new (std::nothrow) BrowseEnum(std::move(path), type, std::move(filter), dataTypeFilter,
                                                  accessRightsFilter, std::move(flat));
    if (created) created->AddRef();
    return created;
}

BrowseEnum::BrowseEnum(BrowsePath path, OPCBROWSETYPE type, std::string filter, VARTYPE dataTypeFilter,
                       DWORD accessRightsFilter, std::shared_ptr<const FlatIds> flat)
    : ComObject(&objectCount),
      path_(std::move(path)),
      type_(type),
      filter_(std::move(filter)),
      dataTypeFilter_(dataTypeFilter),
      accessRightsFilter_(accessRightsFilter),
      flat_(std::move(flat)) {}

template <class Emit>
ULONG BrowseEnum::walk(ULONG count, Emit&& emit) {
    ULONG done = 0;
    const auto offer = [&](std::string_view name) {
        if (!filter_.empty() && !MatchPattern(name, filter_)) return true;
        if (!emit(name, done)) return false;
        ++done;
        return true;
    };
    if (type_ == OPC_FLAT) {
        for (; place_ < flat_->size() && done < count; ++place_)
            if (!offer(flat_->at(place_))) break;
        return done;
    }
    if (type_ != OPC_BRANCH && type_ != OPC_LEAF) return done;
    std::lock_guard documentGuard(documentLock());
    const OTagGroup* group = resolveBrowsePath(path_);
    if (!group) return done;
    const std::size_t size = type_ == OPC_BRANCH ? group->m_groups.size() : group->m_tags.size();
    for (; place_ < size && done < count; ++place_) {
        const std::string& name =
            type_ == OPC_BRANCH ? group->m_groups[place_]->m_strName : group->m_tags[place_]->m_strName;
        if (!offer(name)) break;
    }
    return done;
}

HRESULT BrowseEnum::Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) {
    if (pceltFetched) *pceltFetched = 0;
    if (!rgelt) return E_POINTER;
    std::lock_guard placeGuard(placeLock_);
    const std::size_t start = place_;
    bool outOfMemory = false;
    const ULONG fetched = walk(celt, [&](std::string_view name, ULONG at) {
        rgelt[at] = taskStringFromAnsi(name);
        outOfMemory = !rgelt[at];
        return !outOfMemory;
    });
    if (outOfMemory) {
        for (ULONG j = 0; j < fetched; ++j) {
            CoTaskMemFree(rgelt[j]);
            rgelt[j] = nullptr;
        }
        place_ = start;  // nothing was handed out: the next call starts here again
        return E_OUTOFMEMORY;
    }
    if (pceltFetched) *pceltFetched = fetched;
    return fetched == celt ? S_OK : S_FALSE;
}

HRESULT BrowseEnum::Skip(ULONG celt) {
    std::lock_guard placeGuard(placeLock_);
    return walk(celt, [](std::string_view, ULONG) { return true; }) == celt ? S_OK : S_FALSE;
}

HRESULT BrowseEnum::Reset() {
    std::lock_guard placeGuard(placeLock_);
    place_ = 0;
    return S_OK;
}

HRESULT BrowseEnum::Clone(IEnumString** ppenum) {
    if (!ppenum) return E_POINTER;
    *ppenum =
        new (std::nothrow) BrowseEnum(path_, type_, filter_, dataTypeFilter_, accessRightsFilter_, flat_);
    if (!*ppenum) return E_OUTOFMEMORY;
    (*ppenum)->AddRef();
    return S_OK;
}

}  // namespace ferrow::opc
