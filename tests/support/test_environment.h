#pragma once

#include <QString>

namespace testsupport {

// A loopback address of this test's own (127.x.y.z from the process id and a counter), so that tests
// running in parallel never share a port.
QString uniqueLoopbackAddress();

// The private program folder (QUILLON_PROGRAM_DIR) and settings folder (XDG_CONFIG_HOME) that the test
// main made for this process.
QString programDir();
QString settingsDir();

// A fresh empty folder below the test's temporary folder.
QString freshFolder(const QString& name);

// Deletes the contents of the program folder and the settings folder (between test cases).
void resetFolders();

}  // namespace testsupport
