#pragma once

#include "ferrow/cli/arguments.h"
#include "ferrow/cli/session.h"

namespace ferrow::cli {

class StopSignal;

// The commands, each over one server connection; each returns the program's exit status.
int runStatus(Session& session, const Arguments& args);
int runBrowse(Session& session, const Arguments& args);
int runProperties(Session& session, const Arguments& args);
int runRead(Session& session, const Arguments& args);
int runWrite(Session& session, const Arguments& args);
// Returns when `stop` is raised, or after --count lines or --duration.
int runWatch(Session& session, const Arguments& args, const StopSignal& stop);

}  // namespace ferrow::cli
