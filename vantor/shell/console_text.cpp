#include "vantor/shell/console_text.h"

namespace vantor {

namespace {
// View characters for bytes[0, end): CR LF counts once.
qsizetype viewLength(const QByteArray& bytes, qsizetype end) {
    qsizetype pairs = 0;
    const char* p = bytes.constData();
    for (qsizetype i = 1; i < end; ++i)
        if (p[i] == '\n' && p[i - 1] == '\r') ++pairs;
    return end - pairs;
}
}  // namespace

QString ConsoleText::viewText(const QByteArray& bytes) {
    QString view;
    view.reserve(bytes.size());
    const qsizetype n = bytes.size();
    const char* p = bytes.constData();
    for (qsizetype i = 0; i < n; ++i) {
        const char c = p[i];
        if (c == '\r') {
            view += QLatin1Char('\n');
            if (i + 1 < n && p[i + 1] == '\n') ++i;
        } else {
            view += QLatin1Char(c);
        }
    }
    return view;
}

void ConsoleText::append(const QByteArray& bytes) {
    if (bytes.isEmpty()) return;
    // A CR at the end of the text and an LF at the start of the new bytes form one line break, which
    // the view already shows.
    const bool joinsBreak = text_.endsWith('\r') && bytes.startsWith('\n');
    pendingAppend_ += viewText(joinsBreak ? bytes.mid(1) : bytes);
    text_ += bytes;
}

void ConsoleText::applyCap() {
    if (text_.size() <= kCap) return;
    qsizetype drop = 0;
    while (text_.size() - drop > kCap) drop += kDrop;
    qsizetype viewDrop = viewLength(text_, drop);
    // When the cut falls between CR and LF, the line break stays in the view: it now stands for the LF.
    if (text_.at(drop - 1) == '\r' && text_.at(drop) == '\n') --viewDrop;
    pendingDrop_ += viewDrop;
    text_.remove(0, drop);
}

void ConsoleText::clear() {
    text_.clear();
    pendingAppend_.clear();
    pendingDrop_ = 0;
    pendingReplace_ = true;
    shownLength_ = 0;
}

ConsoleText::Edit ConsoleText::takeEdit() {
    Edit edit;
    if (pendingReplace_ || (pendingDrop_ > 0 && pendingDrop_ >= shownLength_)) {
        // Nothing the view holds survives: it takes the new text alone.
        edit.replaceAll = true;
        edit.append = pendingAppend_.mid(pendingDrop_ - shownLength_);
        shownLength_ = edit.append.size();
    } else {
        edit.dropFront = pendingDrop_;
        edit.append = pendingAppend_;
        shownLength_ += edit.append.size() - edit.dropFront;
    }
    pendingAppend_.clear();
    pendingDrop_ = 0;
    pendingReplace_ = false;
    return edit;
}

}  // namespace vantor
