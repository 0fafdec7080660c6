#include "tests/support/test_environment.h"

#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>
#include <atomic>

namespace testsupport {

namespace {
QTemporaryDir& root() {
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/quillon-test-XXXXXX"));
    return dir;
}

void emptyFolder(const QString& path) {
    QDir dir(path);
    dir.removeRecursively();
    QDir().mkpath(path);
}
}  // namespace

QString uniqueLoopbackAddress() {
    static std::atomic<int> counter{0};
    const int n = counter++;
    const unsigned pid = static_cast<unsigned>(::getpid());
    // 127.A.B.C: B.C from the process id, A from the counter (1..254); never .0 or .255 at the end.
    const int a = 1 + (n + static_cast<int>(pid >> 16)) % 254;
    const int b = static_cast<int>((pid >> 8) & 0xFF);
    const int c = 1 + static_cast<int>(pid & 0xFF) % 254;
    return QStringLiteral("127.%1.%2.%3").arg(a).arg(b).arg(c);
}

QString programDir() { return root().path() + QStringLiteral("/program"); }

QString settingsDir() { return root().path() + QStringLiteral("/config"); }

QString freshFolder(const QString& name) {
    static std::atomic<int> counter{0};
    const QString path = root().path() + QStringLiteral("/%1-%2").arg(name).arg(counter++);
    emptyFolder(path);
    return path;
}

void resetFolders() {
    emptyFolder(programDir());
    emptyFolder(settingsDir());
}

}  // namespace testsupport
