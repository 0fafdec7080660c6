#pragma once

#include <chrono>

namespace platform {

// One factor for every fixed time limit of the programs (5 s, 10 s, 30 s, ...).
// It is 1 in normal use; tests shorten the limits with it (QUILLON_TIME_SCALE or setTimeScale), never by
// editing the constants.
double timeScale();
void setTimeScale(double factor);

// `limit` multiplied by the time scale, at least 1 ms.
std::chrono::milliseconds scaled(std::chrono::milliseconds limit);

}  // namespace platform
