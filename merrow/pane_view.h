#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <chrono>

class QPlainTextEdit;

namespace merrow {

class PaneText;

// Shows a PaneText in a read-only QPlainTextEdit without re-setting it: a sync removes from the top
// what the text dropped and appends what it gained, then puts the caret at the end. Syncs are gathered
// (at most one per kSyncInterval), so a flood costs a few edits per second rather than one per piece.
// Line ends show as line breaks (a CR is not shown). UI thread.
class PaneView : public QObject {
    Q_OBJECT
  public:
    static constexpr std::chrono::milliseconds kSyncInterval{40};

    PaneView(const PaneText& text, QPlainTextEdit& edit);

    // The text changed: show it soon.
    void changed();
    // Shows the text now.
    void sync();

  private:
    static QString display(const QByteArray& bytes);

    const PaneText& text_;
    QPlainTextEdit& edit_;
    QTimer timer_;
    QByteArray shown_;  // the text the widget shows
    qint64 shownBase_ = 0;
};

}  // namespace merrow
