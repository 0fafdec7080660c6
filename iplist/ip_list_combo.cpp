#include "iplist/ip_list_combo.h"

#include <QComboBox>

#include "iplist/ip_list_file.h"
#include "platform/ui/dialogs.h"

namespace iplist {

void fillCombo(QComboBox& combo, const SelectableList& list) {
    combo.clear();
    combo.addItems(list.entries);
    combo.setCurrentIndex(list.selected);
}

QStringList comboEntries(const QComboBox& combo) {
    QStringList entries;
    for (int i = 0; i < combo.count(); ++i) entries << combo.itemText(i);
    return entries;
}

QString adoptTypedHost(QComboBox& combo) {
    const QString host = combo.currentText().trimmed();
    if (!host.isEmpty() && combo.findText(host, Qt::MatchFixedString | Qt::MatchCaseSensitive) < 0) {
        combo.addItem(host);
        combo.setCurrentIndex(combo.count() - 1);
    }
    return host;
}

void warnSaveFailed() { platform::ui::msgBox(QString::fromLatin1(kSaveFailedMessage)); }

void loadLastHostCombo(QComboBox& combo, const QString& lastHost) {
    fillCombo(combo, loadWithLastHost(defaultPath(), lastHost));
}

void saveLastHostCombo(const QComboBox& combo) {
    if (!saveEntries(defaultPath(), comboEntries(combo))) warnSaveFailed();
}

}  // namespace iplist
