#pragma once

#include <string>
#include <utility>

namespace ferrow {

// The outcome of a document operation that can fail for a reason the user must hear: the document
// reports, the application shows it (the text in UTF-8). True when the operation was done.
struct DocResult {
    static DocResult Done() { return {}; }
    // `warning`: shown with the exclamation icon, otherwise a plain message.
    static DocResult Failed(std::string text, bool warning) {
        return DocResult{false, std::move(text), warning};
    }

    explicit operator bool() const { return ok; }

    bool ok = true;
    std::string text;
    bool warning = false;
};

}  // namespace ferrow
