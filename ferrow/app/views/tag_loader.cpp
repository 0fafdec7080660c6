#include "ferrow/app/views/tag_loader.h"

#include "ferrow/devlink/device_link.h"
#include "ferrow/model/device.h"

namespace ferrow {

TagLoader::TagLoader(QObject* parent) : QObject(parent) {}

TagLoader::~TagLoader() { cancel(); }

bool TagLoader::start(ODevice& device) {
    if (busy()) return false;
    device_ = &device;
    ++device.m_nUseCount;
    cancel_ = false;
    const unsigned generation = ++generation_;
    try {
        worker_ = std::thread([this, &device, generation] {
            bool complete = false;
            auto tags = LinkOf(device).FetchTags(&complete, &cancel_);
            {
                std::lock_guard lock(resultLock_);
                result_ = std::move(tags);
                complete_ = complete;
            }
            QMetaObject::invokeMethod(
                this, [this, generation] { deliver(generation); }, Qt::QueuedConnection);
        });
    } catch (const std::system_error&) {
        // No thread this time: the next tick tries again.
        finish();
        return false;
    }
    return true;
}

void TagLoader::deliver(unsigned generation) {
    if (generation != generation_ || !device_) return;  // cancelled meanwhile
    ODevice* device = device_;
    bool complete;
    if (worker_.joinable()) worker_.join();  // it has posted this as its last act
    {
        std::lock_guard lock(resultLock_);
        delivered_ = std::move(result_);
        result_.clear();
        complete = complete_;
    }
    finish();
    emit loaded(device, complete);
    delivered_.clear();
}

void TagLoader::finish() {
    if (device_) --device_->m_nUseCount;
    device_ = nullptr;
}

void TagLoader::cancel() {
    if (!busy()) return;
    cancel_ = true;
    ++generation_;
    // A worker waiting for a reply of a silent device returns at once.
    LinkOf(*device_).m_pCommandPort->Abort();
    if (worker_.joinable()) worker_.join();
    std::lock_guard lock(resultLock_);
    result_.clear();
    finish();
}

}  // namespace ferrow
