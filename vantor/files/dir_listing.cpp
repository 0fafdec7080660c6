#include "vantor/files/dir_listing.h"

#include <algorithm>
#include <set>

namespace vantor::files {

bool DirHistory::add(const QByteArray& name, const QByteArray& fullName) {
    for (const auto& entry : entries_)
        if (entry.second == fullName) return false;
    entries_.emplace_back(name, fullName);
    return true;
}

std::vector<ListRow> listingRows(QByteArray& dirBuffer, const QByteArray& filePath, DirHistory& history) {
    std::vector<ListRow> rows;
    std::set<QByteArray> keys;
    while (!dirBuffer.isEmpty()) {
        const DirEntry entry = ParseDirEntry(dirBuffer);
        if (entry.fullName.isEmpty()) break;
        if (!keys.insert(entry.fullName).second) continue;
        ListRow row;
        row.key = entry.fullName;
        row.text = entry.fullName.mid(filePath.size());
        if (entry.attributes & kFolderAttribute) {
            row.kind = 'D';
            row.image = 1;
            row.size = entry.fullName == "\\MorvFlash" ? flashFreeText(entry.size) : QByteArray(" ");
            history.add(row.text, row.key);
        } else {
            row.size = fileSizeText(entry.size);
        }
        row.date = entry.date + entry.time;
        row.attributes = AttributeLetters(entry.attributes);
        rows.push_back(std::move(row));
    }
    return rows;
}

std::optional<QDateTime> rowDateTime(const QByteArray& dateText) {
    // "dd.mm.yy  hh:mm:ss"
    if (dateText.size() < 18) return std::nullopt;
    bool ok[6];
    const int day = dateText.mid(0, 2).toInt(&ok[0]);
    const int month = dateText.mid(3, 2).toInt(&ok[1]);
    const int yy = dateText.mid(6, 2).toInt(&ok[2]);
    const int hour = dateText.mid(10, 2).toInt(&ok[3]);
    const int minute = dateText.mid(13, 2).toInt(&ok[4]);
    const int second = dateText.mid(16, 2).toInt(&ok[5]);
    if (!std::all_of(std::begin(ok), std::end(ok), [](bool b) { return b; })) return std::nullopt;
    const QDate date(yy < 30 ? 2000 + yy : 1900 + yy, month, day);
    const QTime time(hour, minute, second);
    if (!date.isValid() || !time.isValid()) return std::nullopt;
    return QDateTime(date, time);
}

void sortRowsByDate(std::vector<ListRow>& rows, bool descending) {
    std::vector<std::pair<std::optional<QDateTime>, ListRow>> keyed;
    keyed.reserve(rows.size());
    for (ListRow& row : rows) keyed.emplace_back(rowDateTime(row.date), std::move(row));
    std::stable_sort(keyed.begin(), keyed.end(), [descending](const auto& a, const auto& b) {
        return descending ? b.first < a.first : a.first < b.first;
    });
    rows.clear();
    for (auto& k : keyed) rows.push_back(std::move(k.second));
}

}  // namespace vantor::files
