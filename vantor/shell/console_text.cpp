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

void ConsoleText::append(const QByteArray& bytes) { text_ += bytes; }

void ConsoleText::applyCap() {
    if (text_.size() <= kCap) return;
    qsizetype drop = 0;
    while (text_.size() - drop > kCap) drop += kDrop;
    if (drop < shownEnd_) {
        qsizetype viewDrop = viewLength(text_, drop);
        // When the cut falls between CR and LF, the line break stays in the view: it now stands for the LF.
        if (text_.at(drop - 1) == '\r' && text_.at(drop) == '\n') --viewDrop;
        droppedView_ += viewDrop;
        shownEnd_ -= drop;
    } else {
        replace_ = true;
        shownEnd_ = 0;
        droppedView_ = 0;
    }
    text_.remove(0, drop);
}

void ConsoleText::clear() {
    text_.clear();
    shownEnd_ = 0;
    droppedView_ = 0;
    replace_ = true;
}

ConsoleText::Edit ConsoleText::takeEdit() {
    Edit edit;
    if (replace_) {
        edit.replaceAll = true;
        edit.append = viewText(text_);
    } else {
        edit.dropFront = droppedView_;
        qsizetype from = shownEnd_;
        // A CR the view already shows and an LF after it form one line break.
        if (from > 0 && from < text_.size() && text_.at(from - 1) == '\r' && text_.at(from) == '\n') ++from;
        edit.append = viewText(QByteArray::fromRawData(text_.constData() + from, text_.size() - from));
    }
    shownEnd_ = text_.size();
    droppedView_ = 0;
    replace_ = false;
    return edit;
}

}  // namespace vantor
