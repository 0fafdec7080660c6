#include "lintra/text_lines.h"

#include <gtest/gtest.h>

namespace lintra {
namespace {

TEST(TakeLine, dropsOnlyACarriageReturnThatStandsBeforeTheLineFeed) {
    QByteArray buffer = "abc\r\ndef\nxyz\r";
    EXPECT_EQ(TakeLine(buffer), "abc");
    EXPECT_EQ(TakeLine(buffer), "def");  // a bare LF keeps the line whole
    EXPECT_EQ(buffer, "xyz\r");
    EXPECT_EQ(TakeLine(buffer), "xyz\r");  // no LF: the rest as it is
    EXPECT_TRUE(buffer.isEmpty());
}

TEST(TakeLine, aLineThatStartsWithALineFeedIsEmpty) {
    QByteArray buffer = "\nnext\n";
    EXPECT_EQ(TakeLine(buffer), "");
    EXPECT_EQ(TakeLine(buffer), "next");
    EXPECT_TRUE(buffer.isEmpty());
}

TEST(SqlScript, sendsOnlyLinesThatAreNeitherEmptyNorComments) {
    SqlScript script("SELECT 1;\r\n\r\n; a comment\n\nUPDATE t SET a=1;\n;\nSELECT 2;");
    std::vector<QByteArray> sent;
    while (auto line = script.next()) sent.push_back(*line);
    EXPECT_EQ(sent, (std::vector<QByteArray>{"SELECT 1;", "UPDATE t SET a=1;", "SELECT 2;"}));
}

TEST(ResultCap, anAppendPastTheLimitKeepsTheTextFromItsTenThousandthCharacter) {
    QByteArray text(29990, 'a');
    for (qsizetype i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 26);
    const QByteArray before = text;
    appendCapped(text, QByteArray(20, 'z'));
    EXPECT_EQ(text, (before + QByteArray(20, 'z')).mid(9999));
}

TEST(ResultCap, oneLargeAnswerStillEndsWithinTheLimitAndKeepsItsEnd) {
    QByteArray text(100, 'x');
    QByteArray answer;
    for (int i = 0; i < 7000; ++i) answer += QByteArray::number(i).rightJustified(9, '0') + "\n";
    appendCapped(text, answer);
    EXPECT_LE(text.size(), kLimit);
    EXPECT_GT(text.size(), kLimit - kKeepFrom);
    EXPECT_TRUE((QByteArray(100, 'x') + answer).endsWith(text));
    EXPECT_EQ((100 + answer.size() - text.size()) % (kKeepFrom - 1), 0);
}

}  // namespace
}  // namespace lintra
