// An OPC client in a process of its own for the bus tests: reaches Ferrow through CoCreateInstance,
// subscribes to one item and prints what arrives, one line each, until its standard input closes.
//
//   opc_bus_client watch <item> <rate>    a 2.0 group with an IOPCDataCallback sink: "change <value>"
//   opc_bus_client sleepy <item> <rate>   the same, but the sink never returns from OnDataChange
//   opc_bus_client stream <item> <rate>   a 1.0 IDataObject advise of OPCSTMFORMATDATA: "stream <hex>"
// It prints "ready <group path>" once subscribed, "error <what> <hr>" and exits 1 on a failure.

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

#include "ferrow/bus/opc_tables.h"
#include "ferrow/opc/opc_interfaces.h"
#include "platform/com/class_table.h"
#include "platform/com/com_object.h"
#include "platform/com/com_ptr.h"
#include "platform/com/task_memory.h"

using namespace platform::com;
using namespace ferrow::opc;

namespace {
std::mutex outputLock;
void say(const std::string& line) {
    std::lock_guard guard(outputLock);
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

std::string text(const VARIANT& value) {
    VARIANT copy;
    VariantInit(&copy);
    if (FAILED(VariantChangeType(&copy, &value, 0, VT_BSTR))) return "?";
    std::string out = ansiFromBstr(copy.bstrVal);
    VariantClear(&copy);
    return out;
}

class PrintingCallback final : public ComObject<IOPCDataCallback> {
  public:
    explicit PrintingCallback(bool sleepy) : sleepy_(sleepy) {}
    HRESULT OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD count, OPCHANDLE*, VARIANT* values, WORD*,
                         FILETIME*, HRESULT*) override {
        if (sleepy_) {
            say("asleep");
            for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
        }
        for (DWORD i = 0; i < count; ++i) say("change " + text(values[i]));
        return S_OK;
    }
    HRESULT OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*, FILETIME*,
                           HRESULT*) override {
        return S_OK;
    }
    HRESULT OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*, HRESULT*) override { return S_OK; }
    HRESULT OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }

  private:
    bool sleepy_;
};

class PrintingAdviseSink final : public ComObject<IAdviseSink> {
  public:
    void OnDataChange(FORMATETC*, STGMEDIUM* medium) override {
        const auto* data = static_cast<const unsigned char*>(GlobalLock(medium->hGlobal));
        std::string hex;
        char digits[3];
        for (SIZE_T i = 0; i < GlobalSize(medium->hGlobal); ++i) {
            std::snprintf(digits, sizeof digits, "%02x", data[i]);
            hex += digits;
        }
        GlobalUnlock(medium->hGlobal);
        say("stream " + hex);
    }
    void OnViewChange(DWORD, LONG) override {}
    void OnRename(IUnknown*) override {}
    void OnSave() override {}
    void OnClose() override {}
};

int fail(const char* what, HRESULT result) {
    say(std::string("error ") + what + " " + std::to_string(static_cast<unsigned>(result)));
    return 1;
}
}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 4) return 2;
    const std::string mode = argv[1];
    const std::u16string item = QString::fromLocal8Bit(argv[2]).toStdU16String();
    const DWORD rate = static_cast<DWORD>(std::stoul(argv[3]));
    ferrow::bus::enableFerrowActivation();

    int status = 0;
    {
        ComPtr<IOPCServer> server;
        if (const HRESULT r = CoCreateInstance(CLSID_FerrowServer, nullptr, CLSCTX_LOCAL_SERVER,
                                               IID_IOPCServer, server.putVoid());
            FAILED(r))
            return fail("CoCreateInstance", r);
        ComPtr<IOPCItemMgt> items;
        OPCHANDLE groupHandle = 0;
        DWORD revised = 0;
        if (const HRESULT r =
                server->AddGroup(u"Watch", 1, rate, 77, nullptr, nullptr, 0, &groupHandle, &revised,
                                 IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(items.put()));
            FAILED(r))
            return fail("AddGroup", r);
        // The configuration's tags arrive from the device a moment after Ferrow starts.
        HRESULT added = E_FAIL;
        for (int attempt = 0; attempt < 200; ++attempt) {
            OPCITEMDEF def{};
            def.szItemID = const_cast<char16_t*>(item.c_str());
            def.bActive = 1;
            def.hClient = 5;
            OPCITEMRESULT* results = nullptr;
            HRESULT* errors = nullptr;
            added = items->AddItems(1, &def, &results, &errors);
            if (results) CoTaskMemFree(results);
            if (errors) CoTaskMemFree(errors);
            if (added == S_OK) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (added != S_OK) return fail("AddItems", added);

        ComPtr<IOPCDataCallback> callback;
        ComPtr<IAdviseSink> adviseSink;
        ComPtr<IConnectionPoint> point;
        DWORD cookie = 0;
        ComPtr<IDataObject> data;
        if (mode == "stream") {
            adviseSink = ComPtr<IAdviseSink>(new PrintingAdviseSink);
            if (const HRESULT r = items->QueryInterface(IID_IDataObject, data.putVoid()); FAILED(r))
                return fail("QueryInterface", r);
            FORMATETC format{static_cast<CLIPFORMAT>(RegisterClipboardFormatA(kStreamFormatData)), nullptr,
                             DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
            if (const HRESULT r = data->DAdvise(&format, 0, adviseSink.get(), &cookie); FAILED(r))
                return fail("DAdvise", r);
        } else {
            callback = ComPtr<IOPCDataCallback>(new PrintingCallback(mode == "sleepy"));
            ComPtr<IConnectionPointContainer> container;
            if (const HRESULT r = items->QueryInterface(IID_IConnectionPointContainer, container.putVoid());
                FAILED(r))
                return fail("QueryInterface", r);
            if (const HRESULT r = container->FindConnectionPoint(IID_IOPCDataCallback, point.put());
                FAILED(r))
                return fail("FindConnectionPoint", r);
            if (const HRESULT r = point->Advise(callback.get(), &cookie); FAILED(r)) return fail("Advise", r);
        }
        say("ready");

        std::string line;
        while (std::getline(std::cin, line)) {
        }
        if (data) data->DUnadvise(cookie);
        if (point && mode != "sleepy") point->Unadvise(cookie);
        server->RemoveGroup(groupHandle, 0);
    }
    // Nothing more to do: the releases above reach Ferrow before the process ends.
    say("done");
    return status;
}
