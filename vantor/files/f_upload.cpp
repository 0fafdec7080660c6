#include "vantor/files/f_upload.h"

#include <QCheckBox>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QScopedValueRollback>

#include "platform/ui/dialogs.h"
#include "vantor/common/c_status_bar.h"
#include "vantor/common/m_globals.h"
#include "vantor/files/copy_protocol.h"
#include "vantor/files/fce_browse.h"
#include "vantor/files/pc_paths.h"
#include "vantor/files/progress_scale.h"

namespace vantor::files {

namespace mb = platform::ui::mb;
using MGlobals::FileNamePart;
using MGlobals::FolderPart;
using MGlobals::PathKind;
using WaitResult = DataConnection::WaitResult;

namespace {
const QString kAborted = QStringLiteral("\r\nCan not copy file ! - aborted");
}

FUpload::FUpload(ShellHost& host, FCEBrowse& browser, QWidget* parent)
    : CopyWindow(host, browser, QStringLiteral("Source:"), QStringLiteral("Destination:"), parent) {
    setObjectName(QStringLiteral("FUpload"));
    setWindowTitle(QStringLiteral("Upload file to CE device"));
    cmdBrowse = browseButton(0, "cmdBrowse", QStringLiteral("Browse PC files"));
    cmdCEBrowse = browseButton(1, "cmdCEBrowse", QStringLiteral("Browse device folders"));
    chkExec = checkBox(QStringLiteral("execute after upload"), "chkExec", 0);
    chkAutoStart = checkBox(QStringLiteral("execute after CE boot"), "chkAutoStart", 1);
    txtSource->installEventFilter(this);

    connect(cmdBrowse, &QPushButton::clicked, this, &FUpload::cmdBrowse_Click);
    connect(cmdCEBrowse, &QPushButton::clicked, this, &FUpload::cmdCEBrowse_Click);
    connect(cmdCopy, &QPushButton::clicked, this, &FUpload::cmdCopy_Click);
    connect(cmdDone, &QPushButton::clicked, this, &FUpload::cmdDone_Click);
}

void FUpload::Notify(const QString& msg, const QString&) {
    if (msg == QLatin1String("error"))
        platform::ui::msgBox(QStringLiteral("*** Operation failed !"), mb::Critical);
}

void FUpload::cmdBrowse_Click() {
    cmdBrowse->setEnabled(false);
    const QString release = qEnvironmentVariable("_FLATRELEASEDIR");
    if (!release.isEmpty()) QDir::setCurrent(release);  // errors ignored
    platform::ui::FileDialogRequest request;
    request.title = QStringLiteral("Select file to upload...");
    request.filter = QStringLiteral("Any File *.*|*.*");
    const QString chosen = platform::ui::dialogs().fileDialog(request);
    if (!chosen.isEmpty()) {
        txtSource->setText(chosen);
        if (!txtDest->text().isEmpty())
            txtDest->setText(browser_.FilePath() + FileNamePart(chosen, PathKind::Pc));
    }
    cmdBrowse->setEnabled(true);
}

void FUpload::cmdCEBrowse_Click() {
    cmdCEBrowse->setEnabled(false);
    if (browser_.ShowOpen()) {
        const QString name = browser_.FileName().isEmpty() ? FileNamePart(txtSource->text(), PathKind::Pc)
                                                           : browser_.FileName();
        txtDest->setText(browser_.FilePath() + name);
    }
    cmdCEBrowse->setEnabled(true);
}

void FUpload::txtSource_LostFocus() {
    if (FileNamePart(txtSource->text(), PathKind::Pc) == QLatin1String("*.*"))
        txtDest->setText(FolderPart(txtDest->text()));
}

bool FUpload::eventFilter(QObject* watched, QEvent* event) {
    if (watched == txtSource && event->type() == QEvent::FocusOut) txtSource_LostFocus();
    return QDialog::eventFilter(watched, event);
}

void FUpload::cmdCopy_Click() {
    const QScopedValueRollback busy(copying_, true);
    CStatusBar status;
    status.Init(sbCopyMsg, 1);
    const QString source = txtSource->text();
    const QString dest = txtDest->text();
    if (dest.isEmpty() || source.isEmpty()) {
        platform::ui::msgBox(QStringLiteral("Missing source or destination file name !"), mb::OkOnly);
        return;
    }
    cmdCopy->setEnabled(false);
    cmdDone->setText(QStringLiteral("Abort"));
    const QString destFolder = FolderPart(dest);
    if (isWildcardSource(source)) {
        const QString folder = FolderPart(source, PathKind::Pc);
        copyRunning_ = true;
        for (const QString& name : filesMatching(source)) {
            if (!copyRunning_ || closing_) break;
            status.setText(name);
            CopyFileToDevice(folder + name, destFolder + name);
            if (!copyRunning_ && !closing_ &&
                platform::ui::msgBox(QStringLiteral("Are you sure to abort the transfer ?"),
                                     mb::YesNo | mb::Question) != mb::Yes)
                copyRunning_ = true;
        }
        copyRunning_ = false;
    } else {
        status.setText(source);
        const QString name =
            FileNamePart(dest).isEmpty() ? FileNamePart(source, PathKind::Pc) : FileNamePart(dest);
        CopyFileToDevice(source, destFolder + name);
    }
    cmdDone->setText(QStringLiteral("Done"));
    cmdCopy->setEnabled(true);
}

void FUpload::CopyFileToDevice(const QString& source, const QString& destination) {
    {
        QFile probe(source);
        if (!probe.open(QIODevice::ReadOnly)) {
            platform::ui::msgBox(QStringLiteral("Unable to open file !"), mb::Critical);
            return;
        }
    }
    const QByteArray command =
        copyCommand(destination.toLatin1(), chkExec->isChecked(), chkAutoStart->isChecked()) + "\r\n";
    if (!host_.sckShell().SendData(command)) {
        platform::ui::msgBox(QStringLiteral("Failed sending copy command !"), mb::Critical);
        return;
    }
    if (!openDataConnection()) return;

    QByteArray reply;
    WaitResult waited = data.waitForReply(reply, kDeviceSilence, true);
    if (waited != WaitResult::Ready) {
        reportLostDevice(waited);
        data.close();
        return;
    }
    if (reply.startsWith("exists")) {
        const int answer =
            platform::ui::msgBox(QStringLiteral("File '") + destination +
                                     QStringLiteral("' exists !\r\nDo you want to overwrite it ?"),
                                 mb::YesNo | mb::Exclamation);
        if (answer != mb::Yes) {
            data.sckCopy.SendData("stop\r\n");
            data.close();
            return;
        }
        data.sckCopy.SendData("continue\r\n");
    } else if (reply.startsWith("error")) {
        platform::ui::msgBox(QStringLiteral("Error creating file !") + kAborted, mb::Critical);
        data.close();
        return;
    }
    waited = data.waitForReply(reply, kOkWait, false);
    if (waited != WaitResult::Ready || !reply.startsWith("ok")) {
        if (!closing_)
            platform::ui::msgBox(QStringLiteral("Communication error or file in use !") + kAborted,
                                 mb::Critical);
        data.close();
        return;
    }
    sendBlocks(source);
    data.close();
}

void FUpload::sendBlocks(const QString& source) {
    BlockSource blocks(source);
    if (!blocks.open()) {
        platform::ui::msgBox(QStringLiteral("Unable to open file !"), mb::Critical);
        return;
    }
    ProgressScale progress(pbProgress, blocks.size());
    data.copyBuffer.clear();

    // The device's line for a block sends the next one from inside the data-arrival event, and the
    // block after it is read from the file while the device works; the wait below only looks for the end.
    enum class Outcome { Running, Finished, ReadFailed, SendFailed, BadLine };
    Outcome outcome = Outcome::Running;
    QByteArray block;  // the next block, read ahead
    bool readAhead = blocks.next(block);
    qint64 acknowledged = 0;
    qint64 inFlight = 0;  // data bytes of the block the device holds but has not answered yet
    bool lastSent = false;
    const auto sendNext = [&] {
        if (!readAhead) {
            outcome = Outcome::ReadFailed;
            return;
        }
        inFlight = block.size() - 1;
        lastSent = blocks.finished();
        data.replyDue();
        if (!data.sckCopy.SendData(block)) {
            outcome = Outcome::SendFailed;
            return;
        }
        readAhead = !lastSent && blocks.next(block);
    };
    const auto takeLines = [&] {
        QByteArray line;
        while (outcome == Outcome::Running) {
            const LineStatus status = TakeLine(data.copyBuffer, line);
            if (status == LineStatus::Incomplete) return;
            if (status == LineStatus::TooLong) {
                outcome = Outcome::BadLine;
                return;
            }
            if (line.isEmpty()) continue;
            if (line == "done") {
                outcome = Outcome::Finished;
                return;
            }
            acknowledged += inFlight;
            if (lastSent)
                outcome = Outcome::Finished;
            else
                sendNext();
            progress.set(acknowledged);  // after the send: the device need not wait for the painting
        }
    };

    sendNext();
    data.onArrival = takeLines;
    const auto detach = qScopeGuard([this] { data.onArrival = nullptr; });
    WaitResult waited = WaitResult::Ready;
    if (outcome == Outcome::Running)
        waited = data.waitFor([&] { return outcome != Outcome::Running; }, kDeviceSilence, true);
    if (waited != WaitResult::Ready)
        reportLostDevice(waited);
    else if (outcome == Outcome::ReadFailed)
        platform::ui::msgBox(QStringLiteral("Unable to open file !"), mb::Critical);
    else if (outcome == Outcome::SendFailed)
        reportLostDevice(WaitResult::Closed);
    else if (outcome == Outcome::BadLine)
        reportLostDevice(WaitResult::ProtocolError);
    data.copyBuffer.clear();
    progress.hide();
}

void FUpload::reportLostDevice(WaitResult result) {
    if (closing_ || result == WaitResult::Cancelled || result == WaitResult::Ready) return;
    QString why = QStringLiteral("*** No answer from the device for 30 seconds !");
    if (result == WaitResult::Closed)
        why = QStringLiteral("*** The device closed the data connection !");
    else if (result == WaitResult::ProtocolError)
        why = QStringLiteral("Communication error or file in use !");
    platform::ui::msgBox(why + kAborted, mb::Critical);
}

void FUpload::cmdDone_Click() {
    if (copyRunning_) {
        copyRunning_ = false;  // the copy loop asks after the current file
        return;
    }
    hide();
    notifyHandle_.release();
}

void FUpload::reject() {
    copyRunning_ = false;
    CopyWindow::reject();
}

}  // namespace vantor::files
