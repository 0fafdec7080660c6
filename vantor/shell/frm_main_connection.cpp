// frmMain: the device list, the shell connection and its receive path.
#include <QDateTime>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <utility>

#include "iplist/ip_list_combo.h"
#include "iplist/ip_list_file.h"
#include "iplist/ip_list_variants.h"
#include "platform/files/program_dir.h"
#include "platform/net/tcp_client.h"
#include "platform/ui/dialogs.h"
#include "vantor/common/app_info.h"
#include "vantor/shell/frm_main.h"

namespace vantor {

namespace {
// Most bytes taken from the shell socket per data-arrival event.
constexpr qint64 kReadChunk = 512 * 1024;

bool isDisconnectEntry(const QString& text) { return text == QLatin1String(iplist::kDisconnectEntry); }

// Blanks only, as the list has always trimmed its entries.
QString trimBlanks(const QString& text) {
    qsizetype begin = 0, end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char(' ')) ++begin;
    while (end > begin && text.at(end - 1) == QLatin1Char(' ')) --end;
    return text.mid(begin, end - begin);
}
}  // namespace

// ---- IP list ----

void frmMain::LoadIPList() {
    for (const QString& entry : iplist::loadVantorList(iplist::defaultPath())) lbIPs->addItem(entry);
}

void frmMain::SaveIPList() {
    QStringList entries;
    for (int i = 0; i < lbIPs->count(); ++i) entries << lbIPs->item(i)->text();
    if (!iplist::saveVantorList(iplist::defaultPath(), entries))
        platform::ui::msgBox(QString::fromLatin1(iplist::kSaveFailedMessage));
}

void frmMain::lbIPs_Click() {
    QListWidgetItem* entry = lbIPs->currentItem();
    if (!entry) return;
    txtNewIP->setText(isDisconnectEntry(entry->text()) ? QString() : entry->text());
    cmdDel->setEnabled(true);
}

void frmMain::txtNewIP_Change() { cmdAdd->setEnabled(true); }

void frmMain::cmdAdd_Click() {
    const QString entry = trimBlanks(txtNewIP->text());
    if (!entry.isEmpty() && lbIPs->findItems(entry, Qt::MatchExactly | Qt::MatchCaseSensitive).isEmpty())
        lbIPs->addItem(entry);
    SaveIPList();
}

void frmMain::cmdDel_Click() {
    const int row = lbIPs->currentRow();
    if (row >= 0 && !isDisconnectEntry(lbIPs->item(row)->text())) {
        delete lbIPs->takeItem(row);
        // The connected host keeps its place in the count. Its own entry gone, the connection belongs to
        // no entry: it stays (Disconnect still ends it), and the entry that moved up is a different host.
        if (connectedIndex_ > row)
            --connectedIndex_;
        else if (connectedIndex_ == row)
            connectedIndex_ = -1;
    }
    SaveIPList();
    txtNewIP->clear();
    cmdDel->setEnabled(false);
}

// ---- Connection ----

void frmMain::lbIPs_DblClick() {
    const int index = lbIPs->currentRow();
    if (index < 0) return;
    if (index == connectedIndex_) {
        platform::ui::msgBox(QStringLiteral("Already connected to this host"), platform::ui::mb::OkOnly,
                             appTitle());
        return;
    }
    if (connectedIndex_ >= 0 || sckShell_->state() != platform::net::TcpClient::Closed) sckShell_->Close();
    connectedIndex_ = static_cast<qint16>(index);
    const QString host = lbIPs->item(index)->text();
    setStatus(QStringLiteral("Connecting to ") + host + QStringLiteral("..."));
    sckShell_->setLocalPort(0);
    sckShell_->Connect(host, kShellPort);
}

void frmMain::cmdDisconnect_Click() {
    if (connectedIndex_ < 0 && sckShell_->state() == platform::net::TcpClient::Closed) return;
    connectedIndex_ = -1;
    sckShell_->Close();
    setStatus(QStringLiteral("Disconnected !"));
    EnableDeviceCommands(false);
    txtNewIP->clear();
    cmdDel->setEnabled(false);
    cmdAdd->setEnabled(false);
}

void frmMain::sckShell_Connect() {
    // A device that sends faster than the window shows would otherwise hand over ever larger chunks, each
    // blocking the window longer; a bounded read buffer keeps every data-arrival event short.
    sckShell_->setReadBufferSize(kReadChunk);
    setStatus(QStringLiteral("Connected to ") + sckShell_->RemoteHost());
    EnableDeviceCommands(true);
}

void frmMain::sckShell_Close() {
    // What arrived just before the close is still shown.
    if (sckShell_->BytesReceived() > 0) takeShellData(true);
    setStatus(QStringLiteral("Connection was closed"));
    sckShell_->Close();
    connectedIndex_ = -1;
    EnableDeviceCommands(false);
}

void frmMain::sckShell_Error(int, const QString& description) {
    setStatus(QStringLiteral("*** ERR: ") + description);
    sckShell_->Close();
    connectedIndex_ = -1;
    EnableDeviceCommands(false);
}

// ---- Receive path ----

void frmMain::sckShell_DataArrival() { takeShellData(false); }

void frmMain::takeShellData(bool evenIfQueueFull) {
    if (receiving_ && queuedBytes_ >= kQueueLimit && !evenIfQueueFull) {
        shellDataWaiting_ = true;  // the socket's bounded buffer fills, then the device waits
        return;
    }
    const QByteArray rcv = sckShell_->GetData();
    if (rcv.isEmpty()) return;
    messages_.collectReply(rcv);
    addText(rcv);
}

void frmMain::addText(const QByteArray& rcv) {
    if (receiving_) {
        // A subscriber is waiting inside Notify; this chunk is split after the current one.
        queuedChunks_.append(rcv);
        queuedBytes_ += rcv.size();
        return;
    }
    receiving_ = true;
    QByteArray chunk = rcv;
    for (;;) {
        messages_.setChunk(chunk);
        while (GetNextMessage()) {
            routeCurMessage();
            console_.append(messages_.curMessage());
        }
        console_.applyCap();
        showConsoleEdit();
        if (queuedChunks_.isEmpty()) break;
        chunk = queuedChunks_.takeFirst();
        queuedBytes_ -= chunk.size();
    }
    receiving_ = false;
    if (!log_.flush()) reportLogFailure(log_.errorString());
    // What arrived while a subscriber waited sits in the socket unannounced (its data-arrival event does
    // not nest, and a full buffer stops reading): fetch it now, or it waits for the device's next bytes,
    // which a device blocked by the full buffer never sends.
    if (std::exchange(shellDataWaiting_, false) || sckShell_->BytesReceived() > 0)
        QTimer::singleShot(0, this, &frmMain::sckShell_DataArrival);
}

bool frmMain::GetNextMessage() { return messages_.GetNextMessage(); }

QByteArray frmMain::GetReplyLine() { return messages_.GetReplyLine(); }

void frmMain::routeCurMessage() {
    const QByteArray& message = messages_.curMessage();
    const Routing routing = routeMessage(message);
    if (routing.kind == Routing::Log)
        writeLog(message);
    else
        NotifyClients(routing.msg, routing.data);
}

void frmMain::showConsoleEdit() {
    const ConsoleText::Edit edit = console_.takeEdit();
    if (edit.replaceAll) {
        tbRcv->setPlainText(edit.append);
    } else {
        QTextCursor cursor(tbRcv->document());
        if (edit.dropFront > 0) {
            cursor.setPosition(0);
            cursor.setPosition(static_cast<int>(edit.dropFront), QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
        }
        if (!edit.append.isEmpty()) {
            cursor.movePosition(QTextCursor::End);
            cursor.insertText(edit.append);
        }
    }
    // The caret at the end shows the newest text.
    tbRcv->moveCursor(QTextCursor::End);
    tbRcv->ensureCursorVisible();
}

// ---- Subscribers ----

qint32 frmMain::Register4Notify(NotifyClient* client) {
    if (!client || notifyCount_ == std::numeric_limits<qint32>::max()) return 0;
    const qint32 handle = notifyCount_ + 1;
    auto* object = dynamic_cast<QObject*>(client);
    notifyClients_.emplace(handle, Subscriber{client, object, object != nullptr});
    notifyCount_ = handle;
    return handle;
}

void frmMain::UnRegister4Notify(qint32 handle) { notifyClients_.erase(handle); }

void frmMain::NotifyClients(const QByteArray& msg, const QByteArray& data) {
    const QString m = QString::fromLatin1(msg);
    const QString d = QString::fromLatin1(data);
    // A subscriber may unregister (itself or another) while it is notified: walk a copy of the handles.
    std::vector<qint32> handles;
    handles.reserve(notifyClients_.size());
    for (const auto& entry : notifyClients_) handles.push_back(entry.first);
    for (const qint32 handle : handles) {
        const auto it = notifyClients_.find(handle);
        if (it == notifyClients_.end()) continue;
        if (it->second.isObject && !it->second.object) {
            notifyClients_.erase(it);  // its window is gone
            continue;
        }
        it->second.client->Notify(m, d);
    }
}

// ---- Log file ----

void frmMain::openLog() {
    const QString path = platform::programFile(QLatin1String(ShellLog::kFileName));
    QString error;
    if (!log_.open(path, &error)) {
        platform::ui::msgBox(QStringLiteral("Couldn't open the log file\r\n%1\r\n(%2).\r\n"
                                            "Messages will be shown but not logged.")
                                 .arg(path, error),
                             platform::ui::mb::OkOnly | platform::ui::mb::Exclamation, appTitle());
        logFailureReported_ = true;
        return;
    }
    const QLocale locale = QLocale::system();
    const QDateTime now = QDateTime::currentDateTime();
    writeLog("Vantor started at: " + locale.toString(now.date(), QLocale::ShortFormat).toLocal8Bit() + ' ' +
             locale.toString(now.time(), QLocale::ShortFormat).toLocal8Bit());
    if (!log_.flush()) reportLogFailure(log_.errorString());
}

void frmMain::writeLog(const QByteArray& record) {
    if (!log_.isOpen()) return;
    if (!log_.writeRecord(record)) reportLogFailure(log_.errorString());
}

void frmMain::reportLogFailure(const QString& reason) {
    if (logFailureReported_) return;
    logFailureReported_ = true;
    const QString path = log_.path();
    // Not from inside the receive path: a message box there would run a nested event loop.
    QTimer::singleShot(0, this, [path, reason] {
        platform::ui::msgBox(QStringLiteral("Couldn't write the log file\r\n%1\r\n(%2).\r\n"
                                            "Further messages may be missing from it.")
                                 .arg(path, reason),
                             platform::ui::mb::OkOnly | platform::ui::mb::Exclamation, appTitle());
    });
}

}  // namespace vantor
