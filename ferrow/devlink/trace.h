#pragma once

#include <string>
#include <string_view>

namespace ferrow {

// Where the device link's diagnostic texts go: never to the user, standard error by default. Tests
// install their own output to read them.
class TraceOutput {
  public:
    virtual ~TraceOutput() = default;
    // Called from any thread.
    virtual void Write(std::string_view text) = 0;
};

// Installs `output` (not owned); nullptr goes back to standard error.
void setTraceOutput(TraceOutput* output);
void trace(std::string_view text);
// A text with one "%i" filled in with `code`.
void trace(const char* format, int code);

}  // namespace ferrow
