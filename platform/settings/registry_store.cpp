#include "platform/settings/registry_store.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include "platform/files/atomic_file.h"
#include "platform/settings/settings_store.h"

namespace platform {

namespace {

// Document layout: { "<ROOT>\<key path>": { "<value name>": { "type": 1|4, "data": text|number } } }.
QString normalizedKey(const QString& key) {
    QStringList parts = key.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    return parts.join(QLatin1Char('\\'));
}

QJsonObject load(const QString& file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QJsonDocument::fromJson(f.readAll()).object();
}

bool save(const QString& file, const QJsonObject& store) {
    QDir().mkpath(QFileInfo(file).absolutePath());
    return writeFileAtomically(file, QJsonDocument(store).toJson(QJsonDocument::Indented));
}

// The stored spelling of `fullKey`, found ignoring case; empty when absent.
QString findKey(const QJsonObject& store, const QString& fullKey) {
    for (auto it = store.begin(); it != store.end(); ++it)
        if (it.key().compare(fullKey, Qt::CaseInsensitive) == 0) return it.key();
    return {};
}

QString findName(const QJsonObject& values, const QString& name) {
    for (auto it = values.begin(); it != values.end(); ++it)
        if (it.key().compare(name, Qt::CaseInsensitive) == 0) return it.key();
    return {};
}

}  // namespace

RegistryStore::RegistryStore(QString file)
    : file_(file.isEmpty() ? settingsFolder() + QStringLiteral("/registry.json") : std::move(file)) {}

QString RegistryStore::rootName(Root root) {
    switch (root) {
        case Root::ClassesRoot:
            return QStringLiteral("HKEY_CLASSES_ROOT");
        case Root::CurrentUser:
            return QStringLiteral("HKEY_CURRENT_USER");
        case Root::LocalMachine:
            return QStringLiteral("HKEY_LOCAL_MACHINE");
    }
    return {};
}

static QString fullKeyOf(RegistryStore::Root root, const QString& key) {
    const QString path = normalizedKey(key);
    return path.isEmpty() ? RegistryStore::rootName(root)
                          : RegistryStore::rootName(root) + QLatin1Char('\\') + path;
}

bool RegistryStore::keyExists(Root root, const QString& key) const {
    const QString full = fullKeyOf(root, key);
    const QJsonObject store = load(file_);
    if (!findKey(store, full).isEmpty()) return true;
    // A key exists also when it only holds sub-keys.
    const QString prefix = full + QLatin1Char('\\');
    for (auto it = store.begin(); it != store.end(); ++it)
        if (it.key().startsWith(prefix, Qt::CaseInsensitive)) return true;
    return false;
}

bool RegistryStore::createKey(Root root, const QString& key) {
    QJsonObject store = load(file_);
    const QString full = fullKeyOf(root, key);
    if (!findKey(store, full).isEmpty()) return true;
    store.insert(full, QJsonObject());
    return save(file_, store);
}

bool RegistryStore::deleteKey(Root root, const QString& key) {
    QJsonObject store = load(file_);
    const QString full = fullKeyOf(root, key);
    const QString prefix = full + QLatin1Char('\\');
    bool found = false;
    for (auto it = store.begin(); it != store.end();) {
        if (it.key().compare(full, Qt::CaseInsensitive) == 0 ||
            it.key().startsWith(prefix, Qt::CaseInsensitive)) {
            it = store.erase(it);
            found = true;
        } else {
            ++it;
        }
    }
    return found && save(file_, store);
}

std::optional<RegistryStore::Value> RegistryStore::queryValue(Root root, const QString& key,
                                                              const QString& name) const {
    const QJsonObject store = load(file_);
    const QString stored = findKey(store, fullKeyOf(root, key));
    if (stored.isEmpty()) return std::nullopt;
    const QJsonObject values = store.value(stored).toObject();
    const QString storedName = findName(values, name);
    if (storedName.isNull() && !values.contains(name)) return std::nullopt;
    const QJsonObject entry = values.value(storedName.isNull() ? name : storedName).toObject();
    Value value;
    value.type = static_cast<std::uint32_t>(entry.value(QStringLiteral("type")).toInt(kString));
    if (value.type == kDword)
        value.number = static_cast<std::uint32_t>(entry.value(QStringLiteral("data")).toDouble());
    else
        value.text = entry.value(QStringLiteral("data")).toString();
    return value;
}

bool RegistryStore::setValue(Root root, const QString& key, const QString& name, const Value& value) {
    QJsonObject store = load(file_);
    const QString full = fullKeyOf(root, key);
    QString stored = findKey(store, full);
    if (stored.isEmpty()) stored = full;
    QJsonObject values = store.value(stored).toObject();
    const QString storedName = findName(values, name);
    QJsonObject entry;
    entry.insert(QStringLiteral("type"), static_cast<int>(value.type));
    if (value.type == kDword)
        entry.insert(QStringLiteral("data"), static_cast<double>(value.number));
    else
        entry.insert(QStringLiteral("data"), value.text);
    values.insert(storedName.isEmpty() ? name : storedName, entry);
    store.insert(stored, values);
    return save(file_, store);
}

bool RegistryStore::setString(Root root, const QString& key, const QString& name, const QString& text) {
    return setValue(root, key, name, Value{kString, text, 0});
}

bool RegistryStore::setDword(Root root, const QString& key, const QString& name, std::uint32_t number) {
    return setValue(root, key, name, Value{kDword, {}, number});
}

bool RegistryStore::deleteValue(Root root, const QString& key, const QString& name) {
    QJsonObject store = load(file_);
    const QString stored = findKey(store, fullKeyOf(root, key));
    if (stored.isEmpty()) return false;
    QJsonObject values = store.value(stored).toObject();
    const QString storedName = findName(values, name);
    if (storedName.isNull() && !values.contains(name)) return false;
    values.remove(storedName.isNull() ? name : storedName);
    store.insert(stored, values);
    return save(file_, store);
}

QStringList RegistryStore::subKeys(Root root, const QString& key) const {
    const QJsonObject store = load(file_);
    const QString prefix = fullKeyOf(root, key) + QLatin1Char('\\');
    QStringList names;
    for (auto it = store.begin(); it != store.end(); ++it) {
        if (!it.key().startsWith(prefix, Qt::CaseInsensitive)) continue;
        const QString child = it.key().mid(prefix.size()).section(QLatin1Char('\\'), 0, 0);
        bool seen = false;
        for (const QString& n : names) seen = seen || n.compare(child, Qt::CaseInsensitive) == 0;
        if (!seen) names << child;
    }
    return names;
}

QStringList RegistryStore::valueNames(Root root, const QString& key) const {
    const QJsonObject store = load(file_);
    const QString stored = findKey(store, fullKeyOf(root, key));
    return stored.isEmpty() ? QStringList() : store.value(stored).toObject().keys();
}

}  // namespace platform
