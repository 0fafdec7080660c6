#include "ferrow/devlink/trace.h"

#include <atomic>
#include <cstdio>
#include <mutex>

namespace ferrow {

namespace {

class StandardError : public TraceOutput {
  public:
    void Write(std::string_view text) override {
        std::lock_guard lock(mutex_);
        std::fwrite(text.data(), 1, text.size(), stderr);
    }

  private:
    std::mutex mutex_;
};

StandardError standardError;
std::atomic<TraceOutput*> current{&standardError};

}  // namespace

void setTraceOutput(TraceOutput* output) { current = output ? output : &standardError; }

void trace(std::string_view text) { current.load()->Write(text); }

void trace(const char* format, int code) {
    char text[160];
    std::snprintf(text, sizeof text, format, code);
    trace(std::string_view(text));
}

}  // namespace ferrow
