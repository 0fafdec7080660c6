#pragma once

#include <chrono>
#include <thread>

#include "devsim/simulated_device.h"
#include "ferrow/devlink/device_link.h"
#include "ferrow/model/cdoc.h"
#include "ferrow/model/device.h"

namespace bustest {

// A device of `doc` at the simulated device's address, connected (within 30 s) and with its tags
// loaded (`tagsLoaded` says how many); null when it could not be added.
inline ferrow::ODevice* addConnectedDevice(ferrow::CDoc& doc, const devsim::SimulatedDevice& sim,
                                           int* tagsLoaded) {
    ferrow::ODevice* device = doc.AddDevice([&](ferrow::ODevice& d) {
        const QStringList octets = sim.options().address.split('.');
        for (int i = 0; i < 4; ++i)
            d.m_params.m_strOctet[static_cast<std::size_t>(i)] = octets[i].toStdString();
        return true;
    });
    if (!device) return nullptr;
    for (int i = 0; i < 3000 && !device->IsConnected(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    *tagsLoaded = ferrow::LinkOf(*device).LoadTags();
    return device;
}

}  // namespace bustest
