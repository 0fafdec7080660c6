#include "vantor/shell/shell_messages.h"

#include <algorithm>

namespace vantor {

Routing routeMessage(const QByteArray& message) {
    if (message.contains("success")) return {Routing::Success, "success", {}};
    const qsizetype notify = message.indexOf("notify");
    if (notify >= 0) return {Routing::Notify, message, message.mid(notify)};
    if (message.contains("error")) return {Routing::Error, "error", message};
    return {Routing::Log, {}, {}};
}

QByteArray FirstWord(const QByteArray& text, char separator) {
    const qsizetype at = text.indexOf(separator);
    return at < 0 ? text : text.left(at);
}

void ShellMessages::setChunk(const QByteArray& rcv) {
    rcvBuffer_ = rcv;
    rcvPos_ = 0;
}

void ShellMessages::collectReply(const QByteArray& rcv) {
    if (collecting_) replyBuffer_ += rcv;
}

bool ShellMessages::GetNextMessage() {
    if (rcvPos_ >= rcvBuffer_.size()) {
        rcvBuffer_.clear();
        rcvPos_ = 0;
        return false;
    }
    const qsizetype nul = rcvBuffer_.indexOf('\0', rcvPos_);
    if (nul < 0) {
        curMessage_ = rcvBuffer_.mid(rcvPos_);
        rcvPos_ = rcvBuffer_.size();
    } else {
        curMessage_ = rcvBuffer_.mid(rcvPos_, nul - rcvPos_);
        rcvPos_ = nul + 1;
    }
    return true;
}

void ShellMessages::startReplies() {
    replyBuffer_.clear();
    collecting_ = true;
}

void ShellMessages::stopReplies() {
    collecting_ = false;
    replyBuffer_.clear();
}

bool ShellMessages::replyTooLong() const {
    const QByteArrayView head =
        QByteArrayView(replyBuffer_).first(std::min(replyBuffer_.size(), kMaxReplyLine + 2));
    return replyBuffer_.size() > kMaxReplyLine + 1 && !head.contains("\r\n") && !head.contains('\0');
}

bool ShellMessages::replyComplete() const {
    return replyBuffer_.contains("\r\n") || replyBuffer_.contains('\0') || replyTooLong();
}

QByteArray ShellMessages::GetReplyLine() {
    if (replyBuffer_.isEmpty()) return {};
    const qsizetype crlf = replyBuffer_.indexOf("\r\n");
    QByteArray line;
    if (crlf < 0) {
        line.swap(replyBuffer_);
    } else {
        line = replyBuffer_.left(crlf + 2);
        replyBuffer_.remove(0, crlf + 2);
    }
    return line;
}

}  // namespace vantor
