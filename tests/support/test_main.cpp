// Test main: every test process runs offscreen with its own program and settings folders.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>

#include "tests/support/child_processes.h"
#include "tests/support/test_environment.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QUILLON_PROGRAM_DIR", testsupport::programDir().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", testsupport::settingsDir().toLocal8Bit());
    testsupport::resetFolders();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("QuillonTest"));
    ::testing::InitGoogleTest(&argc, argv);
    testsupport::adoptOrphans();
    const int result = RUN_ALL_TESTS();
    // Whatever a failed test left running ends with the test process, not in the next run.
    testsupport::endChildProcesses();
    return result;
}
