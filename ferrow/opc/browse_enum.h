#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ferrow/opc/opc_interfaces.h"
#include "platform/com/com_object.h"

namespace ferrow {
class OTagGroup;
}

namespace ferrow::opc {

// A place in the tag tree, kept as the group names from the root down rather than as a pointer: a
// device deleted while a client stands in it only makes the path lead nowhere.
using BrowsePath = std::vector<std::string>;

// The group the path names in the live document (first sub-group of exactly that name at each step),
// or null. Call with the document lock held; the group is valid only while it stays held.
OTagGroup* resolveBrowsePath(const BrowsePath& path);

// The IEnumString of BrowseOPCItemIDs. BRANCH and LEAF walk the live lists of the group at `path`, so
// they see the configuration as it is at each call; FLAT lists every item ID below it, collected once at
// creation. A non-empty filter keeps the names MatchPattern accepts; the data-type and access filters are
// kept but not applied. Counted in objectCount; callable from any thread.
class BrowseEnum final : public platform::com::ComObject<platform::com::IEnumString> {
  public:
    // Null when memory runs out; otherwise the enumerator with one reference for the caller.
    static BrowseEnum* Create(BrowsePath path, OPCBROWSETYPE type, std::string filter, VARTYPE dataTypeFilter,
                              DWORD accessRightsFilter);

    HRESULT Next(ULONG celt, platform::com::LPOLESTR* rgelt, ULONG* pceltFetched) override;
    HRESULT Skip(ULONG celt) override;
    HRESULT Reset() override;
    HRESULT Clone(platform::com::IEnumString** ppenum) override;

  private:
    // The FLAT list: every item ID in one block, so that collecting 2 000 IDs costs two allocations.
    struct FlatIds {
        std::string chars;
        std::vector<std::size_t> ends;
        std::size_t size() const { return ends.size(); }
        std::string_view at(std::size_t i) const {
            const std::size_t begin = i == 0 ? 0 : ends[i - 1];
            return std::string_view(chars).substr(begin, ends[i] - begin);
        }
    };
    BrowseEnum(BrowsePath path, OPCBROWSETYPE type, std::string filter, VARTYPE dataTypeFilter,
               DWORD accessRightsFilter, std::shared_ptr<const FlatIds> flat);
    // Hands up to `count` names that pass the filter, from the current place on, to `emit` and moves the
    // place past them; stops early when `emit` returns false. Call with placeLock_ held.
    template <class Emit>
    ULONG walk(ULONG count, Emit&& emit);

    const BrowsePath path_;
    const OPCBROWSETYPE type_;
    const std::string filter_;
    const VARTYPE dataTypeFilter_;
    const DWORD accessRightsFilter_;
    const std::shared_ptr<const FlatIds> flat_;
    std::mutex placeLock_;
    std::size_t place_ = 0;
};

}  // namespace ferrow::opc
