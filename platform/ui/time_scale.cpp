#include "platform/ui/time_scale.h"

#include <QString>
#include <algorithm>
#include <atomic>

namespace platform {

namespace {
double initialScale() {
    bool ok = false;
    const double factor = qEnvironmentVariable("QUILLON_TIME_SCALE").toDouble(&ok);
    return ok && factor > 0 ? factor : 1.0;
}

std::atomic<double>& scale() {
    static std::atomic<double> value{initialScale()};
    return value;
}
}  // namespace

double timeScale() { return scale().load(); }

void setTimeScale(double factor) { scale().store(factor > 0 ? factor : 1.0); }

std::chrono::milliseconds scaled(std::chrono::milliseconds limit) {
    const auto ms = static_cast<long long>(static_cast<double>(limit.count()) * timeScale());
    return std::chrono::milliseconds(std::max(1LL, ms));
}

}  // namespace platform
