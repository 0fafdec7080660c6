#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QRandomGenerator>

#include "merrow/pane_text.h"
#include "merrow/pane_view.h"

namespace merrow {
namespace {

QByteArray numbered(qsizetype size) {
    QByteArray text(size, ' ');
    for (qsizetype i = 0; i < size; ++i) text[i] = static_cast<char>('a' + i % 26);
    return text;
}

TEST(PaneText, twentyMoreOnTwentyNineThousandNineHundredNinetyKeepsFromTheTenThousandthCharacter) {
    PaneText pane;
    const QByteArray before = numbered(29990);
    pane.append(before);
    EXPECT_EQ(pane.text(), before);
    pane.append("ABCDEFGHIJKLMNOPQRST");
    EXPECT_EQ(pane.text(), (before + "ABCDEFGHIJKLMNOPQRST").mid(9999));
    EXPECT_EQ(pane.text().size(), 20011);
    EXPECT_EQ(pane.base(), 9999);
}

TEST(PaneText, aPieceLargerThanTheRoomLeftStillEndsWithinTheLimit) {
    PaneText pane;
    pane.append(numbered(25000));
    const QByteArray piece = numbered(70001);
    pane.append(piece);
    EXPECT_LE(pane.text().size(), PaneText::kLimit);
    EXPECT_TRUE(piece.endsWith(pane.text()));
    // The same as cutting 9 999 characters off as often as the rule fires.
    QByteArray expected = numbered(25000) + piece;
    while (expected.size() > PaneText::kLimit) expected.remove(0, PaneText::kKeepFrom - 1);
    EXPECT_EQ(pane.text(), expected);
    EXPECT_EQ(pane.base(), 25000 + 70001 - expected.size());
}

// The widget always shows the pane's text (line ends as line breaks, CRs not shown), whatever the
// pieces and wherever a cut falls, also between a CR and its LF.
TEST(PaneView, theWidgetFollowsTheTextThroughCutsAndClears) {
    PaneText pane;
    QPlainTextEdit edit;
    PaneView view(pane, edit);
    QRandomGenerator random(7);
    QByteArray all;
    for (int round = 0; round < 300; ++round) {
        QByteArray piece;
        const int size = random.bounded(1, round % 50 == 0 ? 40000 : 3000);
        for (int i = 0; i < size; ++i) {
            const int pick = random.bounded(40);
            piece += pick == 0   ? QByteArray("\r")
                     : pick == 1 ? QByteArray("\n")
                     : pick == 2 ? QByteArray("\r\n")
                                 : QByteArray(1, char('a' + pick));
        }
        pane.append(piece);
        if (round % 3 == 0) view.sync();
        if (round == 150) pane.clear();
    }
    view.sync();
    QByteArray expected = pane.text();
    expected.replace('\r', QByteArray());
    EXPECT_EQ(edit.toPlainText(), QString::fromLatin1(expected));
    EXPECT_TRUE(edit.textCursor().atEnd());
}

}  // namespace
}  // namespace merrow
