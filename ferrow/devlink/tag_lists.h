#pragma once

#include <vector>

namespace ferrow {

class OTag;

// Operations over a list of tags, possibly of several devices; each tag goes to the device that holds
// it. Called by the monitor and the OPC groups from their own threads.

// "chgdp" for each tag; false at the first failed exchange or empty reply (true for an empty list).
bool SubscribeTags(int handle, const std::vector<OTag*>& tags);
// One "rem" per run of tags of the same device; replies are not read.
bool UnsubscribeTags(int handle, const std::vector<OTag*>& tags);
// With poll false: nothing. Otherwise "getdp" for each tag in turn; a device that gives no value marks
// all its tags with a communication failure and ends the call with false.
bool ReadTags(bool poll, const std::vector<OTag*>& tags);

}  // namespace ferrow
