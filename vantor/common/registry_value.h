#pragma once

#include <QString>

#include "platform/settings/registry_store.h"

namespace vantor {

// Reads one registry value as text: a string value up to its terminating NUL, a 32-bit value as "&h"
// and its eight hex digits (most significant byte first). False, with `value` empty, when the key or
// value is missing, has another type, or does not fit the 1024-byte buffer the value is read into.
bool GetKeyValue(const platform::RegistryStore& store, platform::RegistryStore::Root root, const QString& key,
                 const QString& valueName, QString& value);

}  // namespace vantor
