#pragma once

namespace ferrow {

class CMainFrame;

// For the demo: when QUILLON_DEMO_CONNECT is set, monitoring is switched on as soon as the first device
// has its tags, and the device is asked to simulate, so that the window shows live values. Does nothing
// otherwise.
void monitorForDemoIfAsked(CMainFrame& frame);

}  // namespace ferrow
