#include "merrow/pane_text.h"

namespace merrow {

void PaneText::append(const QByteArray& text) {
    constexpr qsizetype cut = kKeepFrom - 1;
    const qsizetype total = text_.size() + text.size();
    if (total <= kLimit) {
        text_ += text;
        return;
    }
    const qsizetype drop = (total - kLimit + cut - 1) / cut * cut;
    // Only what survives the cut is copied: under a flood most of a piece never reaches the pane.
    if (drop >= text_.size()) {
        text_ = text.mid(drop - text_.size());
    } else {
        text_.remove(0, drop);
        text_ += text;
    }
    base_ += drop;
}

void PaneText::clear() {
    base_ += text_.size();
    text_.clear();
}

}  // namespace merrow
