#pragma once

#include <QMap>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/settings/registry_store.h"

namespace ferrow {

// A registry script in the COM registrar's syntax:
//
//   HKCR
//   {
//       NoRemove CLSID
//       {
//           ForceRemove {...} = s 'Name'
//           {
//               LocalServer32 = s '%MODULE%'
//               {
//                   val ThreadingModel = s 'both'
//               }
//           }
//       }
//   }
//
// A key may carry a default value ("= s 'text'" or "= d 12"), named values ("val Name = s 'text'") and
// sub-keys in braces. "NoRemove" keys are never deleted; "ForceRemove" keys are deleted with their
// subtree before they are written. Strings are quoted with ' (a doubled '' is one quote); %NAME% in a
// string is replaced by the variable NAME, %% by one %.
struct RegistryScriptValue {
    QString name;  // empty: the key's default value
    std::uint32_t type = platform::RegistryStore::kString;
    QString text;
    std::uint32_t number = 0;
};

struct RegistryScriptKey {
    enum class Flag { None, NoRemove, ForceRemove };
    Flag flag = Flag::None;
    QString name;
    std::optional<RegistryScriptValue> defaultValue;
    std::vector<RegistryScriptValue> values;
    std::vector<RegistryScriptKey> subKeys;
};

struct RegistryScriptRoot {
    platform::RegistryStore::Root root = platform::RegistryStore::Root::ClassesRoot;
    std::vector<RegistryScriptKey> keys;
};

struct RegistryScript {
    std::vector<RegistryScriptRoot> roots;
};

// The script, or nothing with `error` saying what is wrong and in which line.
std::optional<RegistryScript> parseRegistryScript(const QString& text,
                                                  const QMap<QString, QString>& variables,
                                                  QString* error = nullptr);

// Writes every key and value of the script. A failure part-way removes what was written again, so the
// store never keeps half a registration.
bool registerScript(const RegistryScript& script, platform::RegistryStore& store);
// Removes what the script writes: named values, keys that hold no other sub-keys, ForceRemove keys with
// everything below them; NoRemove keys stay. Keys that are already gone are no failure.
bool unregisterScript(const RegistryScript& script, platform::RegistryStore& store);

}  // namespace ferrow
