#pragma once

#include <QByteArray>
#include <QSqlDatabase>
#include <QString>

namespace devsim {

// The device's database: a real SQLite file in the device's root folder, seeded with a small demo
// schema the first time. Turns requests into the text the SQL port answers. Lives on the device thread
// (a database connection belongs to the thread that opened it).
class SqlDatabase {
  public:
    static constexpr const char* kFileName = "quillon.db";
    // A SELECT answers at most this many rows, so one answer stays one readable piece.
    static constexpr int kMaxRows = 500;

    explicit SqlDatabase(const QString& root);
    ~SqlDatabase();
    SqlDatabase(const SqlDatabase&) = delete;
    SqlDatabase& operator=(const SqlDatabase&) = delete;

    bool open(QString* error);

    // "#TABLE<name>" and "#ITEM<column>" lines (CR LF), then an empty line.
    QByteArray schemaAnswer() const;
    // Runs one statement; the answer is readable text lines: a SELECT's columns and rows, the number
    // of rows another statement changed, or "error: " with the engine's message.
    QByteArray execute(const QByteArray& statement);

  private:
    bool seed(QString* error);

    QString path_;
    QString connectionName_;
    QSqlDatabase db_;
};

}  // namespace devsim
