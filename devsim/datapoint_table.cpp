#include "devsim/datapoint_table.h"

#include <QFile>
#include <cctype>
#include <cstring>

namespace devsim {

int datapointSize(int type) {
    switch (type) {
        case 2:
        case 11:
            return 2;
        case 3:
        case 4:
            return 4;
        case 17:
            return 1;
        default:
            return 0;
    }
}

QByteArray Datapoint::hexValue() const { return value.toHex().toUpper(); }

bool Datapoint::setHexValue(const QByteArray& hex) {
    for (char c : hex)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    QByteArray bytes = QByteArray::fromHex(hex);
    bytes.resize(datapointSize(type), '\0');
    value = bytes;
    return true;
}

namespace {
Datapoint point(const char* name, int type, bool output, QByteArray value) {
    Datapoint p{name, type, output, {}};
    p.value = value.leftJustified(datapointSize(type), '\0', true);
    return p;
}

QByteArray floatBytes(float f) {
    QByteArray bytes(4, '\0');
    std::memcpy(bytes.data(), &f, 4);
    return bytes;
}
}  // namespace

DatapointTable DatapointTable::demo() {
    DatapointTable table;
    table.add(point("Level", 4, false, floatBytes(1.0f)));
    table.add(point("Setpoint", 4, true, floatBytes(2.5f)));
    table.add(point("Counter", 3, false, QByteArray::fromHex("E8030000")));
    table.add(point("Total", 3, true, QByteArray::fromHex("00000000")));
    table.add(point("Pressure", 2, false, QByteArray::fromHex("3412")));
    table.add(point("Speed", 2, true, QByteArray::fromHex("6400")));
    table.add(point("Alarm", 11, false, QByteArray::fromHex("0000")));
    table.add(point("Valve", 11, true, QByteArray::fromHex("FFFF")));
    table.add(point("Status", 17, false, QByteArray::fromHex("C8")));
    table.add(point("Mode", 17, true, QByteArray::fromHex("01")));
    table.add(point("Tank.Temp", 4, false, floatBytes(20.5f)));
    return table;
}

DatapointTable DatapointTable::generated(int count) {
    static const int kTypes[] = {2, 3, 4, 11, 17};
    DatapointTable table;
    for (int i = 0; i < count; ++i)
        table.add(point(("Tag" + std::to_string(i)).c_str(), kTypes[i % 5], i % 2 == 1, QByteArray()));
    return table;
}

bool DatapointTable::load(const QString& path, DatapointTable* table, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    DatapointTable loaded;
    int lineNumber = 0;
    while (!file.atEnd()) {
        ++lineNumber;
        const QByteArray line = file.readLine().trimmed();
        if (line.isEmpty() || line.startsWith('#')) continue;
        const QList<QByteArray> fields = line.split('/');
        bool ok = fields.size() >= 3 && !fields[0].isEmpty();
        Datapoint p;
        if (ok) {
            p.name = fields[0];
            p.type = fields[1].toInt(&ok);
            p.output = fields[2] != "0";
            ok = ok && datapointSize(p.type) > 0 &&
                 p.setHexValue(fields.size() > 3 ? fields[3] : QByteArray());
        }
        if (!ok) {
            *error = QStringLiteral("%1 line %2: expected name/type/access[/hex]").arg(path).arg(lineNumber);
            return false;
        }
        loaded.add(p);
    }
    *table = std::move(loaded);
    return true;
}

void DatapointTable::add(Datapoint point) { points_.push_back(std::move(point)); }

Datapoint* DatapointTable::at(int index) {
    return index >= 0 && index < size() ? &points_[static_cast<std::size_t>(index)] : nullptr;
}

Datapoint* DatapointTable::find(const QByteArray& name) {
    for (auto& p : points_)
        if (p.name == name) return &p;
    return nullptr;
}

}  // namespace devsim
