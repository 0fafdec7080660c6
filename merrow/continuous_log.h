#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

namespace merrow {

// The continuous-save file: opened anew (truncated) when chosen, then every received byte is appended
// as it arrives and handed to the system at once, so a crash of the program loses nothing received.
class ContinuousLog {
  public:
    bool open(const QString& path, QString* error);
    void close();
    bool isOpen() const { return file_.isOpen(); }
    QString path() const { return file_.fileName(); }
    // False (with `error`) when the bytes could not all be written; the file is closed then.
    bool write(const QByteArray& bytes, QString* error);

  private:
    QFile file_;
};

}  // namespace merrow
