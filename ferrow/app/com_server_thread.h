#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/com/hresult.h"

namespace ferrow {

// What the COM server thread does with the OPC server objects; the OPC layer supplies the real ones,
// tests supply fakes.
struct ComServerHooks {
    std::function<platform::com::HRESULT(std::uint32_t* cookie)> registerClassObject;
    std::function<void(const std::u16string& reason)> notifyServersShutdown;
    // False when it returned with servers still being cut off (a client held it up).
    std::function<bool(std::chrono::milliseconds pauseBetween)> disconnectAndDeleteServers;
    std::function<platform::com::HRESULT(std::uint32_t cookie)> revokeClassObject;
};

// The thread that hosts the server's class object. It registers the class object, sleeps until it is
// told to quit, and then runs the shutdown sequence: tell every client "Exiting Server", give them a
// second, disconnect and delete each server object, revoke the class object. Start and Stop are called
// from the user-interface thread.
class ComServerThread {
  public:
    static constexpr std::chrono::milliseconds kShutdownPause{1000};
    static constexpr std::chrono::milliseconds kPauseBetweenServers{10};
    // How long Stop waits for the whole sequence: the clients' shutdown calls (side by side, 10 s at
    // most), the pause and the disconnection. The document deletes the devices right after, and the OPC
    // groups still use their tags until they are disconnected; a sequence that takes longer keeps the
    // document (see CFerrowApp::ExitInstance).
    static constexpr std::chrono::milliseconds kSequenceLimit{15000};
    static constexpr char16_t kShutdownReason[] = u"Exiting Server";

    explicit ComServerThread(ComServerHooks hooks);
    ~ComServerThread();
    ComServerThread(const ComServerThread&) = delete;
    ComServerThread& operator=(const ComServerThread&) = delete;

    void Start();
    // Tells the thread to quit and waits for its shutdown sequence, at most kSequenceLimit (scaled).
    // True when it finished with every server cut off; a thread that did not is left to end on its own. Does
    // nothing when no thread runs.
    bool Stop();
    bool IsRunning() const { return thread_.joinable(); }

  private:
    struct Shared {
        std::mutex lock;
        std::condition_variable quitAsked;
        bool quit = false;
        // Kept when the sequence has run, true when the servers were all cut off by then; Stop waits on
        // it with its time limit.
        std::promise<bool> finished;
    };
    static void Run(std::shared_ptr<Shared> shared, ComServerHooks hooks);

    ComServerHooks hooks_;
    std::shared_ptr<Shared> shared_;
    std::future<bool> finished_;
    std::thread thread_;
};

}  // namespace ferrow
