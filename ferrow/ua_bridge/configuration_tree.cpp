#include "ferrow/ua_bridge/configuration_tree.h"

#include <mutex>

#include "ferrow/model/cdoc.h"
#include "ferrow/model/locks.h"
#include "ferrow/ua_bridge/tag_values.h"

namespace ferrow::ua_bridge {

namespace {

ua::FolderInfo folderOf(const OTagGroup& group) {
    ua::FolderInfo folder;
    folder.name = group.m_strName;
    folder.path = group.GetPath();
    if (!folder.path.empty() && folder.path.back() == '.') folder.path.pop_back();
    for (const auto& tag : group.m_tags) {
        const auto* device = dynamic_cast<const OqnTag*>(tag.get());
        folder.tags.push_back(ua::TagInfo{tag->m_strName, group.GetPath() + tag->m_strName,
                                          tagTypeOf(tag->m_vtCanonical), device && device->m_bOutput});
    }
    for (const auto& sub : group.m_groups) folder.folders.push_back(folderOf(*sub));
    return folder;
}

void appendFingerprint(const ua::FolderInfo& folder, std::string& out) {
    out += "F\x1f" + folder.name + "\x1f" + folder.path + "\x1e";
    for (const ua::TagInfo& tag : folder.tags) {
        out += "T\x1f" + tag.name + "\x1f" + tag.itemId + "\x1f";
        out += static_cast<char>('a' + static_cast<int>(tag.type));
        out += tag.writable ? "w\x1e" : "r\x1e";
    }
    for (const ua::FolderInfo& sub : folder.folders) appendFingerprint(sub, out);
    out += "E\x1e";
}

}  // namespace

std::vector<ua::FolderInfo> configurationTree(CDoc& doc) {
    std::lock_guard lock(documentLock());
    std::vector<ua::FolderInfo> tree;
    tree.reserve(doc.m_root.m_groups.size());
    for (const auto& device : doc.m_root.m_groups) tree.push_back(folderOf(*device));
    return tree;
}

std::string treeFingerprint(const std::vector<ua::FolderInfo>& tree) {
    std::string out;
    for (const ua::FolderInfo& folder : tree) appendFingerprint(folder, out);
    return out;
}

}  // namespace ferrow::ua_bridge
