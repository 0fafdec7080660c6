#pragma once

#include <QString>
#include <QStringList>

namespace iplist {

// The ways the four programs read and write qnIPs.txt.

// A list as a combo box shows it: its entries and the one selected (-1: none).
struct SelectableList {
    QStringList entries;
    int selected = -1;
};

// Vantor: entries until the first empty line. "disconnect" is reserved: never written to the file.
inline constexpr const char* kDisconnectEntry = "disconnect";
QStringList loadVantorList(const QString& path);
bool saveVantorList(const QString& path, const QStringList& entries, QString* error = nullptr);

// Lintra and Merrow: entries until the first empty line; the last host used is selected, appended first
// when the file lacks it (then the first entry is selected). A missing file gives the last host alone.
// An empty last host is never added (an empty line would end the list for every program).
SelectableList loadWithLastHost(const QString& path, const QString& lastHost);
// Lintra and Merrow: every entry in order; empty entries are left out for the same reason.
bool saveEntries(const QString& path, const QStringList& entries, QString* error = nullptr);

// Pavane: the last address first (when there is one), then every line of the file that differs from it,
// to the end of the file; the first entry selected.
SelectableList loadPavaneList(const QString& path, const QString& lastAddress);
// Pavane: every entry in order, then `currentText` as the last line when it is new.
bool savePavaneList(const QString& path, const QStringList& entries, const QString& currentText,
                    QString* error = nullptr);

}  // namespace iplist
