#pragma once

#include <QObject>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "ferrow/model/tag.h"

namespace ferrow {

class ODevice;

// Fetches one device's datapoint list on a worker thread, so that the window keeps painting and
// answering while a slow device replies to its "dpid" requests. The result comes back on the thread
// that owns the loader (the user-interface thread) through `loaded`; the caller adds the tags there.
// While a load runs the device's use count is raised, so the device cannot be deleted under the
// worker. One load at a time.
class TagLoader : public QObject {
    Q_OBJECT
  public:
    explicit TagLoader(QObject* parent = nullptr);
    ~TagLoader() override;

    // False when a load is running already.
    bool start(ODevice& device);
    bool busy() const { return device_ != nullptr; }
    ODevice* device() const { return device_; }
    // Cuts the running load short (a reply it waits for is given up) and waits for the worker; nothing
    // is delivered. For a device that is about to be deleted.
    void cancel();
    // The tags of the load just delivered, in enumeration order.
    std::vector<std::unique_ptr<OqnTag>> takeTags() { return std::move(delivered_); }

  signals:
    // `complete`: the device ended its list; otherwise the connection failed on the way. The receiver
    // takes the tags with takeTags() (connect it directly).
    void loaded(ODevice* device, bool complete);

  private:
    void deliver(unsigned generation);
    void finish();

    ODevice* device_ = nullptr;
    unsigned generation_ = 0;
    std::atomic<bool> cancel_{false};
    std::thread worker_;
    std::mutex resultLock_;
    std::vector<std::unique_ptr<OqnTag>> result_;  // guarded by resultLock_
    bool complete_ = false;                        // guarded by resultLock_
    std::vector<std::unique_ptr<OqnTag>> delivered_;
};

}  // namespace ferrow
