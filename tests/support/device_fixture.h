#pragma once

#include <QString>
#include <memory>

#include "devsim/simulated_device.h"

namespace testsupport {

// A simulated device on a loopback address of the test's own, with a fresh file root; started.
// Fails the current test (and returns nullptr) when it can't start.
std::unique_ptr<devsim::SimulatedDevice> startDevice(devsim::DeviceOptions options = {});

}  // namespace testsupport
