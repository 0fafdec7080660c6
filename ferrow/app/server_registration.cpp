#include "ferrow/app/server_registration.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include "ferrow/app/registry_script.h"
#include "ferrow/opc/opc_ids.h"
#include "platform/files/atomic_file.h"
#include "platform/session_bus/reload_config.h"
#include "platform/settings/registry_store.h"

namespace ferrow {

namespace {

using platform::RegistryStore;
constexpr auto kClassesRoot = RegistryStore::Root::ClassesRoot;

struct Category {
    const platform::com::CATID& id;
    const char* description;
};
const Category kDaServer10{opc::CATID_OPCDAServer10, "OPC Data Access Servers Version 1.0"};
const Category kDaServer20{opc::CATID_OPCDAServer20, "OPC Data Access Servers Version 2.0"};
// The category descriptions are kept per locale; these are the English ones.
const QString kLocale = QStringLiteral("409");

QString guidText(const platform::com::GUID& id) {
    return QString::fromStdString(platform::com::formatGuid(id));
}
QString classKey() { return QStringLiteral("CLSID\\") + guidText(opc::CLSID_FerrowServer); }
QString implementedKey() { return classKey() + QStringLiteral("\\Implemented Categories"); }

bool registerCategory(RegistryStore& store, const Category& category) {
    const QString key = QStringLiteral("Component Categories\\") + guidText(category.id);
    return store.createKey(kClassesRoot, key) &&
           store.setString(kClassesRoot, key, kLocale, QString::fromLatin1(category.description));
}

bool implementCategory(RegistryStore& store, const Category& category) {
    return store.createKey(kClassesRoot, implementedKey() + QLatin1Char('\\') + guidText(category.id));
}

bool leaveCategory(RegistryStore& store, const Category& category) {
    const QString key = implementedKey() + QLatin1Char('\\') + guidText(category.id);
    bool ok = !store.keyExists(kClassesRoot, key) || store.deleteKey(kClassesRoot, key);
    if (store.keyExists(kClassesRoot, implementedKey()) &&
        store.subKeys(kClassesRoot, implementedKey()).isEmpty())
        ok = store.deleteKey(kClassesRoot, implementedKey()) && ok;
    return ok;
}

std::optional<RegistryScript> scriptFor(const QString& modulePath) {
    return parseRegistryScript(ferrowRegistryScript(), {{QStringLiteral("MODULE"), modulePath}});
}

// The bus reads Exec= like a shell: anything beyond plain path characters is quoted.
QString execArgument(const QString& path) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9/._+-]+$"));
    if (plain.match(path).hasMatch()) return path;
    QString quoted = path;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

// The running bus is told at once (it may not watch a services folder made after it started); a bus
// that does not answer finds the file at its next start.
bool writeActivationFile(const QString& modulePath) {
    const QString file = activationFilePath();
    if (!QDir().mkpath(QFileInfo(file).absolutePath())) return false;
    if (!platform::writeFileAtomically(file, activationFileText(modulePath).toUtf8())) return false;
    platform::reloadSessionBusConfig();
    return true;
}

bool removeActivationFile() {
    const QString file = activationFilePath();
    if (!QFileInfo::exists(file)) return true;
    if (!QFile::remove(file)) return false;
    platform::reloadSessionBusConfig();
    return true;
}

}  // namespace

const QString& ferrowRegistryScript() {
    static const QString script = QStringLiteral(R"(HKCR
{
    Morvane.Ferrow.1 = s 'Morvane Ferrow'
    {
        CLSID = s '{7CFD3EC3-B0F7-11d2-AA12-0080C79E15A1}'
    }
    Morvane.Ferrow = s 'Morvane Ferrow'
    {
        CLSID = s '{7CFD3EC3-B0F7-11d2-AA12-0080C79E15A1}'
        OPC
        {
            val Vendor = s 'Morvane, GmbH'
        }
    }
    NoRemove CLSID
    {
        ForceRemove {7CFD3EC3-B0F7-11d2-AA12-0080C79E15A1} = s 'Morvane Ferrow'
        {
            ProgID = s 'Morvane.Ferrow.1'
            VersionIndependentProgID = s 'Morvane.Ferrow'
            LocalServer32 = s '%MODULE%'
            {
                val ThreadingModel = s 'both'
                val BusName = s 'org.quillon.Ferrow'
            }
        }
    }
    NoRemove AppID
    {
        ForceRemove {7CFD3EC3-B0F7-11d2-AA12-0080C79E15A1} = s 'Morvane Ferrow'
    }
}
)");
    return script;
}

bool RegisterServer(const QString& modulePath, RegistryStore& store) {
    const auto script = scriptFor(modulePath);
    if (!script || !registerScript(*script, store)) return false;
    if (registerCategory(store, kDaServer10)) implementCategory(store, kDaServer10);
    if (!registerCategory(store, kDaServer20) || !implementCategory(store, kDaServer20)) return false;
    return writeActivationFile(modulePath);
}

bool UnregisterServer(const QString& modulePath, RegistryStore& store) {
    const auto script = scriptFor(modulePath);
    bool ok = script && unregisterScript(*script, store);
    ok = leaveCategory(store, kDaServer10) && ok;
    ok = leaveCategory(store, kDaServer20) && ok;
    return removeActivationFile() && ok;
}

QString activationFilePath() {
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty()) dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    return dataHome + QStringLiteral("/dbus-1/services/org.quillon.Ferrow.service");
}

QString activationFileText(const QString& modulePath) {
    return QStringLiteral("[D-BUS Service]\nName=org.quillon.Ferrow\nExec=%1 -Embedding\n")
        .arg(execArgument(modulePath));
}

}  // namespace ferrow
