#pragma once

namespace devsim {

class ShellService;
class SimulatedDevice;
struct FileFaults;

// The file services of the shell: "dir", "makedir", "deldir", "delfile", "copy" and "getfile", on the
// device's root folder. Bulk data goes over a second connection that the command claims from the shell.
void installFileCommands(ShellService& shell);

// The file services' faults of a started device (valid while it runs).
FileFaults& fileFaults(SimulatedDevice& device);

}  // namespace devsim
