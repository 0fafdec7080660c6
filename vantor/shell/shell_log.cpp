#include "vantor/shell/shell_log.h"

namespace vantor {

ShellLog::~ShellLog() { close(); }

bool ShellLog::open(const QString& path, QString* error) {
    close();
    file_.setFileName(path);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Append)) {
        if (error) *error = file_.errorString();
        return false;
    }
    return true;
}

bool ShellLog::writeRecord(const QByteArray& record) {
    if (!file_.isOpen()) return false;
    return file_.write(record) == record.size() && file_.write("\r\n", 2) == 2;
}

bool ShellLog::flush() { return !file_.isOpen() || file_.flush(); }

void ShellLog::close() {
    if (file_.isOpen()) {
        file_.flush();
        file_.close();
    }
}

}  // namespace vantor
