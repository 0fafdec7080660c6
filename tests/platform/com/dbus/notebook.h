#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com/com_object.h"
#include "platform/com/connection_point.h"
#include "platform/com/data_transfer.h"
#include "platform/com/task_memory.h"

namespace bustest {

using namespace platform::com;

// A small server object for the transport's tests: a list of lines (IEnumString) and an IAdviseSink
// point that tells its sinks about new data. Skip and Clone wait while the test holds it closed, to keep a
// worker busy. Counted in `live`.
class Notebook final : public ComObject<IEnumString, IConnectionPointContainer> {
  public:
    static std::atomic<long> live;

    explicit Notebook(std::vector<std::u16string> lines, std::size_t position = 0)
        : ComObject(&live),
          point_(this, this, IID_IAdviseSink, &live),
          lines_(std::move(lines)),
          position_(position) {}

    HRESULT Next(ULONG celt, LPOLESTR* rgelt, ULONG* fetched) override {
        std::lock_guard guard(lock_);
        ULONG n = 0;
        for (; n < celt && position_ < lines_.size(); ++n) rgelt[n] = taskString(lines_[position_++]);
        if (fetched) *fetched = n;
        return n == celt ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG celt) override {
        std::unique_lock guard(lock_);
        waitWhileClosed(guard);
        position_ = std::min(lines_.size(), position_ + celt);
        return S_OK;
    }
    HRESULT Reset() override {
        std::lock_guard guard(lock_);
        position_ = 0;
        return S_OK;
    }
    HRESULT Clone(IEnumString** out) override {
        std::unique_lock guard(lock_);
        waitWhileClosed(guard);
        auto* copy = new Notebook(lines_, position_);
        copy->AddRef();
        *out = copy;
        return S_OK;
    }
    HRESULT EnumConnectionPoints(IEnumConnectionPoints** out) override {
        return enumConnectionPoints({ComPtr<IConnectionPoint>(&point_)}, &live, out);
    }
    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** out) override {
        *out = nullptr;
        if (riid != IID_IAdviseSink) return CONNECT_E_NOCONNECTION;
        point_.AddRef();
        *out = &point_;
        return S_OK;
    }

    // Sends `bytes` in format `format` to every advised sink.
    void notify(CLIPFORMAT format, const std::string& bytes) {
        for (const auto& sink : point_.sinks<IAdviseSink>()) {
            FORMATETC etc{format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
            STGMEDIUM medium{TYMED_HGLOBAL, GlobalAlloc(GMEM_MOVEABLE, bytes.size()), nullptr};
            std::copy(bytes.begin(), bytes.end(), static_cast<char*>(GlobalLock(medium.hGlobal)));
            GlobalUnlock(medium.hGlobal);
            sink->OnDataChange(&etc, &medium);
            ReleaseStgMedium(&medium);
        }
    }
    std::size_t sinkCount() const { return point_.sinkCount(); }

    // While closed, Skip and Clone wait.
    void close() {
        std::lock_guard guard(lock_);
        closed_ = true;
    }
    void open() {
        std::lock_guard guard(lock_);
        closed_ = false;
        opened_.notify_all();
    }
    bool waitForSkip() { return waitForSkips(1); }
    // Returns once `count` Skips are waiting (false after 5 s).
    bool waitForSkips(int count) {
        std::unique_lock guard(lock_);
        return opened_.wait_for(guard, std::chrono::seconds(5), [&] { return waiting_ >= count; });
    }
    int skipsWaiting() {
        std::lock_guard guard(lock_);
        return waiting_;
    }

  protected:
    void teardown() override { point_.clear(); }

  private:
    void waitWhileClosed(std::unique_lock<std::mutex>& guard) {
        ++waiting_;
        opened_.notify_all();
        opened_.wait(guard, [this] { return !closed_; });
        --waiting_;
    }

    ConnectionPoint point_;
    std::mutex lock_;
    std::condition_variable opened_;
    std::vector<std::u16string> lines_;
    std::size_t position_;
    bool closed_ = false;
    int waiting_ = 0;
};

class NotebookFactory final : public ComObject<IClassFactory> {
  public:
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        auto* notebook = new Notebook({u"alpha", u"beta", u"gamma"});
        ComPtr<IEnumString> hold(notebook);
        last = notebook;
        return notebook->QueryInterface(riid, ppv);
    }
    HRESULT LockServer(BOOL lock) override {
        locks += lock ? 1 : -1;
        return S_OK;
    }
    std::atomic<int> locks{0};
    std::atomic<Notebook*> last{nullptr};
};

// A client's advise sink: remembers what arrives.
class RecordingSink final : public ComObject<IAdviseSink> {
  public:
    void OnDataChange(FORMATETC* format, STGMEDIUM* medium) override {
        char name[256] = {};
        GetClipboardFormatNameA(format->cfFormat, name, sizeof name);
        std::string bytes(static_cast<const char*>(GlobalLock(medium->hGlobal)), GlobalSize(medium->hGlobal));
        GlobalUnlock(medium->hGlobal);
        std::lock_guard guard(lock_);
        formats.push_back(name);
        data.push_back(bytes);
        arrived_.notify_all();
    }
    void OnViewChange(DWORD, LONG) override {}
    void OnRename(IUnknown*) override {}
    void OnSave() override {}
    void OnClose() override {}

    bool waitFor(std::size_t count) {
        std::unique_lock guard(lock_);
        return arrived_.wait_for(guard, std::chrono::seconds(5), [&] { return data.size() >= count; });
    }
    std::mutex lock_;
    std::condition_variable arrived_;
    std::vector<std::string> formats;
    std::vector<std::string> data;
};

}  // namespace bustest
