#include "iplist/ip_list_variants.h"

#include "iplist/ip_list_file.h"

namespace iplist {

namespace {
QStringList withoutEmpty(const QStringList& entries) {
    QStringList kept;
    for (const QString& entry : entries)
        if (!entry.isEmpty()) kept << entry;
    return kept;
}
}  // namespace

QStringList loadVantorList(const QString& path) { return readLines(path, true).value_or(QStringList()); }

bool saveVantorList(const QString& path, const QStringList& entries, QString* error) {
    QStringList lines;
    for (const QString& entry : entries)
        if (entry != QLatin1String(kDisconnectEntry) && !entry.isEmpty()) lines << entry;
    return writeLines(path, lines, error);
}

SelectableList loadWithLastHost(const QString& path, const QString& lastHost) {
    SelectableList list;
    list.entries = readLines(path, true).value_or(QStringList());
    list.selected = static_cast<int>(list.entries.indexOf(lastHost));
    if (list.selected < 0 || lastHost.isEmpty()) {
        if (!lastHost.isEmpty()) list.entries << lastHost;
        list.selected = list.entries.isEmpty() ? -1 : 0;
    }
    return list;
}

bool saveEntries(const QString& path, const QStringList& entries, QString* error) {
    return writeLines(path, withoutEmpty(entries), error);
}

SelectableList loadPavaneList(const QString& path, const QString& lastAddress) {
    SelectableList list;
    if (!lastAddress.isEmpty()) list.entries << lastAddress;
    // Empty lines are skipped: written back they would end the list for the other programs.
    for (const QString& line : readLines(path, false).value_or(QStringList()))
        if (!line.isEmpty() && line != lastAddress) list.entries << line;
    list.selected = list.entries.isEmpty() ? -1 : 0;
    return list;
}

bool savePavaneList(const QString& path, const QStringList& entries, const QString& currentText,
                    QString* error) {
    QStringList lines = withoutEmpty(entries);
    if (!currentText.isEmpty() && !lines.contains(currentText)) lines << currentText;
    return writeLines(path, lines, error);
}

}  // namespace iplist
