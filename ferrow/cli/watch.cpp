// watch: a group with a data-change sink of this program, printed as the server calls it.
#include <poll.h>

#include <chrono>
#include <deque>
#include <mutex>
#include <optional>

#include "ferrow/cli/commands.h"
#include "ferrow/cli/data_change_sink.h"
#include "ferrow/cli/item_output.h"
#include "ferrow/cli/json_writer.h"
#include "ferrow/cli/stop_signal.h"
#include "ferrow/cli/unicode_text.h"
#include "platform/com/com_object.h"
#include "platform/com/task_memory.h"

namespace ferrow::cli {

using namespace platform::com;
using namespace ferrow::opc;

namespace {

// Hears the server announce its exit, so that a watch does not wait for changes that never come.
class ShutdownSink final : public ComObject<IOPCShutdown> {
  public:
    ShutdownSink() = default;
    HRESULT ShutdownRequest(LPCWSTR szReason) override {
        {
            std::lock_guard lock(lock_);
            reason_ = utf8FromWide(wideView(szReason));
        }
        wake_.raise();
        return S_OK;
    }
    std::optional<std::string> reason() {
        std::lock_guard lock(lock_);
        return reason_;
    }
    int wakeFd() const { return wake_.readFd(); }
    bool valid() const { return wake_.valid(); }

  private:
    WakePipe wake_;
    std::mutex lock_;
    std::optional<std::string> reason_;
};

// An advised connection, unadvised when it goes.
class Advice {
  public:
    Advice() = default;
    Advice(const Advice&) = delete;
    Advice& operator=(const Advice&) = delete;
    ~Advice() { end(); }

    HRESULT begin(IUnknown* container, REFIID sinkIid, IUnknown* sink) {
        ComPtr<IConnectionPointContainer> points;
        if (const HRESULT r = container->QueryInterface(IID_IConnectionPointContainer, points.putVoid());
            FAILED(r))
            return r;
        if (const HRESULT r = points->FindConnectionPoint(sinkIid, point_.put()); FAILED(r)) return r;
        if (!point_) return E_POINTER;
        const HRESULT result = point_->Advise(sink, &cookie_);
        if (FAILED(result)) point_.reset();
        return result;
    }
    // The server may already be gone; its answer changes nothing here.
    void end() {
        if (point_) point_->Unadvise(cookie_);
        point_.reset();
    }

  private:
    ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};

// Reads each item once from its device, so that the first lines show the device's values rather than
// whatever the server's cache last held. Best effort: a failure shows up as the items' quality.
void refreshFromDevices(IOPCServer* server, const std::vector<std::string>& itemIds) {
    ScopedGroup group(server);
    std::vector<ItemSlot> slots;
    ComPtr<IOPCSyncIO> io;
    if (FAILED(group.add(false, 1000, 0.0f)) || FAILED(group.addItems(itemIds, false, &slots)) ||
        FAILED(group.query(&io)))
        return;
    std::vector<OPCHANDLE> handles;
    for (const ItemSlot& slot : slots)
        if (SUCCEEDED(slot.error)) handles.push_back(slot.serverHandle);
    if (handles.empty()) return;
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    if (SUCCEEDED(
            io->Read(OPC_DS_DEVICE, static_cast<DWORD>(handles.size()), handles.data(), &states, &errors)) &&
        states)
        for (std::size_t i = 0; i < handles.size(); ++i) VariantClear(&states[i].vDataValue);
    CoTaskMemFree(states);
    CoTaskMemFree(errors);
}

}  // namespace

int runWatch(Session& session, const Arguments& args, const StopSignal& stop) {
    IOPCServer* server = session.server();
    refreshFromDevices(server, args.operands);

    // The sink is advised before the items exist, so that their first values, reported by the first
    // update pass after AddItems, cannot pass by unseen.
    ScopedGroup group(server);
    DWORD revisedRate = 0;
    const HRESULT added = group.add(true, args.rateMs, args.deadbandPercent, &revisedRate);
    if (FAILED(added)) return session.fail("watch", added);
    if (added == OPC_S_UNSUPPORTEDRATE)
        session.console().err << "ferrow-opc: the server updates every " << revisedRate << " ms instead\n";

    ComPtr<DataChangeSink> sink(new DataChangeSink(args.operands, kMaxQueuedChanges));
    ComPtr<ShutdownSink> shutdown(new ShutdownSink);
    if (!sink->valid() || !shutdown->valid() || !stop.valid())
        return session.failWith("watch: cannot create the pipes it waits on");
    ComPtr<IUnknown> groupUnknown;
    if (const HRESULT r = group.query(&groupUnknown); FAILED(r)) return session.fail("watch", r);
    Advice dataAdvice;
    if (const HRESULT r = dataAdvice.begin(groupUnknown.get(), IID_IOPCDataCallback, sink->identity());
        FAILED(r))
        return session.fail("watch: data change callbacks", r);
    // Without the shutdown notice the watch still works; it only learns late that the server left.
    Advice shutdownAdvice;
    shutdownAdvice.begin(server, IID_IOPCShutdown, shutdown->identity());

    std::vector<ItemSlot> slots;
    if (const HRESULT r = group.addItems(args.operands, true, &slots); FAILED(r))
        return session.fail("watch", r);
    int status = kExitOk;
    bool anyKnown = false;
    for (const ItemSlot& slot : slots) {
        if (FAILED(slot.error))
            status = session.fail(slot.itemId, slot.error);
        else
            anyKnown = true;
    }
    if (!anyKnown) return status;

    using Clock = std::chrono::steady_clock;
    const bool timed = args.durationMs.has_value();
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(args.durationMs.value_or(0));
    std::uint64_t printed = 0;
    std::ostream& out = session.console().out;
    for (;;) {
        std::uint64_t dropped = 0;
        std::deque<ItemValue> changes = sink->take(&dropped);
        if (dropped > 0)
            session.console().err << "ferrow-opc: " << dropped
                                  << " changes were dropped: the output is too slow\n";
        for (const ItemValue& change : changes) {
            if (args.count && printed >= *args.count) break;
            if (session.console().json) {
                JsonWriter json(out);
                writeItemJson(session, json, change);
                out << '\n';
            } else if (SUCCEEDED(change.error)) {
                out << itemLine(change) << '\n';
            }
            if (FAILED(change.error)) status = session.fail(change.itemId, change.error);
            ++printed;
        }
        out.flush();
        // Output nobody reads any more (a closed pipe): the watch has no one to report to.
        if (!out) break;
        if (args.count && printed >= *args.count) break;
        if (stop.raised()) break;
        if (const auto reason = shutdown->reason()) {
            status = session.failWith("Ferrow is shutting down: " + printable(*reason), kExitUnavailable);
            break;
        }
        int timeoutMs = -1;
        if (timed) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) break;
            timeoutMs = static_cast<int>(std::min<long long>(left, 60'000));
        }
        pollfd waits[] = {
            {stop.fd(), POLLIN, 0}, {sink->wakeFd(), POLLIN, 0}, {shutdown->wakeFd(), POLLIN, 0}};
        poll(waits, 3, timeoutMs);  // EINTR (a signal) loops back to look at the flags
    }
    // Nothing more is delivered to the sink once it is unadvised; then the group goes.
    dataAdvice.end();
    shutdownAdvice.end();
    group.remove();
    return status;
}

}  // namespace ferrow::cli
