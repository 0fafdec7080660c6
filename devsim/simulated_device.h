#pragma once

#include <QHostAddress>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "devsim/device_files.h"
#include "devsim/device_log.h"

class QThread;
class QObject;

namespace devsim {

class ShellService;
class DatapointService;
class ImageLoader;
class SqlService;
class DebugService;

struct DeviceOptions {
    QString address = QStringLiteral("127.0.0.1");
    QString root;  // the device's file system; seeded when it lacks the usual folders
    std::chrono::milliseconds rebootDelay{1500};
    std::string name = "Quillon 2000";
    QString datapointTable;  // "name/type/access[/hex]" lines; empty: the demo table
};

// One simulated Quillon 2000 board: listens on its loopback address on the device's fixed ports and runs
// every service on a thread of its own, so a test whose main thread blocks still gets answers.
// Construct, start(), use; the destructor stops the thread. Services and their faults are reached
// through the accessors; anything else that touches a service runs on the device thread via run().
class SimulatedDevice {
  public:
    explicit SimulatedDevice(DeviceOptions options);
    ~SimulatedDevice();
    SimulatedDevice(const SimulatedDevice&) = delete;
    SimulatedDevice& operator=(const SimulatedDevice&) = delete;

    // Seeds the root, starts the device thread and binds every port. False (with `error`) when a port
    // is taken or the root can't be made.
    bool start(QString* error = nullptr);
    void stop();

    const DeviceOptions& options() const { return options_; }
    QHostAddress address() const { return QHostAddress(options_.address); }
    DeviceFiles& files() { return files_; }
    DeviceLog& log() { return log_; }
    ShellService& shell() { return *shell_; }
    DatapointService& datapoints() { return *datapoints_; }
    ImageLoader& imageLoader() { return *imageLoader_; }
    SqlService& sql() { return *sql_; }
    DebugService& debug() { return *debug_; }

    // Runs `task` on the device thread and waits for it.
    void run(const std::function<void()>& task);

    // Device thread: closes every connection, stays deaf for the reboot delay, then listens again.
    // Hooks registered with onReboot run first (they drop what a reboot loses).
    void reboot(const std::string& kind);
    void onReboot(std::function<void()> hook);
    int bootCount() const;

  private:
    bool startServices(QString* error);  // device thread
    void stopServices();                 // device thread
    bool listenAll(QString* error);      // device thread

    DeviceOptions options_;
    DeviceFiles files_;
    DeviceLog log_;
    std::unique_ptr<QThread> thread_;
    QObject* context_ = nullptr;  // lives on the device thread; owner of the service objects
    ShellService* shell_ = nullptr;
    DatapointService* datapoints_ = nullptr;
    ImageLoader* imageLoader_ = nullptr;
    SqlService* sql_ = nullptr;
    DebugService* debug_ = nullptr;
    std::vector<std::function<void()>> rebootHooks_;
    mutable std::mutex mutex_;
    int bootCount_ = 0;
};

}  // namespace devsim
