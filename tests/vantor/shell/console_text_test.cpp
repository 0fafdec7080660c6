#include "vantor/shell/console_text.h"

#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QTextCursor>

using vantor::ConsoleText;

namespace {
// Applies edits to a real text view, as the main window does.
void apply(QPlainTextEdit& view, const ConsoleText::Edit& edit) {
    if (edit.replaceAll) {
        view.setPlainText(edit.append);
        return;
    }
    QTextCursor cursor(view.document());
    cursor.setPosition(0);
    cursor.setPosition(static_cast<int>(edit.dropFront), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(edit.append);
}

// The cap as written: after a chunk, more than 20000 characters -> keep from character 20000 on.
QByteArray capOnce(const QByteArray& text) { return text.size() > 20000 ? text.mid(19999) : text; }
}  // namespace

TEST(ConsoleText, CutsBackToTheTextFromCharacter20000On) {
    ConsoleText console;
    QByteArray expected;
    for (int i = 0; i < 300; ++i) {
        const QByteArray message = QByteArray::number(i).rightJustified(98, '.') + "\r\n";
        console.append(message);
        console.applyCap();
        expected = capOnce(expected + message);
        ASSERT_EQ(console.text(), expected) << "after message " << i;
    }
    EXPECT_LE(console.text().size(), 20000);
    // 20001 characters become 2: the rule drops the first 19999, not "all but the last 20000".
    console.clear();
    console.append(QByteArray(20001, 'x'));
    console.applyCap();
    EXPECT_EQ(console.text(), "xx");
}

TEST(ConsoleText, AChunkLargerThanTheCapStillEndsWithinIt) {
    ConsoleText console;
    console.append(QByteArray(15000, 'a'));
    console.append(QByteArray(1000000, 'b'));
    console.applyCap();
    EXPECT_LE(console.text().size(), ConsoleText::kCap);
    EXPECT_EQ(console.text(), QByteArray(1015000 - 50 * 19999, 'b'));
}

TEST(ConsoleText, EditsKeepATextViewShowingExactlyTheText) {
    QPlainTextEdit view;
    ConsoleText console;
    QRandomGenerator random(7);
    // Line breaks of every kind, split anywhere, and bytes above 127.
    const QByteArray alphabet("ab\r\n\r\xe9\n ");
    for (int chunk = 0; chunk < 200; ++chunk) {
        const int messages = random.bounded(1, 5);
        for (int m = 0; m < messages; ++m) {
            QByteArray message;
            const int length = random.bounded(0, chunk % 17 == 0 ? 30000 : 3000);
            for (int i = 0; i < length; ++i) message += alphabet.at(random.bounded(alphabet.size()));
            console.append(message);
        }
        console.applyCap();
        if (chunk % 50 == 49) console.clear();
        apply(view, console.takeEdit());
        ASSERT_EQ(view.toPlainText(), ConsoleText::viewText(console.text())) << "after chunk " << chunk;
    }
}

TEST(ConsoleText, ACutBetweenACrAndItsLfKeepsTheViewEqualToTheText) {
    // Lines of 100 bytes ending in CR LF: the cut at byte 19999 lands between a CR and its LF, in text
    // the view already shows (each message is its own chunk).
    for (const int lineLength : {100, 50, 40}) {
        QPlainTextEdit view;
        ConsoleText console;
        for (int i = 0; i < 700; ++i) {
            console.append(QByteArray::number(i).rightJustified(lineLength - 2, '.') + "\r\n");
            console.applyCap();
            apply(view, console.takeEdit());
            ASSERT_EQ(view.toPlainText(), ConsoleText::viewText(console.text()))
                << "line length " << lineLength << ", after message " << i;
        }
    }
}

TEST(ConsoleText, ViewShowsEachLineBreakOnce) {
    EXPECT_EQ(ConsoleText::viewText("a\r\nb\rc\nd\r\n\r\n"), "a\nb\nc\nd\n\n");
    EXPECT_EQ(ConsoleText::viewText("\xe4"), QString(QChar(0xe4)));
}
