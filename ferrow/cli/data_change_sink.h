#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "ferrow/cli/item_output.h"
#include "ferrow/cli/stop_signal.h"
#include "ferrow/opc/opc_interfaces.h"
#include "platform/com/com_object.h"

namespace ferrow::cli {

// What a watch keeps for its printing thread; beyond this, changes are counted and dropped, so that a
// server faster than the terminal cannot grow the queue without end.
inline constexpr std::size_t kMaxQueuedChanges = 100'000;

// The watch's IOPCDataCallback. The server calls it on its own threads (holding its group lock): it only
// copies the changes of the items it knows (client handle n is itemIds[n - 1]) into a bounded queue and
// makes its wake pipe readable for the printing thread.
class DataChangeSink final : public platform::com::ComObject<ferrow::opc::IOPCDataCallback> {
    using DWORD = platform::com::DWORD;
    using WORD = platform::com::WORD;
    using VARIANT = platform::com::VARIANT;
    using FILETIME = platform::com::FILETIME;

  public:
    DataChangeSink(std::vector<std::string> itemIds, std::size_t maxQueued);

    HRESULT OnDataChange(DWORD dwTransid, ferrow::opc::OPCHANDLE hGroup, HRESULT hrMasterquality,
                         HRESULT hrMastererror, DWORD dwCount, ferrow::opc::OPCHANDLE* phClientItems,
                         VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                         HRESULT* pErrors) override;
    HRESULT OnReadComplete(DWORD, ferrow::opc::OPCHANDLE, HRESULT, HRESULT, DWORD, ferrow::opc::OPCHANDLE*,
                           VARIANT*, WORD*, FILETIME*, HRESULT*) override {
        return platform::com::S_OK;
    }
    HRESULT OnWriteComplete(DWORD, ferrow::opc::OPCHANDLE, HRESULT, DWORD, ferrow::opc::OPCHANDLE*,
                            HRESULT*) override {
        return platform::com::S_OK;
    }
    HRESULT OnCancelComplete(DWORD, ferrow::opc::OPCHANDLE) override { return platform::com::S_OK; }

    // Everything queued so far, oldest first, and how many changes did not fit since the last call.
    std::deque<ItemValue> take(std::uint64_t* dropped);
    int wakeFd() const { return wake_.readFd(); }
    bool valid() const { return wake_.valid(); }

  private:
    const std::vector<std::string> itemIds_;
    const std::size_t maxQueued_;
    WakePipe wake_;
    std::mutex lock_;
    std::deque<ItemValue> queue_;
    std::uint64_t dropped_ = 0;
};

}  // namespace ferrow::cli
