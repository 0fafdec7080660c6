// What the shell connection receives, cut into chunks as the fuzzer likes, through Vantor's message
// splitter and the get exchange's reply reader: the messages of a chunk give back the chunk, none holds
// a NUL, each is routed by the first status word it holds; the reply lines give back every byte
// collected, each ends at its first CR LF.
#include <QByteArray>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "tests/fuzz/fuzz_check.h"
#include "vantor/shell/shell_messages.h"

namespace {

void checkRouting(const QByteArray& message) {
    const vantor::Routing r = vantor::routeMessage(message);
    const bool success = message.contains("success"), notify = message.contains("notify"),
               error = message.contains("error");
    switch (r.kind) {
        case vantor::Routing::Success:
            FUZZ_CHECK(success && r.msg == "success" && r.data.isEmpty());
            break;
        case vantor::Routing::Notify:
            FUZZ_CHECK(!success && notify && r.msg == message && r.data.startsWith("notify") &&
                       message.endsWith(r.data));
            break;
        case vantor::Routing::Error:
            FUZZ_CHECK(!success && !notify && error && r.msg == "error" && r.data == message);
            break;
        case vantor::Routing::Log:
            FUZZ_CHECK(!success && !notify && !error);
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const qsizetype chunk = data[0] % 61 + 1;
    const QByteArray stream(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));

    vantor::ShellMessages messages;
    messages.collectReply("not collected: no exchange waits");
    FUZZ_CHECK(messages.replyBuffer().isEmpty());
    messages.startReplies();
    QByteArray collected;
    for (qsizetype at = 0; at < stream.size(); at += chunk) {
        const QByteArray rcv = stream.mid(at, chunk);
        messages.collectReply(rcv);
        collected += rcv;
        messages.setChunk(rcv);
        QByteArray rebuilt;
        int count = 0;
        while (messages.GetNextMessage()) {
            const QByteArray& message = messages.curMessage();
            FUZZ_CHECK(!message.contains('\0'));
            if (count++ > 0) rebuilt += '\0';
            rebuilt += message;
            checkRouting(message);
        }
        // The chunk again: messages joined by NULs, and the NUL that ended the last one.
        if (rcv.endsWith('\0')) rebuilt += '\0';
        FUZZ_CHECK(rebuilt == rcv);
        FUZZ_CHECK(!messages.GetNextMessage());
    }
    FUZZ_CHECK(messages.replyBuffer() == collected);

    QByteArray lines;
    for (QByteArray line; !(line = messages.GetReplyLine()).isEmpty();) {
        const qsizetype crlf = line.indexOf("\r\n");
        FUZZ_CHECK(crlf < 0 ? messages.replyBuffer().isEmpty() : crlf == line.size() - 2);
        lines += line;
    }
    FUZZ_CHECK(lines == collected);
    messages.stopReplies();
    FUZZ_CHECK(!messages.collectingReplies() && messages.replyBuffer().isEmpty());
    return 0;
}
