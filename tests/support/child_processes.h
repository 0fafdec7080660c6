#pragma once

#include <chrono>

namespace testsupport {

// Makes this test process the parent of every process its children leave behind (a bus daemon's
// activated servers when the daemon ends first), and ends all of them when the process is killed by a
// signal it can catch or crashes. Called once, from the test main.
void adoptOrphans();

// Ends every child process of this one: SIGTERM, then SIGKILL for those still there after `grace`,
// each reaped; repeated while ending one leaves orphans that became children meanwhile. Fixtures
// that start processes call it when they tear down, so that a failed test leaves nothing running for
// the next one; the test main calls it before the process ends.
void endChildProcesses(std::chrono::milliseconds grace = std::chrono::seconds(3));

}  // namespace testsupport
