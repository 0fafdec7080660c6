#include "vantor/shell/shell_messages.h"

#include <gtest/gtest.h>

#include <QByteArrayList>

using vantor::Routing;
using vantor::ShellMessages;

namespace {
QByteArrayList split(ShellMessages& messages, const QByteArray& chunk) {
    QByteArrayList out;
    messages.setChunk(chunk);
    while (messages.GetNextMessage()) out << messages.curMessage();
    return out;
}
}  // namespace

TEST(GetNextMessage, SplitsAChunkAtEveryNul) {
    ShellMessages messages;
    EXPECT_EQ(split(messages, QByteArray("one\r\n\0two\r\n\0", 12)), (QByteArrayList{"one\r\n", "two\r\n"}));
    // Two NULs in a row: an empty message. A leading NUL too.
    EXPECT_EQ(split(messages, QByteArray("a\0\0b\0", 5)), (QByteArrayList{"a", "", "b"}));
    EXPECT_EQ(split(messages, QByteArray("\0", 1)), (QByteArrayList{""}));
    EXPECT_EQ(split(messages, QByteArray()), QByteArrayList{});
}

TEST(GetNextMessage, TheRestOfAChunkWithoutNulIsAMessageOfItsOwn) {
    ShellMessages messages;
    EXPECT_EQ(split(messages, "half a mess"), QByteArrayList{"half a mess"});
    EXPECT_EQ(split(messages, QByteArray("age\r\n\0tail", 10)), (QByteArrayList{"age\r\n", "tail"}));
}

TEST(RouteMessage, FirstStatusWordWinsInTableOrder) {
    const Routing success = vantor::routeMessage("error and success\r\n");
    EXPECT_EQ(success.kind, Routing::Success);
    EXPECT_EQ(success.msg, "success");
    EXPECT_EQ(success.data, "");

    const Routing notify = vantor::routeMessage("copy: notify 50%\r\n");
    EXPECT_EQ(notify.kind, Routing::Notify);
    EXPECT_EQ(notify.msg, "copy: notify 50%\r\n");
    EXPECT_EQ(notify.data, "notify 50%\r\n");

    const Routing error = vantor::routeMessage("error: no such file\r\n");
    EXPECT_EQ(error.kind, Routing::Error);
    EXPECT_EQ(error.msg, "error");
    EXPECT_EQ(error.data, "error: no such file\r\n");

    EXPECT_EQ(vantor::routeMessage("Error: SUCCESS Notify\r\n").kind, Routing::Log);
    EXPECT_EQ(vantor::routeMessage("").kind, Routing::Log);
}

TEST(FirstWord, TextBeforeTheFirstSeparator) {
    EXPECT_EQ(vantor::FirstWord("dir \\Windows", ' '), "dir");
    EXPECT_EQ(vantor::FirstWord("help", ' '), "help");
    EXPECT_EQ(vantor::FirstWord("", ' '), "");
    EXPECT_EQ(vantor::FirstWord(" x", ' '), "");
}

TEST(ReplyBuffer, AnAnswerEndsWithItsLineOrMessageOrOnceItIsLongerThanAnyLine) {
    ShellMessages messages;
    messages.startReplies();
    messages.collectReply("10.0.");
    EXPECT_FALSE(messages.replyComplete());
    messages.collectReply("0.5\r");
    EXPECT_FALSE(messages.replyComplete());
    messages.collectReply("\n");
    EXPECT_TRUE(messages.replyComplete());
    EXPECT_FALSE(messages.replyTooLong());

    messages.startReplies();
    messages.collectReply(QByteArray(ShellMessages::kMaxReplyLine, 'x') + "\r");
    EXPECT_FALSE(messages.replyComplete());
    messages.collectReply("y");
    EXPECT_TRUE(messages.replyTooLong());
    EXPECT_TRUE(messages.replyComplete());
    // A NUL ends a message without CR LF: an answer however much follows it.
    messages.startReplies();
    messages.collectReply(QByteArray("ok", 2) + '\0' + QByteArray(10000, 'z'));
    EXPECT_FALSE(messages.replyTooLong());
    EXPECT_TRUE(messages.replyComplete());
}

TEST(GetReplyLine, ReadsLineByLineAndOnlyWhileCollecting) {
    ShellMessages messages;
    messages.collectReply("ignored\r\n");
    EXPECT_EQ(messages.GetReplyLine(), "");

    messages.startReplies();
    messages.collectReply("10.0.0.5\r\nsec");
    messages.collectReply(QByteArray("ond\r\n\0", 6));
    EXPECT_EQ(messages.GetReplyLine(), "10.0.0.5\r\n");
    EXPECT_EQ(messages.GetReplyLine(), "second\r\n");
    EXPECT_EQ(messages.GetReplyLine(), QByteArray("\0", 1));  // no CR LF: all the rest
    EXPECT_EQ(messages.GetReplyLine(), "");
    messages.stopReplies();
    messages.collectReply("late\r\n");
    EXPECT_EQ(messages.GetReplyLine(), "");
}
