#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "ferrow/opc/opc_interfaces.h"
#include "platform/com/com_ptr.h"

namespace ferrow::cli {

using ferrow::opc::IOPCServer;
using ferrow::opc::OPCHANDLE;
using platform::com::ComPtr;
using platform::com::DWORD;
using platform::com::HRESULT;
using platform::com::VARTYPE;

enum ExitStatus : int {
    kExitOk = 0,
    kExitServerError = 1,
    kExitUsage = 2,
    kExitUnavailable = 3,
};

// Where a command's results and messages go; the program passes stdout and stderr, tests strings.
struct Console {
    std::ostream& out;
    std::ostream& err;
    bool json = false;
};

inline constexpr HRESULT RPC_S_SERVER_UNAVAILABLE = platform::com::hr(0x800706BA);
inline constexpr HRESULT RPC_E_SERVER_DIED = platform::com::hr(0x80010007);
inline constexpr HRESULT RPC_E_SERVER_DIED_DNE = platform::com::hr(0x80010012);
inline constexpr HRESULT CO_E_SERVER_EXEC_FAILURE = platform::com::hr(0x80080005);
inline constexpr HRESULT RPC_E_TIMEOUT = platform::com::hr(0x8001011F);

// Codes that say the server cannot be reached at all (not started, gone, cut off), rather than that it
// refused something. The server cannot be asked for their text.
bool isServerUnavailable(HRESULT code);

// One command's connection to the server: reports failures with the server's own error texts.
class Session {
  public:
    Session(IOPCServer* server, Console& console) : server_(server), console_(console) {}

    IOPCServer* server() const { return server_; }
    Console& console() const { return console_; }

    // The server's text of `code` (GetErrorString), with the code: "This ItemID is not known.
    // (0xC0040007)". Codes of an unreachable server get this program's own words.
    std::string errorText(HRESULT code);
    // Prints "ferrow-opc: <context>: <text>" to the error stream; the exit status for the failure.
    int fail(std::string_view context, HRESULT code);
    // Prints "ferrow-opc: <message>"; the exit status of a server error.
    int failWith(std::string_view message, int status = kExitServerError);

  private:
    IOPCServer* server_;
    Console& console_;
};

// The result of adding one item to a group.
struct ItemSlot {
    std::string itemId;
    HRESULT error = platform::com::S_OK;
    OPCHANDLE serverHandle = 0;
    VARTYPE canonicalType = platform::com::VT_EMPTY;
    DWORD accessRights = 0;
};

// A private group of this program on the server with the items it needs; removed again when this
// object goes, whatever happened in between. Items get client handles 1, 2, … in the order given.
class ScopedGroup {
  public:
    explicit ScopedGroup(IOPCServer* server) : server_(server) {}
    ScopedGroup(const ScopedGroup&) = delete;
    ScopedGroup& operator=(const ScopedGroup&) = delete;
    ~ScopedGroup();

    // Adds the group; the revised update rate is the server's answer to `rateMs`.
    HRESULT add(bool active, DWORD rateMs, float deadbandPercent, DWORD* revisedRateMs = nullptr);
    // Adds one item per ID (active as the group asks for, in the canonical type); per-item errors are in
    // the slots, the call's own failure is returned.
    HRESULT addItems(const std::vector<std::string>& itemIds, bool active, std::vector<ItemSlot>* slots);
    // Another interface of the group.
    template <class I>
    HRESULT query(ComPtr<I>* out) {
        return unknown_->QueryInterface(I::kIid, out->putVoid());
    }
    // Removes the group now instead of at the end; its failure is reported, not thrown away.
    HRESULT remove();

  private:
    IOPCServer* server_;
    ComPtr<platform::com::IUnknown> unknown_;
    OPCHANDLE handle_ = 0;
};

// Every string an enumerator still has, as UTF-8; the enumerator's failure code if it failed. Stops at an
// enumerator that hands out nothing while claiming more.
HRESULT drainStrings(platform::com::IEnumString* strings, std::vector<std::string>* out);

}  // namespace ferrow::cli
