#pragma once

#include <QString>
#include <QStringList>

#include "iplist/ip_list_variants.h"

class QComboBox;

namespace iplist {

// What every program says when qnIPs.txt can't be rewritten.
inline constexpr const char* kSaveFailedMessage =
    "Couldn't save IP number list !\r\nPlease make sure, that the file\r\nis not write protected.";

// The device list as the programs' combo boxes hold it.
void fillCombo(QComboBox& combo, const SelectableList& list);
QStringList comboEntries(const QComboBox& combo);

// The combo's text trimmed; when it is not an entry yet it becomes the last one and is selected.
QString adoptTypedHost(QComboBox& combo);

// Lintra and Merrow: the list file in the program's folder into the combo, the host last used (the
// program's setting Settings/IP) selected.
void loadLastHostCombo(QComboBox& combo, const QString& appTitle);
// Lintra and Merrow: the combo's entries back into the list file, then its text as the host last used.
// False when the list file could not be written: the window tells the user (kSaveFailedMessage).
bool saveLastHostCombo(const QComboBox& combo, const QString& appTitle);

}  // namespace iplist
