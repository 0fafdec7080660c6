#pragma once

#include <string>
#include <vector>

#include "ferrow/ua/data_source.h"

namespace ferrow {
class CDoc;
}

namespace ferrow::ua_bridge {

// The document's devices as folders: each device and group with its path (names joined by "."), its
// tags with their item IDs, types and whether they are outputs. Takes the document lock.
std::vector<ua::FolderInfo> configurationTree(CDoc& doc);

// A text that differs whenever two trees differ in anything the endpoint shows.
std::string treeFingerprint(const std::vector<ua::FolderInfo>& tree);

}  // namespace ferrow::ua_bridge
