#pragma once

namespace devsim {

class ShellService;

// The shell's settings commands: "clock get|set", "ip get|set", "Gateway get|set", "Subnet get|set".
// Addresses set with "-p " are kept in flash and survive a reboot; the others last until the next boot.
void installSettingsCommands(ShellService& shell);

}  // namespace devsim
