#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "ferrow/opc/opc_interfaces.h"
#include "platform/com/com_object.h"

namespace ferrow::opc {

// What a server shares with its groups: the server lock and the last update time it guards. A group
// keeps it by shared ownership, so a removed group that its client still holds never reaches a server
// that is gone.
struct ServerCore {
    // Lock order of the OPC objects (a thread that needs several takes them in this order):
    //   document lock (item-ID resolution: taken while holding no server or group lock)
    //   -> server lock -> group lock -> value lock.
    // The object lock of a connection point and a server's client lock are leaves: nothing is taken
    // while one is held, and no lock at all is held while a client's sink is called.
    std::recursive_mutex serverLock;
    FILETIME lastUpdateTime;  // guarded by serverLock
};

// A group of a server's client: its identity (the server handle), name and state. Created by the server's
// AddGroup; its items, callbacks and update thread are added on top of this state.
class OpcGroup : public platform::com::ComObject<IUnknown> {
  public:
    static constexpr DWORD kMinUpdateRate = 10;

    // Null when memory runs out; the reference count is 0.
    static OpcGroup* Create(std::shared_ptr<ServerCore> server);

    // Stores the creation parameters; the time bias and deadband only where their pointers are given.
    virtual void Initialize(std::string name, BOOL active, DWORD requestedRate, OPCHANDLE clientHandle,
                            const LONG* timeBias, const float* percentDeadband, DWORD lcid);
    // Stores the rate, the minimum when it is below.
    virtual void ReviseUpdateRate(DWORD rate);

    // Written under the server lock by the server (name, handle) or at creation.
    const std::string& name() const { return name_; }
    void setServerHandle(OPCHANDLE handle) { serverHandle_ = handle; }
    OPCHANDLE serverHandle() const { return serverHandle_; }
    DWORD updateRate() const { return updateRate_; }
    BOOL active() const { return active_; }
    OPCHANDLE clientHandle() const { return clientHandle_; }
    LONG timeBias() const { return timeBias_; }
    float percentDeadband() const { return percentDeadband_; }
    DWORD lcid() const { return lcid_; }

    // Set by RemoveGroup; from then on the group's OPC methods answer E_FAIL.
    void MarkRemoved() { removed_ = true; }
    bool IsRemoved() const { return removed_.load(); }

  protected:
    explicit OpcGroup(std::shared_ptr<ServerCore> server);

    std::shared_ptr<ServerCore> server_;

  private:
    std::string name_;
    BOOL active_ = 0;
    DWORD updateRate_ = 1000;
    OPCHANDLE clientHandle_ = 0;
    LONG timeBias_ = 0;
    float percentDeadband_ = 0.0f;
    DWORD lcid_ = 0;
    OPCHANDLE serverHandle_ = 0;
    std::atomic<bool> removed_{false};
};

}  // namespace ferrow::opc
