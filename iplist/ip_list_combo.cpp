#include "iplist/ip_list_combo.h"

#include <QComboBox>

#include "iplist/ip_list_file.h"
#include "platform/settings/settings_store.h"

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

namespace {
const QString kSection = QStringLiteral("Settings");
const QString kLastHostKey = QStringLiteral("IP");
}  // namespace

void loadLastHostCombo(QComboBox& combo, const QString& appTitle) {
    fillCombo(combo, loadWithLastHost(defaultPath(), platform::GetSetting(appTitle, kSection, kLastHostKey)));
}

bool saveLastHostCombo(const QComboBox& combo, const QString& appTitle) {
    const bool saved = saveEntries(defaultPath(), comboEntries(combo));
    platform::SaveSetting(appTitle, kSection, kLastHostKey, combo.currentText());
    return saved;
}

}  // namespace iplist
