#pragma once

#include <QString>

#include "tests/support/scripted_peer.h"
#include "tests/support/test_environment.h"
#include "tests/vantor/files/test_shell_host.h"
#include "vantor/files/fce_browse.h"

namespace testsupport {

// A copy window (Window: FUpload or FDownload) wired to a scripted device on an address of its own:
// the window's shell is the peer's connection 0, the copy's data connection is connection 1. The
// window is ready for a copy once `connected` is true. Message boxes go to the test's own dialogs.
template <typename Window>
struct CopyWire {
    const QString address = uniqueLoopbackAddress();
    ScriptedPeer peer{address, 4212};
    TestShellHost host;
    vantor::files::FCEBrowse browser{host};
    Window window{host, browser};
    const bool connected = host.connectTo(address) && (window.begin(), true);
};

}  // namespace testsupport
