#include "ferrow/cli/data_change_sink.h"

#include <utility>

namespace ferrow::cli {

using namespace platform::com;
using namespace ferrow::opc;

DataChangeSink::DataChangeSink(std::vector<std::string> itemIds, std::size_t maxQueued)
    : itemIds_(std::move(itemIds)), maxQueued_(maxQueued) {}

HRESULT DataChangeSink::OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD dwCount,
                                     OPCHANDLE* phClientItems, VARIANT* pvValues, WORD* pwQualities,
                                     FILETIME* pftTimeStamps, HRESULT* pErrors) {
    if (dwCount == 0) return S_OK;
    if (!phClientItems || !pvValues || !pwQualities || !pftTimeStamps || !pErrors) return E_POINTER;
    {
        std::lock_guard lock(lock_);
        for (DWORD i = 0; i < dwCount; ++i) {
            const OPCHANDLE handle = phClientItems[i];
            if (handle == 0 || handle > itemIds_.size()) continue;  // not one of ours
            if (queue_.size() >= maxQueued_) {
                ++dropped_;
                continue;
            }
            ItemValue change;
            change.itemId = itemIds_[handle - 1];
            change.quality = pwQualities[i];
            change.timestamp = pftTimeStamps[i];
            change.error = pErrors[i];
            if (FAILED(VariantCopy(&change.value, &pvValues[i]))) change.error = E_OUTOFMEMORY;
            queue_.push_back(std::move(change));
        }
    }
    wake_.raise();
    return S_OK;
}

std::deque<ItemValue> DataChangeSink::take(std::uint64_t* dropped) {
    // Emptied first: a change queued after this still leaves the pipe readable.
    wake_.drain();
    std::lock_guard lock(lock_);
    *dropped = std::exchange(dropped_, 0);
    return std::exchange(queue_, {});
}

}  // namespace ferrow::cli
