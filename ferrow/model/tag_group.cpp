#include "ferrow/model/tag_group.h"

#include "ferrow/model/name_order.h"

namespace ferrow {

OTagGroup::OTagGroup() = default;
OTagGroup::~OTagGroup() = default;

ODevice* OTagGroup::GetDevice() { return m_pParent ? m_pParent->GetDevice() : nullptr; }

std::string OTagGroup::GetPath() const {
    if (!m_pParent) return {};
    return m_pParent->GetPath() + m_strName + ".";
}

OTag* OTagGroup::FindTag(std::string_view path) const {
    const auto dot = path.find('.');
    if (dot != std::string_view::npos) {
        const std::string_view group = path.substr(0, dot);
        for (const auto& g : m_groups)
            if (equalNoCase(g->m_strName, group)) return g->FindTag(path.substr(dot + 1));
        return nullptr;
    }
    for (const auto& tag : m_tags)
        if (equalNoCase(tag->m_strName, path)) return tag.get();
    return nullptr;
}

bool OTagGroup::TagsHeld() const {
    for (const auto& tag : m_tags)
        if (tag->m_nRef > 0) return true;
    for (const auto& group : m_groups)
        if (group->TagsHeld()) return true;
    return false;
}

}  // namespace ferrow
