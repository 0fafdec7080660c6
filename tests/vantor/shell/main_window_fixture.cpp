#include "tests/vantor/shell/main_window_fixture.h"

#include <QAction>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "platform/files/program_dir.h"
#include "platform/ui/time_scale.h"
#include "platform/ui/wait.h"
#include "tests/support/test_environment.h"

namespace vantortest {

void MainWindowTest::SetUp() {
    testsupport::resetFolders();
    platform::setTimeScale(0.05);
}

void MainWindowTest::TearDown() {
    if (window) window->close();
    window.reset();
    platform::setTimeScale(1.0);
}

void MainWindowTest::writeIpList(const QByteArray& contents) {
    QFile file(platform::programFile("qnIPs.txt"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(contents);
}

QByteArray MainWindowTest::readProgramFile(const QString& name) const {
    QFile file(platform::programFile(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

vantor::frmMain& MainWindowTest::open() {
    window = std::make_unique<vantor::frmMain>();
    window->show();
    return *window;
}

void MainWindowTest::click(int row) {
    QListWidget* list = window->lbIPs;
    const QPoint at = list->visualItemRect(list->item(row)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
}

void MainWindowTest::doubleClick(int row) {
    QListWidget* list = window->lbIPs;
    const QPoint at = list->visualItemRect(list->item(row)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

void MainWindowTest::enterCommand(const QString& line) {
    window->tbCmd->setText(line);
    pressKey(Qt::Key_Return);
}

void MainWindowTest::pressKey(Qt::Key key) { QTest::keyClick(window->tbCmd, key); }

bool MainWindowTest::waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    // Some conditions change without an event of this thread (another thread's socket); poll them too.
    QTimer poll;
    poll.start(10);
    return platform::ui::waitUntil(done, limit);
}

bool MainWindowTest::waitForStatus(const QString& text, std::chrono::milliseconds limit) {
    const bool ok = waitUntil([&] { return window->statusText() == text; }, limit);
    if (!ok)
        ADD_FAILURE() << "status is \"" << window->statusText().toStdString() << "\", not \""
                      << text.toStdString() << "\"";
    return ok;
}

QByteArray MainWindowTest::logAfterStart() const {
    const QByteArray log = readProgramFile("qnLog.txt");
    const qsizetype end = log.indexOf("\r\n");
    return end < 0 ? QByteArray() : log.mid(end + 2);
}

bool MainWindowTest::deviceCommandsEnabled() const {
    const bool all = window->cmdUpload->isEnabled() && window->cbLog->isEnabled() &&
                     window->mnuShow->isEnabled() && window->mnuDownload->isEnabled() &&
                     window->mnuUpload->isEnabled() && window->mnuClock->isEnabled() &&
                     window->mnuIPAddr->isEnabled() && window->mnuDir->isEnabled() &&
                     window->mnuBoot->menuAction()->isEnabled() && window->mnuGateway->isEnabled() &&
                     window->mnuSubnet->isEnabled();
    const bool none = !window->cmdUpload->isEnabled() && !window->cbLog->isEnabled() &&
                      !window->mnuShow->isEnabled() && !window->mnuDownload->isEnabled() &&
                      !window->mnuUpload->isEnabled() && !window->mnuClock->isEnabled() &&
                      !window->mnuIPAddr->isEnabled() && !window->mnuDir->isEnabled() &&
                      !window->mnuBoot->menuAction()->isEnabled() && !window->mnuGateway->isEnabled() &&
                      !window->mnuSubnet->isEnabled();
    EXPECT_TRUE(all || none) << "device commands are partly enabled";
    return all;
}

}  // namespace vantortest
