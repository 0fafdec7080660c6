#include "vantor/common/registry_value.h"

namespace vantor {

namespace {
constexpr qsizetype kBufferSize = 1024;
}

bool GetKeyValue(const platform::RegistryStore& store, platform::RegistryStore::Root root, const QString& key,
                 const QString& valueName, QString& value) {
    value.clear();
    const auto found = store.queryValue(root, key, valueName);
    if (!found) return false;
    switch (found->type) {
        case platform::RegistryStore::kString: {
            QString text = found->text;
            const qsizetype nul = text.indexOf(QChar(u'\0'));
            if (nul >= 0) text.truncate(nul);
            if (text.toLocal8Bit().size() + 1 > kBufferSize) return false;
            value = text;
            return true;
        }
        case platform::RegistryStore::kDword:
            // Two digits per byte: dropping a byte's leading zero would change the number.
            value = QStringLiteral("&h") +
                    QStringLiteral("%1").arg(found->number, 8, 16, QLatin1Char('0')).toUpper();
            return true;
        default:
            return false;
    }
}

}  // namespace vantor
