#pragma once

namespace vantor {

class frmMain;

// For the demo: when QUILLON_DEMO_CONNECT names a device, connect to it as a double-click on its entry
// would and, once connected, type "help", so that the window shows a live console.
void connectForDemoIfAsked(frmMain& window);

}  // namespace vantor
