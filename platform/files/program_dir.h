#pragma once

#include <QString>

namespace platform {

// The folder that holds a program's own files (qnIPs.txt, qnLog.txt): the executable's folder, or the
// folder named by QUILLON_PROGRAM_DIR when it is set (tests and the demo always set it).
QString programDir();

// programDir() + "/" + fileName.
QString programFile(const QString& fileName);

}  // namespace platform
