#include "platform/ui/wait.h"

#include <QAbstractEventDispatcher>
#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>

namespace platform::ui {

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    if (done()) return true;
    QDeadlineTimer deadline(limit, Qt::PreciseTimer);
    QAbstractEventDispatcher* dispatcher = QThread::currentThread()->eventDispatcher();
    if (!dispatcher) return done();
    // The timer only wakes the dispatcher at the deadline; its own event is harmless.
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(limit);
    while (!deadline.hasExpired()) {
        dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        if (done()) return true;
    }
    return done();
}

void waitFor(std::chrono::milliseconds duration) {
    waitUntil([] { return false; }, duration);
}

}  // namespace platform::ui
