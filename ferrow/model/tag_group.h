#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ferrow/model/tag.h"

namespace ferrow {

class ODevice;

// A named container of tags and sub-groups; the document's root group holds the devices. Owns both
// lists. Changed only under the document lock.
class OTagGroup {
  public:
    OTagGroup();
    virtual ~OTagGroup();
    OTagGroup(const OTagGroup&) = delete;
    OTagGroup& operator=(const OTagGroup&) = delete;

    virtual ODevice* GetDevice();
    // "Device.Group." for a group inside a device; the root's path is empty.
    virtual std::string GetPath() const;
    virtual bool IsDevice() const { return false; }

    // "Group.Tag" walks sub-groups (first name match ignoring case); a name without "." is a tag of
    // this group. Null when nothing matches.
    OTag* FindTag(std::string_view path) const;
    // Whether an OPC item holds one of the tags of this group or of its sub-groups (active or not).
    // Call under the document lock.
    bool TagsHeld() const;

    std::string m_strName = "Group";
    std::string m_strDescription;
    std::vector<std::unique_ptr<OTag>> m_tags;
    std::vector<std::unique_ptr<OTagGroup>> m_groups;
    OTagGroup* m_pParent = nullptr;
    std::uint16_t m_wReserved = 1;
    void* m_hTreeItem = nullptr;
    std::atomic<int> m_nUseCount{0};
};

}  // namespace ferrow
