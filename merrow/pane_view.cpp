#include "merrow/pane_view.h"

#include <QPlainTextEdit>
#include <QTextCursor>

#include "merrow/pane_text.h"

namespace merrow {

PaneView::PaneView(const PaneText& text, QPlainTextEdit& edit) : text_(text), edit_(edit) {
    edit_.setReadOnly(true);
    edit_.setUndoRedoEnabled(false);  // an undo stack would keep everything ever shown
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &PaneView::sync);
}

void PaneView::changed() {
    if (!timer_.isActive()) timer_.start(kSyncInterval);
}

QString PaneView::display(const QByteArray& bytes) {
    QByteArray shown = bytes;
    shown.replace('\r', QByteArray());
    return QString::fromLatin1(shown);
}

void PaneView::sync() {
    timer_.stop();
    const QByteArray& now = text_.text();
    const qint64 dropped = text_.base() - shownBase_;
    if (dropped == 0 && now.size() == shown_.size()) return;

    QTextDocument* document = edit_.document();
    QTextCursor cursor(document);
    cursor.beginEditBlock();
    if (dropped >= shown_.size()) {
        cursor.select(QTextCursor::Document);
        cursor.removeSelectedText();
        cursor.insertText(display(now));
    } else {
        if (dropped > 0) {
            // The widget holds no CRs: the dropped part is shorter there by its CRs.
            const QByteArray gone = shown_.left(static_cast<qsizetype>(dropped));
            cursor.setPosition(static_cast<int>(gone.size() - gone.count('\r')), QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
        }
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(display(now.mid(shown_.size() - static_cast<qsizetype>(dropped))));
    }
    cursor.endEditBlock();
    shown_ = now;
    shownBase_ = text_.base();

    cursor.movePosition(QTextCursor::End);
    edit_.setTextCursor(cursor);
    edit_.ensureCursorVisible();
}

}  // namespace merrow
