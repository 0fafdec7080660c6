#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QStringList>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "platform/ui/scripted_dialogs.h"
#include "vantor/common/shell_host.h"
#include "vantor/shell/frm_main.h"

namespace vantortest {

using namespace std::chrono_literals;

// A subscriber that writes down what it is told, into a list it may share with others.
struct Recorder : vantor::NotifyClient {
    Recorder(QString name, QStringList* calls) : name(std::move(name)), calls(calls) {}
    void Notify(const QString& msg, const QString& data) override { *calls << name + "|" + msg + "|" + data; }
    QString name;
    QStringList* calls;
};

// The real main window, offscreen, with its own program and settings folders and scripted message boxes.
class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    void writeIpList(const QByteArray& contents);
    QByteArray readProgramFile(const QString& name) const;
    // Opens the window (after the IP list has been written).
    vantor::frmMain& open();
    void doubleClick(int row);
    void click(int row);
    // Types a line into the command line and releases Enter, as a user does.
    void enterCommand(const QString& line);
    void pressKey(Qt::Key key);

    bool waitForStatus(const QString& text, std::chrono::milliseconds limit = 30s);
    bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 30s);
    // The log after its start line.
    QByteArray logAfterStart() const;
    bool deviceCommandsEnabled() const;

    platform::ui::ScriptedDialogs dialogs;
    std::unique_ptr<vantor::frmMain> window;
};

}  // namespace vantortest
