#include "lintra/db_schema.h"

namespace lintra {

DBColumn& DBColumns::Add(const QByteArray& mName, const QByteArray& sKey) {
    auto column = std::make_unique<DBColumn>();
    column->mName = mName;
    return store(std::move(column), sKey);
}

DBTable& DBTables::Add(const QByteArray& TableName, const QByteArray& sKey) {
    auto table = std::make_unique<DBTable>();
    table->mName = TableName;
    return store(std::move(table), sKey);
}

}  // namespace lintra
