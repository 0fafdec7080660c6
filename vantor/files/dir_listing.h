#pragma once

#include <QByteArray>
#include <QDateTime>
#include <optional>
#include <utility>
#include <vector>

#include "vantor/files/dir_entry.h"

namespace vantor::files {

// One row of the browser's list, as the listing gives it.
struct ListRow {
    QByteArray key;   // the full name; unique within a listing
    QByteArray text;  // the name relative to the listed folder
    char kind = 'F';  // 'D' folder, 'F' file
    int image = 2;    // 1 folder, 2 file
    QByteArray size, date, attributes;
};

// Every folder seen while the browser is open, in the order first seen: (name, full name) by full name.
class DirHistory {
  public:
    void clear() { entries_.clear(); }
    // False (and nothing changes) when `fullName` is already there.
    bool add(const QByteArray& name, const QByteArray& fullName);
    const std::vector<std::pair<QByteArray, QByteArray>>& entries() const { return entries_; }

  private:
    std::vector<std::pair<QByteArray, QByteArray>> entries_;
};

// Parses a whole listing of the folder `filePath` into rows and records its folders in `history`. A
// second entry with a full name already listed is left out, so keys stay unique; parsing stops at the
// first record that is cut short.
std::vector<ListRow> listingRows(QByteArray& dirBuffer, const QByteArray& filePath, DirHistory& history);

// The moment a row's Date text ("dd.mm.yy  hh:mm:ss") stands for; two-digit years 30..99 are 19xx, the
// rest 20xx, as the PC's date rules read them. Nothing for a text that is not a date.
std::optional<QDateTime> rowDateTime(const QByteArray& dateText);

// Row order by date: ascending or descending, equal or unreadable dates keep their order (unreadable
// ones first when ascending).
void sortRowsByDate(std::vector<ListRow>& rows, bool descending);

}  // namespace vantor::files
