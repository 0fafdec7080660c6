#pragma once

#include <gtest/gtest.h>

#include <QComboBox>
#include <QHostAddress>
#include <QPushButton>
#include <QStringList>
#include <memory>

#include "pavane/frm_download_ce.h"
#include "platform/ui/scripted_dialogs.h"
#include "platform/ui/time_scale.h"
#include "tests/support/test_environment.h"

namespace testsupport {

// A Pavane window with its socket on a loopback address of the test's own, shortened waits, scripted
// dialogs and a record of every status text it showed.
class DownloadWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        resetFolders();
        // A packet's wait becomes 0.55 s: short for a test, long enough for a peer thread on a busy
        // machine to answer, so that only a deliberately missing answer counts as none.
        platform::setTimeScale(0.5);
    }
    void TearDown() override {
        window.reset();
        platform::setTimeScale(1.0);
    }

    pavane::frmDownloadCE& openWindow() {
        window = std::make_unique<pavane::frmDownloadCE>();
        window->setLocalAddress(QHostAddress(localAddress));
        QObject::connect(window.get(), &pavane::frmDownloadCE::statusChanged,
                         [this](const QString& text) { statuses << text; });
        window->show();
        return *window;
    }

    template <typename T>
    T* control(const char* name) const {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QPushButton* button(const char* name) const { return control<QPushButton>(name); }

    void setAddress(const QString& text) { control<QComboBox>("txtIP")->setEditText(text); }
    void chooseImage(const QString& path) {
        dialogs.answerNextFile(path);
        button("CmdFileSel")->click();
    }
    // Runs the whole download: the click returns when it has ended.
    void download() { button("CmdDownload")->click(); }
    // Address, image and Download, as a user does it.
    void downloadTo(const QString& address, const QString& image) {
        setAddress(address);
        chooseImage(image);
        download();
    }

    platform::ui::ScriptedDialogs dialogs;
    const QString deviceAddress = uniqueLoopbackAddress();
    const QString localAddress = uniqueLoopbackAddress();
    std::unique_ptr<pavane::frmDownloadCE> window;
    QStringList statuses;
};

}  // namespace testsupport
