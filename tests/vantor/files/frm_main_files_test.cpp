#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <functional>
#include <thread>

#include "platform/files/program_dir.h"
#include "platform/ui/scripted_dialogs.h"
#include "platform/ui/time_scale.h"
#include "platform/ui/wait.h"
#include "tests/support/device_fixture.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_environment.h"
#include "tests/vantor/files/test_shell_host.h"
#include "vantor/files/f_download.h"
#include "vantor/files/f_upload.h"
#include "vantor/files/fce_browse.h"
#include "vantor/files/file_windows.h"
#include "vantor/shell/frm_main.h"

using namespace std::chrono_literals;

namespace {

// Runs `inside` once a modal window of type T is up (opened by the main window itself).
template <typename T>
void whenModal(std::function<void(T&)> inside) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, inside = std::move(inside)] {
        T* window = qobject_cast<T*>(QApplication::activeModalWidget());
        if (!window || !window->isVisible()) return;
        timer->stop();
        timer->deleteLater();
        inside(*window);
    });
    timer->start();
}

TEST(MainWindowFiles, CopiesToAndFromTheDeviceAndBrowsesThroughTheMainWindow) {
    testsupport::resetFolders();
    platform::setTimeScale(0.05);
    platform::ui::ScriptedDialogs dialogs;
    auto device = testsupport::startDevice();
    ASSERT_TRUE(device);
    {
        QFile ips(platform::programFile(QStringLiteral("qnIPs.txt")));
        ASSERT_TRUE(ips.open(QIODevice::WriteOnly));
        ips.write(device->options().address.toLatin1() + "\r\n");
    }
    vantor::frmMain window;
    window.show();
    QListWidget* list = window.lbIPs;
    const QPoint at = list->visualItemRect(list->item(0)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    ASSERT_TRUE(platform::ui::waitUntil([&] { return window.cmdUpload->isEnabled(); }, 30s));

    const QString pc = testsupport::freshFolder(QStringLiteral("pc"));
    const QByteArray contents(5000, 'u');
    {
        QFile f(pc + QStringLiteral("/up.bin"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(contents);
    }
    whenModal<vantor::files::FUpload>([&](vantor::files::FUpload& upload) {
        upload.txtSource->setText(pc + QStringLiteral("/up.bin"));
        upload.txtDest->setText(QStringLiteral("\\Temp\\"));
        upload.cmdCopy->click();
        EXPECT_TRUE(testsupport::waitForLog(device->log(), "copy: \\Temp\\up.bin complete"));
        upload.cmdDone->click();
    });
    window.cmdUpload->click();

    whenModal<vantor::files::FDownload>([&](vantor::files::FDownload& download) {
        download.txtSource->setText(QStringLiteral("\\Temp\\up.bin"));
        download.txtDest->setText(pc + QStringLiteral("/back/"));
        QDir(pc).mkdir(QStringLiteral("back"));
        download.cmdCopy->click();
        download.cmdDone->click();
    });
    window.mnuDownload->trigger();
    QFile back(pc + QStringLiteral("/back/up.bin"));
    ASSERT_TRUE(back.open(QIODevice::ReadOnly));
    EXPECT_EQ(back.readAll(), contents);

    bool listed = false;
    whenModal<vantor::files::FCEBrowse>([&](vantor::files::FCEBrowse& browser) {
        EXPECT_FALSE(window.mnuDir->isEnabled());
        listed = platform::ui::waitUntil([&] { return browser.lvList->topLevelItemCount() > 0; }, 30s);
        browser.cmdCancel->click();
    });
    window.mnuDir->trigger();
    EXPECT_TRUE(listed);
    EXPECT_TRUE(window.mnuDir->isEnabled());
    EXPECT_EQ(dialogs.boxTexts(), QStringList());
    platform::setTimeScale(1.0);
}

// A main window connected to a scripted device, with the time limits scaled down.
class MainWindowCopies : public ::testing::Test {
  protected:
    void SetUp() override {
        testsupport::resetFolders();
        platform::setTimeScale(0.05);
        address = testsupport::uniqueLoopbackAddress();
        peer = std::make_unique<testsupport::ScriptedPeer>(address, 4212);
        QFile ips(platform::programFile(QStringLiteral("qnIPs.txt")));
        ASSERT_TRUE(ips.open(QIODevice::WriteOnly));
        ips.write(address.toLatin1() + "\r\n");
        ips.close();
        window = std::make_unique<vantor::frmMain>();
        window->show();
        QListWidget* list = window->lbIPs;
        const QPoint at = list->visualItemRect(list->item(0)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        ASSERT_TRUE(platform::ui::waitUntil([&] { return window->cmdUpload->isEnabled(); }, 30s));
        source = testsupport::freshFolder(QStringLiteral("pc")) + QStringLiteral("/a.bin");
        QFile f(source);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(5000, 'a'));
    }
    void TearDown() override { platform::setTimeScale(1.0); }

    // Opens the copy window from the menu and copies the file to a device that takes the first block and
    // then keeps its answer; `step` runs once that block has arrived, inside the copy's wait.
    void copyThatHangs(std::function<void(vantor::files::FUpload&)> step) {
        std::thread device([&] {
            ASSERT_TRUE(peer->waitForConnections(2));
            peer->send("new\r\nok\r\n", 1);
        });
        whenModal<vantor::files::FUpload>([&](vantor::files::FUpload& upload) {
            upload.txtSource->setText(source);
            upload.txtDest->setText(QStringLiteral("\\Temp\\a.bin"));
            auto* poll = new QTimer(&upload);
            QObject::connect(poll, &QTimer::timeout, [&, poll] {
                if (peer->received(1).size() < 1025) return;
                poll->stop();
                step(upload);
            });
            poll->start(5);
            upload.cmdCopy->click();
        });
        window->mnuUpload->trigger();
        device.join();
    }

    platform::ui::ScriptedDialogs dialogs;
    QString address;
    std::unique_ptr<testsupport::ScriptedPeer> peer;
    std::unique_ptr<vantor::frmMain> window;
    QString source;
};

TEST_F(MainWindowCopies, ACopyHiddenByAbortComesBackFromTheMenuAndExitEndsIt) {
    bool hiddenByAbort = false, shownAgain = false;
    vantor::files::FUpload* copyWindow = nullptr;
    copyThatHangs([&](vantor::files::FUpload& upload) {
        copyWindow = &upload;
        upload.cmdDone->click();  // reads "Abort": hides the window, the copy goes on
        hiddenByAbort = !upload.isVisible() && upload.copying();
        window->mnuUpload->trigger();
        shownAgain = upload.isVisible() && upload.copying();
        window->close();  // Exit
    });
    EXPECT_TRUE(hiddenByAbort);
    EXPECT_TRUE(shownAgain);
    ASSERT_TRUE(copyWindow);
    EXPECT_FALSE(copyWindow->copying());
    EXPECT_TRUE(peer->waitForPeerClose(1));
    // Ended by Exit, not by the device's silence: nothing to report.
    EXPECT_EQ(dialogs.boxTexts(), QStringList());
    EXPECT_EQ(peer->received(1).size(), 1025);
}

TEST_F(MainWindowCopies, ExitEndsACopyLeftRunningBehindAHiddenWindow) {
    bool stillCopying = false;
    copyThatHangs([&](vantor::files::FUpload& upload) {
        upload.cmdDone->click();
        stillCopying = upload.copying();
        window->close();  // the copy window is hidden: only Exit can end its copy
    });
    EXPECT_TRUE(stillCopying);
    EXPECT_TRUE(peer->waitForPeerClose(1));
    EXPECT_EQ(dialogs.boxTexts(), QStringList());
}

TEST_F(MainWindowCopies, AMainWindowGoesAwayCleanlyWhileItsCopyWindowsAreSubscribed) {
    // Found by AddressSanitizer before: the copy windows ended their subscriptions in a main window
    // that was already half destroyed.
    auto& windows = vantor::files::FileWindows::of(*window, window.get());
    windows.upload().begin();
    windows.download().begin();
    window.reset();
    SUCCEED();
}

}  // namespace
