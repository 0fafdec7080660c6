#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

namespace platform {

// A small registry: keys under a few roots, each with named string (type 1) and 32-bit (type 4) values.
// Key paths use "\" and compare ignoring case, as on the platform the programs come from. The whole
// store is one JSON file in the settings folder, rewritten atomically on every change; every call reads
// the file afresh, so several processes see each other's changes.
class RegistryStore {
  public:
    enum class Root { ClassesRoot, CurrentUser, LocalMachine };
    static constexpr std::uint32_t kString = 1;  // REG_SZ
    static constexpr std::uint32_t kDword = 4;   // REG_DWORD

    struct Value {
        std::uint32_t type = kString;
        QString text;              // kString
        std::uint32_t number = 0;  // kDword
    };

    // The store of the current user (settingsFolder()/registry.json) unless `file` names another.
    explicit RegistryStore(QString file = {});

    bool keyExists(Root root, const QString& key) const;
    bool createKey(Root root, const QString& key);
    // Removes the key with all its sub-keys; false when it did not exist or the store can't be written.
    bool deleteKey(Root root, const QString& key);
    std::optional<Value> queryValue(Root root, const QString& key, const QString& name) const;
    bool setString(Root root, const QString& key, const QString& name, const QString& text);
    bool setDword(Root root, const QString& key, const QString& name, std::uint32_t number);
    bool deleteValue(Root root, const QString& key, const QString& name);
    QStringList subKeys(Root root, const QString& key) const;
    QStringList valueNames(Root root, const QString& key) const;

    static QString rootName(Root root);

  private:
    bool setValue(Root root, const QString& key, const QString& name, const Value& value);
    QString file_;
};

}  // namespace platform
