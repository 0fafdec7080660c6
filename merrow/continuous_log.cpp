#include "merrow/continuous_log.h"

namespace merrow {

bool ContinuousLog::open(const QString& path, QString* error) {
    close();
    file_.setFileName(path);
    if (file_.open(QIODevice::WriteOnly | QIODevice::Truncate)) return true;
    if (error) *error = file_.errorString();
    return false;
}

void ContinuousLog::close() {
    if (file_.isOpen()) file_.close();
}

bool ContinuousLog::write(const QByteArray& bytes, QString* error) {
    if (!file_.isOpen()) return false;
    if (file_.write(bytes) == bytes.size() && file_.flush()) return true;
    if (error) *error = file_.errorString();
    file_.close();
    return false;
}

}  // namespace merrow
