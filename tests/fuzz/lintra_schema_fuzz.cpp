// The device's answers to Lintra cut into pieces as the fuzzer likes: the schema reader keeps at most
// one partial line (bounded), every table and column it records comes from a line of the answer, and
// reading the same bytes in other pieces gives the same tables, columns and lines. The result pane's
// text stays within its limit and keeps the newest text.
#include <QByteArray>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "lintra/schema_reader.h"
#include "lintra/text_lines.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

struct Reading {
    std::vector<lintra::SchemaReader::Event> events;
    QByteArray tables;  // every table and its columns, one per line
    QByteArray pending;
};

Reading read(const QByteArray& answer, std::size_t chunk) {
    lintra::DBTables tables;
    lintra::SchemaReader reader(tables);
    Reading r;
    for (qsizetype at = 0; at < answer.size(); at += static_cast<qsizetype>(chunk)) {
        for (auto& e : reader.feed(answer.mid(at, static_cast<qsizetype>(chunk)))) {
            FUZZ_CHECK(!e.text.contains('\n'));
            r.events.push_back(std::move(e));
        }
        FUZZ_CHECK(reader.pending().size() <= lintra::SchemaReader::kMaxLine);
        FUZZ_CHECK(!reader.pending().contains('\n'));
    }
    for (const lintra::DBTable& table : tables) {
        r.tables += "T" + table.mName + '\n';
        for (const lintra::DBColumn& column : table.mColumns) r.tables += "C" + column.mName + '\n';
    }
    r.pending = reader.pending();
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t chunk = data[0] % 97 + 1;
    const QByteArray answer(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));

    // Lines shorter than the limit read the same in any pieces.
    const Reading whole = read(answer, answer.size() + 1);
    const Reading cut = read(answer, chunk);
    FUZZ_CHECK(whole.events == cut.events && whole.tables == cut.tables && whole.pending == cut.pending);
    for (const auto& e : whole.events)
        if (e.kind == lintra::SchemaReader::Event::Kind::Table)
            FUZZ_CHECK(answer.contains("#TABLE" + e.text));

    // A script is cut into the lines it sends: never an empty one or a comment, never a line break.
    lintra::SqlScript script(answer);
    while (const auto line = script.next())
        FUZZ_CHECK(!line->isEmpty() && !line->startsWith(';') && !line->contains('\n'));

    // The result pane stays within its limit and ends with the newest text.
    QByteArray pane;
    for (qsizetype at = 0; at < answer.size(); at += static_cast<qsizetype>(chunk)) {
        const QByteArray more = answer.mid(at, static_cast<qsizetype>(chunk)).repeated(400);
        lintra::appendCapped(pane, more);
        FUZZ_CHECK(pane.size() <= lintra::kLimit);
        FUZZ_CHECK(pane.endsWith(more.right(std::min(more.size(), pane.size()))));
    }
    return 0;
}
