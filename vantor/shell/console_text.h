#pragma once

#include <QByteArray>
#include <QString>

namespace vantor {

// The console's text as bytes, with its cap, and the edits that keep a text view showing it. The view
// shows every line break (CR LF, a lone CR or a lone LF) as one "\n" and every other byte as one
// Latin-1 character. Changes are collected and handed to the view as one edit: "drop this many
// characters at the front, then append this text" (or "take this whole text" when nothing old stays).
// Appended bytes are converted for the view only when the edit is taken, and only those that survived
// the cap, so a large chunk costs little more than copying it. UI thread.
class ConsoleText {
  public:
    static constexpr qsizetype kCap = 20000;   // more than this is cut back after each chunk
    static constexpr qsizetype kDrop = 19999;  // characters dropped by one cut

    struct Edit {
        bool replaceAll = false;  // the view's whole text becomes `append`
        qsizetype dropFront = 0;  // view characters to remove at the front, before appending
        QString append;           // view text to add at the end
        bool isEmpty() const { return !replaceAll && dropFront == 0 && append.isEmpty(); }
    };

    // Appends bytes (a message or an echo); the cap is not applied here.
    void append(const QByteArray& bytes);
    // After a chunk: while the text holds more than kCap characters, drop its first kDrop. One cut is
    // enough unless a single chunk brought more than kDrop characters; then the cut repeats, so the
    // text stays within kCap however large a chunk is.
    void applyCap();
    void clear();

    // What the view must do to show text() again; the changes are then counted as shown.
    Edit takeEdit();

    const QByteArray& text() const { return text_; }
    // How a view shows `bytes`.
    static QString viewText(const QByteArray& bytes);

  private:
    QByteArray text_;
    qsizetype shownEnd_ = 0;     // text_[0, shownEnd_) is what the view shows; the rest is pending
    qsizetype droppedView_ = 0;  // view characters dropped at the front since the last edit
    bool replace_ = false;       // nothing the view shows survives: it takes the whole text again
};

}  // namespace vantor
