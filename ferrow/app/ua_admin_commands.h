#pragma once

#include <QStringList>
#include <optional>

namespace ferrow {

// The OPC UA administration commands, run without a window and ended at once:
//   --ua-pki               prints the folder of the certificates (creating its folders and the
//                          endpoint's own certificate when missing)
//   --ua-trust FILE        copies the certificate in FILE (DER or PEM) into trusted/certs as DER
//   --ua-user-add NAME     adds the user or sets a new password: asked twice on a terminal without echo,
//                          else one line of standard input
//   --ua-user-remove NAME  removes the user
// nullopt when `arguments` hold none of them; else the exit code (0 done, 1 refused, with the reason on
// standard error). Runs on the main thread before anything else starts.
std::optional<int> runUaAdminCommand(const QStringList& arguments);

}  // namespace ferrow
