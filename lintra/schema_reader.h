#pragma once

#include <QByteArray>
#include <vector>

#include "lintra/db_schema.h"

namespace lintra {

// Reads the device's answer to "#schema" as it arrives in pieces: "#TABLE<name>" starts a table,
// "#ITEM<name>" adds a column to the table started last, the first empty line ends the answer, any
// other line is for the user to read. Tables and columns go straight into the schema it was given.
class SchemaReader {
  public:
    struct Event {
        enum class Kind { Table, Answer, End };
        Kind kind;
        QByteArray text;  // the table's name or the answer line
        bool operator==(const Event&) const = default;
    };
    // Text without an LF is kept for the next piece up to this size, then shown as it is.
    static constexpr qsizetype kMaxLine = 64 * 1024;

    explicit SchemaReader(DBTables& tables) : tables_(tables) {}

    // Forgets a partial line and the table started last (call whenever the schema is emptied).
    void reset();
    // Takes every complete line of what arrived so far; a partial line waits for the next piece.
    std::vector<Event> feed(const QByteArray& data);
    const QByteArray& pending() const { return buffer_; }

  private:
    void take(const QByteArray& line, std::vector<Event>& events);

    DBTables& tables_;
    DBTable* current_ = nullptr;
    QByteArray buffer_;
};

}  // namespace lintra
