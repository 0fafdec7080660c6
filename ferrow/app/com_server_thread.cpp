#include "ferrow/app/com_server_thread.h"

#include "platform/ui/time_scale.h"

namespace ferrow {

using platform::com::HRESULT;

ComServerThread::ComServerThread(ComServerHooks hooks) : hooks_(std::move(hooks)) {}

ComServerThread::~ComServerThread() { Stop(); }

void ComServerThread::Start() {
    if (thread_.joinable()) return;
    shared_ = std::make_shared<Shared>();
    finished_ = shared_->finished.get_future();
    thread_ = std::thread(&ComServerThread::Run, shared_, hooks_);
}

bool ComServerThread::Stop() {
    if (!thread_.joinable()) return true;
    {
        std::lock_guard lock(shared_->lock);
        shared_->quit = true;
    }
    shared_->quitAsked.notify_all();
    const bool finished = finished_.wait_for(platform::scaled(kSequenceLimit)) == std::future_status::ready;
    // The thread owns its share of the state and copies of the hooks, so it may outlive this object.
    if (finished)
        thread_.join();
    else
        thread_.detach();
    shared_.reset();
    // A disconnection that was let go still reaches the servers' tags: not done either.
    return finished && finished_.get();
}

void ComServerThread::Run(std::shared_ptr<Shared> shared, ComServerHooks hooks) {
    std::uint32_t cookie = 0;
    const HRESULT registered =
        hooks.registerClassObject ? hooks.registerClassObject(&cookie) : platform::com::E_FAIL;
    {
        std::unique_lock lock(shared->lock);
        shared->quitAsked.wait(lock, [&] { return shared->quit; });
    }
    if (hooks.notifyServersShutdown) hooks.notifyServersShutdown(kShutdownReason);
    std::this_thread::sleep_for(platform::scaled(kShutdownPause));
    const bool allCutOff =
        !hooks.disconnectAndDeleteServers || hooks.disconnectAndDeleteServers(kPauseBetweenServers);
    if (platform::com::SUCCEEDED(registered) && hooks.revokeClassObject) hooks.revokeClassObject(cookie);
    shared->finished.set_value(allCutOff);
}

}  // namespace ferrow
