#include "devsim/sql_database.h"

#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <atomic>

namespace devsim {

namespace {
std::atomic<int> connectionCounter{0};

// The demo tables a fresh device carries: enough to try SELECTs, joins and updates on.
const char* const kSeed[] = {
    "CREATE TABLE Sensors (Id INTEGER PRIMARY KEY, Name TEXT NOT NULL, Unit TEXT, Station TEXT)",
    "INSERT INTO Sensors VALUES (1, 'Level', 'm', 'Tank 1')",
    "INSERT INTO Sensors VALUES (2, 'Flow', 'm3/h', 'Pump 2')",
    "INSERT INTO Sensors VALUES (3, 'Pressure', 'bar', 'Pump 2')",
    "INSERT INTO Sensors VALUES (4, 'Temperature', 'degC', 'Tank 1')",
    "CREATE TABLE Readings (Id INTEGER PRIMARY KEY, SensorId INTEGER REFERENCES Sensors(Id), "
    "Value REAL, Taken TEXT)",
    "INSERT INTO Readings VALUES (1, 1, 2.35, '2026-12-01 08:00:00')",
    "INSERT INTO Readings VALUES (2, 1, 2.41, '2026-12-01 09:00:00')",
    "INSERT INTO Readings VALUES (3, 2, 118.0, '2026-12-01 08:00:00')",
    "INSERT INTO Readings VALUES (4, 3, 4.2, '2026-12-01 08:00:00')",
    "INSERT INTO Readings VALUES (5, 4, 17.5, '2026-12-01 08:00:00')",
    "CREATE TABLE Alarms (Id INTEGER PRIMARY KEY, Text TEXT, Priority INTEGER, Active INTEGER)",
    "INSERT INTO Alarms VALUES (1, 'Tank 1 level high', 2, 0)",
    "INSERT INTO Alarms VALUES (2, 'Pump 2 pressure low', 1, 1)",
};

QByteArray latin1(const QString& text) { return text.toLatin1(); }
}  // namespace

SqlDatabase::SqlDatabase(const QString& root)
    : path_(root + QLatin1Char('/') + QLatin1String(kFileName)),
      connectionName_(QStringLiteral("devsim-sql-%1").arg(++connectionCounter)) {}

SqlDatabase::~SqlDatabase() {
    if (db_.isValid()) db_.close();
    db_ = QSqlDatabase();  // no handle may outlive the connection's removal
    QSqlDatabase::removeDatabase(connectionName_);
}

bool SqlDatabase::open(QString* error) {
    db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName_);
    db_.setDatabaseName(path_);
    if (!db_.open()) {
        if (error) *error = QStringLiteral("database %1: %2").arg(path_, db_.lastError().text());
        return false;
    }
    return db_.tables().isEmpty() ? seed(error) : true;
}

bool SqlDatabase::seed(QString* error) {
    db_.transaction();
    QSqlQuery query(db_);
    for (const char* statement : kSeed) {
        if (!query.exec(QString::fromLatin1(statement))) {
            if (error) *error = QStringLiteral("seeding %1: %2").arg(path_, query.lastError().text());
            db_.rollback();
            return false;
        }
    }
    return db_.commit();
}

QByteArray SqlDatabase::schemaAnswer() const {
    QByteArray answer;
    for (const QString& table : db_.tables(QSql::Tables)) {
        answer += "#TABLE" + latin1(table) + "\r\n";
        const QSqlRecord record = db_.record(table);
        for (int i = 0; i < record.count(); ++i) answer += "#ITEM" + latin1(record.fieldName(i)) + "\r\n";
    }
    return answer + "\r\n";
}

QByteArray SqlDatabase::execute(const QByteArray& statement) {
    QSqlQuery query(db_);
    query.setForwardOnly(true);
    if (!query.exec(QString::fromLatin1(statement))) {
        QString message = query.lastError().databaseText();
        if (message.isEmpty()) message = query.lastError().text();
        return "error: " + latin1(message) + "\r\n";
    }
    if (!query.isSelect()) {
        const int changed = query.numRowsAffected();
        return "OK, " + QByteArray::number(changed < 0 ? 0 : changed) + (changed == 1 ? " row" : " rows") +
               " affected\r\n";
    }
    const QSqlRecord record = query.record();
    QStringList names;
    for (int i = 0; i < record.count(); ++i) names << record.fieldName(i);
    QByteArray answer = latin1(names.join(QStringLiteral(" | "))) + "\r\n";
    int rows = 0;
    bool more = false;
    while (query.next()) {
        if (rows == kMaxRows) {
            more = true;
            break;
        }
        QStringList values;
        for (int i = 0; i < record.count(); ++i)
            values << (query.isNull(i) ? QStringLiteral("NULL") : query.value(i).toString());
        answer += latin1(values.join(QStringLiteral(" | "))) + "\r\n";
        ++rows;
    }
    if (more) return answer + "(first " + QByteArray::number(kMaxRows) + " rows shown)\r\n";
    return answer + "(" + QByteArray::number(rows) + (rows == 1 ? " row" : " rows") + ")\r\n";
}

}  // namespace devsim
