#pragma once

#include <QByteArray>
#include <optional>

namespace lintra {

// Removes the next line from `buffer` and returns it: the text before the first LF (without the CR
// that may stand before it), or the whole buffer when it holds no LF.
QByteArray TakeLine(QByteArray& buffer);

// The lines of an SQL text that go to the device, one at a time: empty lines and comments (a ";" at
// the start) are skipped.
class SqlScript {
  public:
    explicit SqlScript(QByteArray text) : rest_(std::move(text)) {}
    std::optional<QByteArray> next();

  private:
    QByteArray rest_;
};

// The result pane's text: while it is longer than kLimit, everything before its kKeepFrom-th
// character goes, so the pane stays within kLimit however large one answer is.
inline constexpr qsizetype kLimit = 30000;
inline constexpr qsizetype kKeepFrom = 10000;
void appendCapped(QByteArray& text, const QByteArray& more);

}  // namespace lintra
