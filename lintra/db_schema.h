#pragma once

#include <QByteArray>

#include "lintra/keyed_collection.h"

namespace lintra {

// One column of a table, as the device's schema answer names it (8-bit text).
class DBColumn {
  public:
    QByteArray mName;
};

// The columns of one table, in arrival order.
class DBColumns : public KeyedCollection<DBColumn> {
  public:
    DBColumn& Add(const QByteArray& mName, const QByteArray& sKey = {});
};

// One table of the schema.
class DBTable {
  public:
    QByteArray mName;
    DBColumns mColumns;
};

// Every table of the schema, in arrival order.
class DBTables : public KeyedCollection<DBTable> {
  public:
    DBTable& Add(const QByteArray& TableName, const QByteArray& sKey = {});
};

}  // namespace lintra
