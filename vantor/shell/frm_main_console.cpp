// frmMain: the command line, restricted mode, Show Log and the boot commands.
#include <QAction>
#include <QLineEdit>

#include "platform/net/tcp_client.h"
#include "platform/ui/dialogs.h"
#include "vantor/common/app_info.h"
#include "vantor/common/m_globals.h"
#include "vantor/common/status_bar.h"
#include "vantor/shell/frm_main.h"

namespace vantor {

namespace {
constexpr int kKeyEnter = 13;
constexpr int kKeyUp = 38;
constexpr int kKeyDown = 40;
constexpr double kBootPauseSeconds = 2;

QByteArray trimBlanks(const QByteArray& text) {
    qsizetype begin = 0, end = text.size();
    while (begin < end && text.at(begin) == ' ') ++begin;
    while (end > begin && text.at(end - 1) == ' ') --end;
    return text.mid(begin, end - begin);
}

void hint(const char* text) {
    platform::ui::msgBox(QString::fromLatin1(text), platform::ui::mb::OkOnly | platform::ui::mb::Information,
                         appTitle());
}
}  // namespace

void frmMain::tbCmd_KeyUp(int keyCode, Qt::KeyboardModifiers) {
    switch (keyCode) {
        case kKeyUp:
            histIndex_ = static_cast<qint16>((histIndex_ + kHistorySize - 1) % kHistorySize);
            tbCmd->setText(QString::fromLatin1(history_[static_cast<std::size_t>(histIndex_)]));
            break;
        case kKeyDown:
            histIndex_ = static_cast<qint16>((histIndex_ + 1) % kHistorySize);
            tbCmd->setText(QString::fromLatin1(history_[static_cast<std::size_t>(histIndex_)]));
            break;
        case kKeyEnter: {
            QByteArray cmd = trimBlanks(tbCmd->text().toLatin1());
            if (cmd.isEmpty()) return;
            bool handled = false;
            CheckCommand(cmd, handled);
            if (!handled) {
                EchoCommand(cmd);
                sckShell_->SendData(cmd + "\r\n");  // not connected: the line is only echoed
            }
            ShowExpertItems(!restricted_);
            history_[static_cast<std::size_t>(histIndex_)] = cmd;
            histIndex_ = static_cast<qint16>((histIndex_ + 1) % kHistorySize);
            tbCmd->setText(QString::fromLatin1(history_[static_cast<std::size_t>(histIndex_)]));
            break;
        }
        default:
            break;
    }
}

void frmMain::CheckCommand(QByteArray& cmd, bool& handled) {
    const QByteArray word = FirstWord(cmd, ' ');
    // The access code itself is never stored; only its digest is compared.
    if (MGlobals::AccessDigest(word) == QLatin1String(kAccessReference)) {
        restricted_ = !restricted_;
        handled = true;
        cmd.clear();
        return;
    }
    handled = false;
    if (!restricted_) return;
    for (const QByteArray& restrictedWord : restrictedWords_) {
        if (word != restrictedWord) continue;
        handled = true;
        if (word == "dir")
            hint("Please use Menu 'File/Directory View' \r\nto look for files on the CE device !");
        else if (word == "boot")
            hint("Please use Menu 'Tools/Boot' to boot the CE device !");
        else if (word == "copy")
            hint(
                "Please use Menu 'File/Copy to CE' or\r\nButton 'File > CE' to copy files to the CE device "
                "!");
        return;
    }
}

void frmMain::EchoCommand(const QByteArray& cmd) {
    writeLog("< " + cmd);
    if (!log_.flush()) reportLogFailure(log_.errorString());
    console_.append("< " + cmd + "\r\n");
    showConsoleEdit();
}

void frmMain::ShowDeviceLog() {
    EchoCommand("log");
    sckShell_->SendData("log\r\n");
    tbCmd->clear();
}

void frmMain::cbLog_Click() { ShowDeviceLog(); }

void frmMain::ShowExpertItems(bool visible) {
    mnuBCold->setVisible(visible);
    mnuBFlash->setVisible(visible);
    QFont font = sbStatus->font();
    font.setBold(!visible);
    sbStatus->setFont(font);
}

void frmMain::mnuBWarm_Click() { bootDevice("boot -w"); }

void frmMain::mnuBCold_Click() { bootDevice("boot -c"); }

void frmMain::mnuBFlash_Click() { bootDevice("boot -f"); }

void frmMain::bootDevice(const QByteArray& command) {
    sckShell_->SendData(command + "\r\n");
    EnableDeviceCommands(false);
    // The device drops the connection while it boots; whatever it does, the window ends disconnected.
    MGlobals::WaitSeconds(kBootPauseSeconds);
    cmdDisconnect_Click();
}

}  // namespace vantor
