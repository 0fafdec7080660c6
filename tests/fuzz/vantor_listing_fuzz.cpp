// Any bytes as a device folder listing: records are taken off one at a time, each takes bytes or ends
// the listing; the rows have unique keys, texts the browser can show, and sorting them by date keeps
// every row.
#include <QByteArray>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "tests/fuzz/fuzz_check.h"
#include "vantor/files/dir_entry.h"
#include "vantor/files/dir_listing.h"

namespace {}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const qsizetype pathLength = std::min<qsizetype>(data[0] % 16, static_cast<qsizetype>(size - 1));
    const QByteArray filePath(reinterpret_cast<const char*>(data + 1), pathLength);
    const QByteArray listing(reinterpret_cast<const char*>(data + 1 + pathLength),
                             static_cast<qsizetype>(size - 1 - static_cast<std::size_t>(pathLength)));

    // Record by record: each one shortens the buffer, a cut-short one empties it.
    QByteArray buffer = listing;
    int records = 0;
    while (!buffer.isEmpty()) {
        const qsizetype before = buffer.size();
        const vantor::files::DirEntry entry = vantor::files::ParseDirEntry(buffer);
        FUZZ_CHECK(buffer.size() < before);
        if (entry.fullName.isEmpty()) {
            FUZZ_CHECK(buffer.isEmpty() || before >= vantor::files::kRecordHeader + 1);
            if (buffer.isEmpty()) break;
            continue;  // a record with an empty name
        }
        ++records;
        FUZZ_CHECK(!entry.fullName.contains('\0'));
        FUZZ_CHECK(entry.date.size() == 10 && entry.time.size() == 8);
    }

    QByteArray again = listing;
    vantor::files::DirHistory history;
    std::vector<vantor::files::ListRow> rows = vantor::files::listingRows(again, filePath, history);
    FUZZ_CHECK(rows.size() <= static_cast<std::size_t>(records));
    std::set<QByteArray> keys;
    for (const auto& row : rows) {
        FUZZ_CHECK(keys.insert(row.key).second);
        FUZZ_CHECK(row.kind == 'D' || row.kind == 'F');
        FUZZ_CHECK(row.date.size() == 18);
        FUZZ_CHECK(!row.size.isEmpty());
        vantor::files::rowDateTime(row.date);
    }
    for (const auto& [name, full] : history.entries()) FUZZ_CHECK(keys.count(full) == 1);
    for (bool descending : {false, true}) {
        std::vector<vantor::files::ListRow> sorted = rows;
        vantor::files::sortRowsByDate(sorted, descending);
        FUZZ_CHECK(sorted.size() == rows.size());
        std::set<QByteArray> sortedKeys;
        for (const auto& row : sorted) sortedKeys.insert(row.key);
        FUZZ_CHECK(sortedKeys == keys);
    }
    return 0;
}
