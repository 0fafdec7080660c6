#pragma once

#include <sys/types.h>

#include <QString>

namespace bustest {

// A message bus of the test's own (dbus-daemon, configured as testsupport::PrivateBus configures it),
// started with posix_spawn. QProcess starts its children with a clone that shares the parent's memory
// until exec, and ThreadSanitizer then loses track of the starting thread's locks for a while: every
// later hand-over through a mutex from that thread looks like a race. The tests of threaded bus code
// therefore start their bus here.
class TestBus {
  public:
    // serviceDir: a folder of activation files, or none.
    explicit TestBus(const QString& serviceDir = {});
    ~TestBus();
    TestBus(const TestBus&) = delete;
    TestBus& operator=(const TestBus&) = delete;

    bool started() const { return !address_.isEmpty(); }
    const QString& address() const { return address_; }

  private:
    void stop();

    pid_t pid_ = -1;
    int output_ = -1;
    QString address_;
};

}  // namespace bustest
