#include "platform/com/dbus/interface_table.h"

#include <QStringList>
#include <mutex>

namespace platform::com::dbus {

namespace {
struct Registry {
    std::mutex lock;
    std::vector<const InterfaceTable*> tables;
};
Registry& registry() {
    static Registry instance;
    return instance;
}

// The end of the complete type starting at `at`.
qsizetype completeTypeEnd(const QString& s, qsizetype at) {
    if (at >= s.size()) return at;
    const QChar c = s.at(at);
    if (c == QLatin1Char('a')) return completeTypeEnd(s, at + 1);
    if (c == QLatin1Char('(') || c == QLatin1Char('{')) {
        const QChar close = c == QLatin1Char('(') ? QLatin1Char(')') : QLatin1Char('}');
        qsizetype i = at + 1;
        while (i < s.size() && s.at(i) != close) i = completeTypeEnd(s, i);
        return i + 1;
    }
    return at + 1;
}

void appendArgs(QString& xml, const QString& signature, const char* direction) {
    for (const QString& type : splitSignature(signature))
        xml +=
            QStringLiteral("      <arg type=\"%1\" direction=\"%2\"/>\n").arg(type, QLatin1String(direction));
}
}  // namespace

const MethodEntry* InterfaceTable::find(const QString& method) const {
    for (const MethodEntry& entry : methods)
        if (entry.name == method) return &entry;
    return nullptr;
}

QString InterfaceTable::introspection() const {
    QString xml = QStringLiteral("  <interface name=\"%1\">\n").arg(dbusName());
    for (const MethodEntry& m : methods) {
        xml += QStringLiteral("    <method name=\"%1\">\n").arg(m.name);
        appendArgs(xml, m.inSignature, "in");
        appendArgs(xml, m.outSignature, "out");
        if (m.oneWay)
            xml += QStringLiteral(
                "      <annotation name=\"org.freedesktop.DBus.Method.NoReply\" value=\"true\"/>\n");
        xml += QStringLiteral("    </method>\n");
    }
    xml += QStringLiteral("  </interface>\n");
    return xml;
}

void registerTable(const InterfaceTable* table) {
    Registry& r = registry();
    std::lock_guard guard(r.lock);
    for (const InterfaceTable* known : r.tables)
        if (known->iid == table->iid) return;
    r.tables.push_back(table);
}

const InterfaceTable* tableFor(const IID& iid) {
    Registry& r = registry();
    std::lock_guard guard(r.lock);
    for (const InterfaceTable* table : r.tables)
        if (table->iid == iid) return table;
    return nullptr;
}

std::vector<const InterfaceTable*> registeredTables() {
    Registry& r = registry();
    std::lock_guard guard(r.lock);
    return r.tables;
}

const InterfaceTable& unknownTable() {
    static const InterfaceTable table{
        QStringLiteral("IUnknown"),
        IID_IUnknown,
        {{QStringLiteral("QueryInterface"), QStringLiteral("s"), QStringLiteral("uo")},
         {QStringLiteral("AddRef"), QString(), QStringLiteral("u")},
         {QStringLiteral("Release"), QString(), QStringLiteral("u")}},
        nullptr};
    return table;
}

QStringList splitSignature(const QString& signature) {
    QStringList types;
    qsizetype at = 0;
    while (at < signature.size()) {
        const qsizetype end = completeTypeEnd(signature, at);
        types << signature.mid(at, end - at);
        at = end;
    }
    return types;
}

}  // namespace platform::com::dbus
