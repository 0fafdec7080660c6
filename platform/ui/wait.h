#pragma once

#include <chrono>
#include <functional>

namespace platform::ui {

// "Wait, processing window events, until `done` or the time limit": blocks in the event loop, so socket
// and timer events run meanwhile, and sleeps while nothing arrives. `done` is checked before the first
// event and after every event. Returns done()'s last answer. The limit is measured on the monotonic
// clock (a wait across midnight or a clock change ends on time); it is not scaled here.
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

// Processes events for `duration` (monotonic), sleeping in between.
void waitFor(std::chrono::milliseconds duration);

}  // namespace platform::ui
