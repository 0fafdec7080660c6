#include "ferrow/app/demo_monitor.h"

#include <QAction>

#include "ferrow/app/c_main_frame.h"
#include "ferrow/app/views/device_commands.h"
#include "ferrow/app/views/device_view.h"
#include "ferrow/model/device.h"

namespace ferrow {

void monitorForDemoIfAsked(CMainFrame& frame) {
    if (qEnvironmentVariableIsEmpty("QUILLON_DEMO_CONNECT")) return;
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = QObject::connect(frame.m_pDeviceView, &CDeviceView::tagLoadEnded, &frame,
                                   [&frame, connection](ODevice*, bool loaded) {
                                       if (!loaded) return;
                                       QObject::disconnect(*connection);
                                       DeviceCommands& commands = *frame.m_pCommands;
                                       commands.updateStates();
                                       // The simulated device changes its values only while it simulates.
                                       if (commands.simulate->isEnabled()) commands.simulate->trigger();
                                       if (commands.monitor->isEnabled()) commands.monitor->trigger();
                                   });
}

}  // namespace ferrow
