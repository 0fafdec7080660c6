#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

namespace vantor {

// The log file qnLog.txt: opened for appending when the main window starts, one record per line ended
// by CR LF, bytes written as received. Records are buffered and flushed after each chunk. UI thread.
class ShellLog {
  public:
    static constexpr const char* kFileName = "qnLog.txt";

    ~ShellLog();

    // False (with a reason in `error`) when the file can't be opened for appending.
    bool open(const QString& path, QString* error);
    bool isOpen() const { return file_.isOpen(); }
    // False when the bytes could not be written (disk full, file gone read-only).
    bool writeRecord(const QByteArray& record);
    bool flush();
    void close();

    QString path() const { return file_.fileName(); }
    QString errorString() const { return file_.errorString(); }

  private:
    QFile file_;
};

}  // namespace vantor
