#include "ferrow/opc/send_gate.h"

namespace ferrow::opc {

bool SendGate::enter(std::chrono::milliseconds limit) {
    std::unique_lock lock(lock_);
    if (depth_ > 0 && holder_ == std::this_thread::get_id()) {
        ++depth_;
        return true;
    }
    if (!free_.wait_for(lock, limit, [this] { return depth_ == 0; })) return false;
    holder_ = std::this_thread::get_id();
    depth_ = 1;
    return true;
}

void SendGate::leave() {
    {
        std::lock_guard lock(lock_);
        if (--depth_ > 0) return;
        holder_ = {};
    }
    free_.notify_one();
}

}  // namespace ferrow::opc
