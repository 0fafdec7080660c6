// Any bytes as the registry store's file, as another process or a damaged disk may leave it: every
// reading call answers without a crash or a leak, and a value written into it reads back as written.
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <cstdint>
#include <cstdlib>

#include "platform/settings/registry_store.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using platform::RegistryStore;

const QString& storePath() {
    static const QString path =
        QDir::tempPath() + QStringLiteral("/registry_store_fuzz_%1.json").arg(::getpid());
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    {
        QFile file(storePath());
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    const RegistryStore store(storePath());
    const QString key = QStringLiteral("CLSID\\{5E1F0A27-3C4D-4B8E-9A61-2F7018D344C5}\\LocalServer32");
    for (const auto root : {RegistryStore::Root::ClassesRoot, RegistryStore::Root::CurrentUser,
                            RegistryStore::Root::LocalMachine}) {
        for (const QString& path :
             {QString(), QStringLiteral("CLSID"), key, QStringLiteral("Software\\Quillon")}) {
            store.keyExists(root, path);
            for (const QString& sub : store.subKeys(root, path))
                store.keyExists(root, path + QLatin1Char('\\') + sub);
            // A value of a type it does not know is handed on as it is: the callers check the type.
            for (const QString& name : store.valueNames(root, path)) store.queryValue(root, path, name);
        }
    }
    RegistryStore writable(storePath());
    if (writable.setString(RegistryStore::Root::ClassesRoot, key, QStringLiteral("BusName"),
                           QStringLiteral("org.quillon.Ferrow"))) {
        const auto value =
            writable.queryValue(RegistryStore::Root::ClassesRoot, key, QStringLiteral("busname"));
        FUZZ_CHECK(value && value->type == RegistryStore::kString &&
                   value->text == QStringLiteral("org.quillon.Ferrow"));
    }
    QFile::remove(storePath());
    return 0;
}
