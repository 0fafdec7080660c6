#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

namespace devsim {

// One datapoint of the simulated device: its name, type number (the VARTYPE code: 2, 3, 4, 11, 17),
// access and current value bytes (little-endian, as many as the type holds).
struct Datapoint {
    QByteArray name;
    int type = 4;
    bool output = false;
    QByteArray value;

    QByteArray hexValue() const;
    // False for text that is not hex; extra bytes are cut, missing ones are zero.
    bool setHexValue(const QByteArray& hex);
};

// The device's datapoints in enumeration order.
class DatapointTable {
  public:
    // Every type as input and output, and one name with a dot in it.
    static DatapointTable demo();
    // One datapoint per line: "name/type/access[/hex]" (access 0 input, 1 output); blank lines and
    // lines starting with '#' are skipped. False with a reason for a line that does not fit.
    static bool load(const QString& path, DatapointTable* table, QString* error);
    // `count` datapoints Tag0, Tag1, ... cycling through the five types (for benchmarks).
    static DatapointTable generated(int count);

    void add(Datapoint point);
    int size() const { return static_cast<int>(points_.size()); }
    Datapoint* at(int index);
    Datapoint* find(const QByteArray& name);
    std::vector<Datapoint>& points() { return points_; }

  private:
    std::vector<Datapoint> points_;
};

// Bytes a value of this type has; 0 for a type the device does not know.
int datapointSize(int type);

}  // namespace devsim
