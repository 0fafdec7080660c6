#include "devsim/file_transfers.h"

#include <QDir>
#include <QFileInfo>

#include "devsim/device_log.h"
#include "devsim/file_data_link.h"
#include "devsim/file_faults.h"
#include "devsim/shell_service.h"

namespace devsim {

namespace {
// The last block has no length of its own: what trickles in after its "0" within this time still counts.
constexpr int kLastBlockQuietMs = 200;

// Splits complete lines off `pending` (CR LF or LF), without their ends.
QList<QByteArray> takeLines(QByteArray& pending) {
    QList<QByteArray> lines;
    for (qsizetype lf; (lf = pending.indexOf('\n')) >= 0;) {
        QByteArray line = pending.left(lf);
        pending.remove(0, lf + 1);
        if (line.endsWith('\r')) line.chop(1);
        lines.push_back(line);
    }
    return lines;
}
}  // namespace

// ---- CopyReceiver ---------------------------------------------------------------------------------

CopyReceiver::CopyReceiver(FileDataLink* link, QString hostPath, QByteArray devicePath, bool execute,
                           bool autoStart, TransferContext context, QObject* parent)
    : QObject(parent),
      link_(link),
      hostPath_(std::move(hostPath)),
      devicePath_(std::move(devicePath)),
      execute_(execute),
      autoStart_(autoStart),
      context_(context) {
    link_->setParent(this);
    link_->onData = [this](const QByteArray& data) { onData(data); };
    link_->onClosed = [this] {
        if (state_ == State::LastBlock) {
            finish();
        } else if (state_ != State::Finished) {
            state_ = State::Finished;
            file_.reset();  // an unfinished copy never replaces the old file
            context_.log->append("copy: " + devicePath_.toStdString() + " broken off after " +
                                 std::to_string(received_) + " bytes");
            if (blocks_ > 0) shellMessage("error: copy of " + devicePath_ + " broken off\r\n");
            deleteLater();
        }
    };
    link_->onShellError = [this] {
        shellMessage("error: copy of " + devicePath_ + " failed on the device\r\n");
    };
    lastBlockTimer_.setSingleShot(true);
    connect(&lastBlockTimer_, &QTimer::timeout, this, &CopyReceiver::finish);
}

void CopyReceiver::start() {
    const QFileInfo info(hostPath_);
    if (context_.faults->answerError.load() || info.isDir() || !info.dir().exists()) {
        fail("error: cannot create " + devicePath_ + "\r\n");
        return;
    }
    if (info.exists() || context_.faults->answerExists.load()) {
        link_->send("exists\r\n");
        return;  // the PC's "continue" or "stop" decides
    }
    link_->send("new\r\n");
    beginReceiving();
}

void CopyReceiver::beginReceiving() {
    file_ = std::make_unique<QSaveFile>(hostPath_);
    if (!file_->open(QIODevice::WriteOnly)) {
        fail("error: cannot write " + devicePath_ + " (in use)\r\n");
        return;
    }
    state_ = State::Blocks;
    link_->send("ok\r\n");
}

void CopyReceiver::onData(const QByteArray& data) {
    if (state_ == State::Deciding) {
        pending_ += data;
        for (const QByteArray& line : takeLines(pending_)) {
            if (line == "continue") {
                pending_.clear();
                beginReceiving();
            } else if (line == "stop") {
                context_.log->append("copy: " + devicePath_.toStdString() + " stopped by the PC");
                state_ = State::Finished;
                link_->close();
                deleteLater();
            } else {
                fail("error: expected continue or stop\r\n");
            }
            return;
        }
        return;
    }
    if (state_ == State::Finished) return;
    pending_ += data;
    takeBlocks();
}

void CopyReceiver::takeBlocks() {
    while (state_ == State::Blocks && !pending_.isEmpty()) {
        const char flag = pending_.at(0);
        if (flag == '1') {
            if (pending_.size() < 1 + kBlock) return;
            file_->write(pending_.constData() + 1, kBlock);
            pending_.remove(0, 1 + kBlock);
            received_ += kBlock;
            ++blocks_;
            const int doneAfter = context_.faults->doneAfterBlocks.load();
            if (doneAfter >= 0 && blocks_ >= doneAfter) {
                context_.log->append("copy fault: done after " + std::to_string(blocks_) + " blocks");
                state_ = State::Finished;
                file_.reset();
                link_->send("done\r\n");
                link_->close();
                deleteLater();
                return;
            }
            link_->send("ok\r\n");
        } else if (flag == '0') {
            state_ = State::LastBlock;
            pending_.remove(0, 1);
            ++blocks_;
            link_->send("done\r\n");
        } else {
            fail("error: bad block flag\r\n");
            return;
        }
    }
    if (state_ == State::LastBlock) {
        if (pending_.size() > kBlock) {
            fail("error: last block too long\r\n");
            return;
        }
        lastBlockTimer_.start(kLastBlockQuietMs);
    }
}

void CopyReceiver::finish() {
    if (state_ == State::Finished) return;
    state_ = State::Finished;
    lastBlockTimer_.stop();
    file_->write(pending_);
    received_ += pending_.size();
    pending_.clear();
    if (!file_->commit()) {
        context_.log->append("copy: cannot write " + devicePath_.toStdString());
        shellMessage("error: cannot write " + devicePath_ + "\r\n");
    } else {
        context_.log->append("copy: " + devicePath_.toStdString() + " complete, " +
                             std::to_string(received_) + " bytes");
        QByteArray text = "success: copied " + QByteArray::number(received_) + " bytes to " + devicePath_;
        if (execute_) {
            context_.log->append("copy: started " + devicePath_.toStdString());
            text += ", started";
        }
        if (autoStart_) {
            context_.log->append("copy: " + devicePath_.toStdString() + " runs at every boot");
            text += ", runs at every boot";
        }
        shellMessage(text + "\r\n");
    }
    file_.reset();
    link_->close();
    deleteLater();
}

void CopyReceiver::fail(const QByteArray& why) {
    context_.log->append("copy: " + devicePath_.toStdString() + ": " + why.trimmed().toStdString());
    state_ = State::Finished;
    file_.reset();
    link_->send(why);
    link_->close();
    deleteLater();
}

void CopyReceiver::shellMessage(const QByteArray& text) {
    if (context_.shell) context_.shell->sendMessage(text);
}

// ---- FileSender -----------------------------------------------------------------------------------

FileSender::FileSender(FileDataLink* link, QString hostPath, QByteArray devicePath, TransferContext context,
                       QObject* parent)
    : QObject(parent),
      link_(link),
      hostPath_(std::move(hostPath)),
      devicePath_(std::move(devicePath)),
      context_(context),
      file_(hostPath_) {
    link_->setParent(this);
    link_->onData = [this](const QByteArray& data) { onData(data); };
    link_->onClosed = [this] {
        if (sent_ < size_)
            context_.log->append("getfile: PC closed " + devicePath_.toStdString() + " after " +
                                 std::to_string(sent_) + " of " + std::to_string(size_) + " bytes");
        end();
    };
    link_->onShellError = [this] {
        shellMessage("error: reading " + devicePath_ + " failed on the device\r\n");
    };
}

void FileSender::start() {
    if (context_.faults->answerError.load() || QFileInfo(hostPath_).isDir() ||
        !file_.open(QIODevice::ReadOnly)) {
        context_.log->append("getfile: " + devicePath_.toStdString() + " not found or in use");
        link_->send("error: file not found, in use or empty\r\n");
        link_->close();
        end();
        return;
    }
    size_ = file_.size();
    link_->send("size " + QByteArray::number(size_) + "\r\n");
    // The first piece goes without waiting: it may reach the PC in one read with the size line.
    sendPiece();
}

void FileSender::onData(const QByteArray& data) {
    pending_ += data;
    for (const QByteArray& line : takeLines(pending_)) {
        if (line.trimmed() == "ack") sendPiece();
    }
}

void FileSender::sendPiece() {
    if (sent_ >= size_ || !link_->isOpen()) return;
    const QByteArray piece = file_.read(std::min(kPiece, size_ - sent_));
    if (piece.isEmpty()) {
        context_.log->append("getfile: cannot read " + devicePath_.toStdString());
        shellMessage("error: cannot read " + devicePath_ + "\r\n");
        link_->close();
        end();
        return;
    }
    link_->send(piece);
    sent_ += piece.size();
    if (sent_ == size_ && link_->isOpen() && !link_->silent()) {
        context_.log->append("getfile: " + devicePath_.toStdString() + " sent, " + std::to_string(size_) +
                             " bytes");
        shellMessage("success: sent " + QByteArray::number(size_) + " bytes of " + devicePath_ + "\r\n");
    }
}

void FileSender::shellMessage(const QByteArray& text) {
    if (context_.shell) context_.shell->sendMessage(text);
}

void FileSender::end() {
    if (ended_) return;
    ended_ = true;
    deleteLater();
}

}  // namespace devsim
