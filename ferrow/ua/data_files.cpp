#include "ferrow/ua/data_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

namespace ferrow::ua {

namespace {

QString systemError() { return QString::fromLocal8Bit(std::strerror(errno)); }

bool writeAll(int fd, const QByteArray& contents) {
    qsizetype done = 0;
    while (done < contents.size()) {
        const ssize_t written = ::write(fd, contents.constData() + done, std::size_t(contents.size() - done));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        done += written;
    }
    return true;
}

}  // namespace

QString ferrowDataFolder() {
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty()) dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    return dataHome + QStringLiteral("/quillon/ferrow");
}

bool writeFileAtomically(const QString& path, const QByteArray& contents, mode_t mode, QString* error) {
    const auto fail = [&](const QString& why) {
        if (error) *error = QStringLiteral("%1: %2").arg(path, why);
        return false;
    };
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) return fail(QStringLiteral("the folder cannot be created"));
    QByteArray temporary = QFile::encodeName(folder + QStringLiteral("/.") + QFileInfo(path).fileName() +
                                             QStringLiteral(".XXXXXX"));
    // mkstemp makes the file 0600; it only ever gets wider by the fchmod below, on request.
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) return fail(systemError());
    const bool written = writeAll(fd, contents) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    const QString writeError = systemError();
    if (::close(fd) != 0 || !written) {
        ::unlink(temporary.constData());
        return fail(written ? systemError() : writeError);
    }
    if (::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0) {
        const QString renameError = systemError();
        ::unlink(temporary.constData());
        return fail(renameError);
    }
    return true;
}

bool readSmallFile(const QString& path, qint64 limit, QByteArray& contents, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error) *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    contents = file.read(limit + 1);
    if (contents.size() > limit) {
        if (error) *error = QStringLiteral("%1 is larger than %2 bytes").arg(path).arg(limit);
        contents.clear();
        return false;
    }
    return true;
}

}  // namespace ferrow::ua
