#pragma once

#include <QByteArray>

namespace merrow {

// The text the message pane holds, exactly as received (8-bit, line ends as they came). Whenever an
// append makes it longer than kLimit, everything before its kKeepFrom-th character goes; that cut is
// repeated as often as needed, so a big piece cannot make the pane grow past kLimit.
// `base()` counts every character dropped since the start, so a view can tell what changed.
class PaneText {
  public:
    static constexpr qsizetype kLimit = 30000;
    static constexpr qsizetype kKeepFrom = 10000;

    void append(const QByteArray& text);
    void clear();

    const QByteArray& text() const { return text_; }
    qint64 base() const { return base_; }

  private:
    QByteArray text_;
    qint64 base_ = 0;
};

}  // namespace merrow
