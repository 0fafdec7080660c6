#pragma once

namespace ferrow {

class OTagGroup;

// What the document tells its views, with an optional object.
enum ViewHint : int {
    kHintRebuild = 0,     // file opened, device deleted
    kHintProperties = 1,  // device or group properties changed
    kHintImages = 2,      // connection images
    kHintSelection = 3,   // selection changed, monitor stopped
    kHintValues = 4,      // value column
    kHintAdded = 5,       // device added (with the device)
    kHintClear = 6,       // New or Open begins
};

// A view of the document (the device tree, the tag list). Called on the document's thread.
class CDocView {
  public:
    virtual ~CDocView() = default;
    virtual void OnUpdate(int hint, OTagGroup* object) = 0;
    // New and Open start the tag-loading timer on the device tree.
    virtual void StartTagLoading() {}
    // Monitoring switched on or off: the tag list runs its value-refresh timer meanwhile.
    virtual void SetValueTimer(bool /*running*/) {}
};

}  // namespace ferrow
