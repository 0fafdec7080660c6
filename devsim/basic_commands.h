#pragma once

namespace devsim {

class ShellService;

// The shell's own commands: help, ver, echo, log and boot.
void installBasicCommands(ShellService& shell);

}  // namespace devsim
