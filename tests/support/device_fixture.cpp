#include "tests/support/device_fixture.h"

#include <gtest/gtest.h>

#include "tests/support/test_environment.h"

namespace testsupport {

std::unique_ptr<devsim::SimulatedDevice> startDevice(devsim::DeviceOptions options) {
    options.address = uniqueLoopbackAddress();
    if (options.root.isEmpty()) options.root = freshFolder(QStringLiteral("device"));
    auto device = std::make_unique<devsim::SimulatedDevice>(options);
    QString error;
    if (!device->start(&error)) {
        ADD_FAILURE() << "simulated device did not start: " << error.toStdString();
        return nullptr;
    }
    return device;
}

}  // namespace testsupport
