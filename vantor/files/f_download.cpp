#include "vantor/files/f_download.h"

#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
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

FDownload::FDownload(ShellHost& host, FCEBrowse& browser, QWidget* parent)
    : CopyWindow(host, browser, QStringLiteral("Source (CE):"), QStringLiteral("Destination (PC):"), parent) {
    setObjectName(QStringLiteral("FDownload"));
    setWindowTitle(QStringLiteral("FPCBrowse"));
    cmdCEBrowse = browseButton(0, "cmdCEBrowse", QStringLiteral("Browse device folders"));
    cmdBrowse = browseButton(1, "cmdBrowse", QStringLiteral("Browse PC files"));
    data.takeOnlyWhileConnected = true;

    connect(cmdCEBrowse, &QPushButton::clicked, this, &FDownload::cmdCEBrowse_Click);
    connect(cmdBrowse, &QPushButton::clicked, this, &FDownload::cmdBrowse_Click);
    connect(cmdCopy, &QPushButton::clicked, this, &FDownload::cmdCopy_Click);
    connect(cmdDone, &QPushButton::clicked, this, &FDownload::cmdDone_Click);
}

void FDownload::Notify(const QString& msg, const QString& text) {
    if (msg != QLatin1String("error")) return;
    shellFailed_ = true;
    platform::ui::msgBox(text + QStringLiteral("\r\n*** Operation failed !"), mb::Critical);
    data.close();
}

void FDownload::cmdCEBrowse_Click() {
    cmdCEBrowse->setEnabled(false);
    if (browser_.ShowOpen()) {
        const QString name = browser_.FileName();
        if (!name.isEmpty()) {
            txtSource->setText(browser_.FilePath() + name);
            if (!txtDest->text().isEmpty())
                txtDest->setText(FolderPart(txtDest->text(), PathKind::Pc) + name);
        } else {
            txtSource->setText(browser_.FilePath() + FileNamePart(txtSource->text()));
        }
    }
    cmdCEBrowse->setEnabled(true);
}

void FDownload::cmdBrowse_Click() {
    cmdBrowse->setEnabled(false);
    platform::ui::FileDialogRequest request;
    request.kind = platform::ui::FileDialogRequest::Kind::Save;
    request.title = QStringLiteral("Select destination ...");
    request.filter = QStringLiteral("Any File *.*|*.*");
    request.fileName = FileNamePart(txtSource->text());
    request.initialFolder = FolderPart(lastDestPath_, PathKind::Pc);
    request.cancelRaises = true;
    try {
        const QString chosen = platform::ui::dialogs().fileDialog(request);
        lastDestPath_ = chosen;
        txtDest->setText(chosen);
    } catch (const platform::ui::DialogCancelled&) {
    }
    cmdBrowse->setEnabled(true);
}

void FDownload::cmdCopy_Click() {
    const QScopedValueRollback busy(copying_, true);
    CStatusBar status;
    status.Init(sbCopyMsg, 1);
    if (txtSource->text().isEmpty() || txtDest->text().isEmpty()) {
        platform::ui::msgBox(QStringLiteral("Missing source or destination file name !"), mb::Critical);
        return;
    }
    cmdCopy->setEnabled(false);
    cmdDone->setText(QStringLiteral("Abort"));
    status.setText(txtSource->text());
    const auto finish = [this] {
        cmdDone->setText(QStringLiteral("Done"));
        cmdCopy->setEnabled(true);
    };
    const std::optional<QString> destination = downloadTarget(txtDest->text(), txtSource->text());
    if (!destination) {
        platform::ui::msgBox(QStringLiteral("Destination is not a valid file name !"), mb::Critical);
        finish();
        return;
    }
    const QFileInfo info(*destination);
    if (info.exists()) {
        QFile probe(*destination);
        if (info.isDir() || !probe.open(QIODevice::ReadOnly)) {
            platform::ui::msgBox(QStringLiteral("Destination not accessible !"), mb::OkOnly);
            finish();
            return;
        }
    }
    // The owner's write permission stands for the read-only attribute (it holds even for root).
    if (info.exists() && !(info.permissions() & QFile::WriteOwner)) {
        platform::ui::msgBox(QStringLiteral("Destination is write protected"), mb::Critical);
    } else if (!info.exists() ||
               platform::ui::msgBox(
                   QStringLiteral("Destination file exists\r\nAre you sure to overwrite the existing file ?"),
                   mb::YesNo | mb::Exclamation) == mb::Yes) {
        CopyFileFromDevice(txtSource->text(), *destination);
    }
    finish();
}

void FDownload::CopyFileFromDevice(const QString& source, const QString& destination) {
    shellFailed_ = false;
    // Written beside the destination and renamed over it only when complete; dropped otherwise.
    QSaveFile file(destination);
    if (!file.open(QIODevice::WriteOnly)) {
        platform::ui::msgBox(QStringLiteral("Unable to open destination file !"), mb::Critical);
        return;
    }
    if (!host_.sckShell().SendData("getfile " + source.toLatin1() + "\r\n")) {
        platform::ui::msgBox(QStringLiteral("Failed sending copy command !"), mb::Critical);
        return;
    }
    if (!openDataConnection()) return;
    const auto quiet = [this] { return closing_ || shellFailed_; };  // someone has told the user already
    // The size line may come in pieces: only a whole one counts, and the bytes behind it are file data.
    QByteArray reply;
    if (data.waitForReply(reply, kSizeLineWait, false) != WaitResult::Ready) reply.clear();
    if (reply.startsWith("error")) {
        data.close();
        platform::ui::msgBox(QStringLiteral("*** Operation failed !\r\nFile not found, in use or empty !"),
                             mb::Critical);
        return;
    }
    const std::optional<qint64> size = reply.isEmpty() ? std::nullopt : parseSizeLine(reply);
    if (!size) {
        if (!quiet()) platform::ui::msgBox(QStringLiteral("*** Failed to receive file size !"), mb::Critical);
        data.close();
        return;
    }

    ProgressScale progress(pbProgress, *size);
    qint64 received = 0;
    bool written = true;
    // Each batch is written and acknowledged from inside the data-arrival event, so the device's next
    // piece is asked for at once; the wait below only looks for the end.
    const auto takeBatch = [&] {
        if (data.copyBuffer.isEmpty() || !written || received >= *size) return;
        // Bytes past the announced size are not part of the file.
        const qint64 take = std::min<qint64>(data.copyBuffer.size(), *size - received);
        written = file.write(data.copyBuffer.constData(), take) == take;
        received += take;
        data.copyBuffer.resize(0);  // keeps its memory for the next batch
        if (!written) return;
        if (received < *size) data.replyDue();
        data.sckCopy.SendData("ack\r\n");
        progress.set(received);
    };
    const auto ended = [&] { return !written || received >= *size; };
    takeBatch();  // what came with the size line
    data.onArrival = takeBatch;
    const auto detach = qScopeGuard([this] { data.onArrival = nullptr; });
    WaitResult waited = WaitResult::Ready;
    if (!ended()) waited = data.waitFor(ended, kDeviceSilence, true);
    data.copyBuffer.clear();
    progress.hide();
    data.close();

    if (received >= *size && written && file.commit()) return;
    file.cancelWriting();
    if (quiet()) return;
    QString why;
    if (!written || received >= *size)
        why = QStringLiteral("*** Unable to write the destination file !");
    else if (waited == WaitResult::Closed)
        why = QStringLiteral("*** The device closed the connection after %1 of %2 bytes !")
                  .arg(received)
                  .arg(*size);
    else
        why = QStringLiteral("*** No data from the device for 30 seconds after %1 of %2 bytes !")
                  .arg(received)
                  .arg(*size);
    platform::ui::msgBox(why + QStringLiteral("\r\nThe destination file was not changed."), mb::Critical);
}

void FDownload::cmdDone_Click() {
    hide();
    notifyHandle_.release();
}

}  // namespace vantor::files
