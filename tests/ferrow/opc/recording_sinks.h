#pragma once

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "ferrow/opc/opc_interfaces.h"
#include "platform/com/data_transfer.h"
#include "platform/com/variant.h"

namespace opctest {

using namespace platform::com;
using namespace ferrow::opc;
using namespace std::chrono_literals;

// What a sink has received, with a wait for the n-th arrival.
template <class Record>
class Recorder {
  public:
    void add(Record record) {
        {
            std::lock_guard lock(lock_);
            records_.push_back(std::move(record));
        }
        arrived_.notify_all();
    }
    // True once at least `n` records have arrived (within the limit).
    bool waitFor(std::size_t n, std::chrono::milliseconds limit = 30s) {
        std::unique_lock lock(lock_);
        return arrived_.wait_for(lock, limit, [&] { return records_.size() >= n; });
    }
    std::vector<Record> all() {
        std::lock_guard lock(lock_);
        return records_;
    }
    std::size_t size() {
        std::lock_guard lock(lock_);
        return records_.size();
    }
    Record at(std::size_t i) {
        std::lock_guard lock(lock_);
        return records_.at(i);
    }

  private:
    std::mutex lock_;
    std::condition_variable arrived_;
    std::vector<Record> records_;
};

// One item of a callback, its value as the text of a double (or the VARTYPE and text for others).
struct CallbackItem {
    OPCHANDLE client;
    VARTYPE vt;
    double number;  // the value as a double where it converts
    std::u16string text;
    WORD quality;
    FILETIME timestamp;
    HRESULT error;
};

// One call of IOPCDataCallback.
struct Callback {
    enum Kind { DataChange, ReadComplete, WriteComplete } kind;
    DWORD transaction;
    OPCHANDLE group;
    HRESULT masterQuality;
    HRESULT masterError;
    std::vector<CallbackItem> items;
};

// A client's IOPCDataCallback sink, reference-counted by the test; answers `answer` to every call.
class DataCallbackSink : public IOPCDataCallback {
  public:
    explicit DataCallbackSink(HRESULT answer = S_OK) : answer_(answer) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IOPCDataCallback) return E_NOINTERFACE;
        *ppv = static_cast<IOPCDataCallback*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }

    HRESULT OnDataChange(DWORD transaction, OPCHANDLE group, HRESULT quality, HRESULT error, DWORD count,
                         OPCHANDLE* clients, VARIANT* values, WORD* qualities, FILETIME* times,
                         HRESULT* errors) override {
        record(Callback::DataChange, transaction, group, quality, error, count, clients, values, qualities,
               times, errors);
        return answer_;
    }
    HRESULT OnReadComplete(DWORD transaction, OPCHANDLE group, HRESULT quality, HRESULT error, DWORD count,
                           OPCHANDLE* clients, VARIANT* values, WORD* qualities, FILETIME* times,
                           HRESULT* errors) override {
        record(Callback::ReadComplete, transaction, group, quality, error, count, clients, values, qualities,
               times, errors);
        return answer_;
    }
    HRESULT OnWriteComplete(DWORD transaction, OPCHANDLE group, HRESULT error, DWORD count,
                            OPCHANDLE* clients, HRESULT* errors) override {
        Callback c{Callback::WriteComplete, transaction, group, S_OK, error, {}};
        for (DWORD i = 0; i < count; ++i)
            c.items.push_back(CallbackItem{clients[i], 0, 0, {}, 0, {}, errors[i]});
        calls.add(std::move(c));
        return answer_;
    }
    HRESULT OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }

    // The data changes only, in order.
    std::vector<Callback> dataChanges() {
        std::vector<Callback> out;
        for (auto& c : calls.all())
            if (c.kind == Callback::DataChange) out.push_back(c);
        return out;
    }

    std::atomic<ULONG> refs{1};
    Recorder<Callback> calls;

  private:
    void record(Callback::Kind kind, DWORD transaction, OPCHANDLE group, HRESULT quality, HRESULT error,
                DWORD count, OPCHANDLE* clients, VARIANT* values, WORD* qualities, FILETIME* times,
                HRESULT* errors) {
        Callback c{kind, transaction, group, quality, error, {}};
        for (DWORD i = 0; i < count; ++i) {
            CallbackItem item{clients[i], values[i].vt, 0, {}, qualities[i], times[i], errors[i]};
            VARIANT number;
            VariantInit(&number);
            if (SUCCEEDED(VariantChangeType(&number, &values[i], 0, VT_R8))) item.number = number.dblVal;
            if (values[i].vt == VT_BSTR && values[i].bstrVal) item.text = values[i].bstrVal;
            VariantClear(&number);
            c.items.push_back(item);
        }
        calls.add(std::move(c));
    }
    HRESULT answer_;
};

// One stream an advise sink received: its format and the bytes of the block.
struct Stream {
    CLIPFORMAT format;
    DWORD aspect;
    LONG index;
    DWORD tymed;
    std::vector<unsigned char> bytes;

    DWORD dword(std::size_t offset) const {
        DWORD v = 0;
        std::memcpy(&v, bytes.data() + offset, 4);
        return v;
    }
    WORD word(std::size_t offset) const {
        WORD v = 0;
        std::memcpy(&v, bytes.data() + offset, 2);
        return v;
    }
};

// A client's version 1.0 IAdviseSink: copies every stream it is given.
class AdviseSink : public IAdviseSink {
  public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IAdviseSink) return E_NOINTERFACE;
        *ppv = static_cast<IAdviseSink*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    void OnDataChange(FORMATETC* format, STGMEDIUM* medium) override {
        Stream s{format->cfFormat, format->dwAspect, format->lindex, format->tymed, {}};
        const auto* data = static_cast<const unsigned char*>(GlobalLock(medium->hGlobal));
        DWORD size = 0;
        std::memcpy(&size, data, 4);
        // The WRITECOMPLETE stream has no size field: its size follows from its item count.
        if (format->cfFormat == RegisterClipboardFormatA(kStreamFormatWriteComplete)) size = 16 + 8 * size;
        s.bytes.assign(data, data + size);
        GlobalUnlock(medium->hGlobal);
        streams.add(std::move(s));
    }
    void OnViewChange(DWORD, LONG) override {}
    void OnRename(IUnknown*) override {}
    void OnSave() override {}
    void OnClose() override {}

    std::atomic<ULONG> refs{1};
    Recorder<Stream> streams;
};

}  // namespace opctest
