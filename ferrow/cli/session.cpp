#include "ferrow/cli/session.h"

#include "ferrow/cli/unicode_text.h"
#include "ferrow/cli/value_format.h"
#include "platform/com/task_memory.h"

namespace ferrow::cli {

using namespace platform::com;
using namespace ferrow::opc;

namespace {

// LOCALE_SYSTEM_DEFAULT: the server has one language.
constexpr LCID kLocale = 0x0800;

const char* unavailableText(HRESULT code) {
    switch (code) {
        case REGDB_E_CLASSNOTREG:
        case RPC_S_SERVER_UNAVAILABLE:
        case CO_E_SERVER_EXEC_FAILURE:
            return "Ferrow is not running and could not be started";
        case RPC_E_TIMEOUT:
            return "Ferrow did not answer in time";
        default:
            return "the connection to Ferrow was lost (it exited or cut this client off)";
    }
}

// The longest an enumeration may run: far beyond any configuration, short of a server that never ends.
constexpr std::size_t kMaxEnumerated = 10'000'000;

}  // namespace

bool isServerUnavailable(HRESULT code) {
    switch (code) {
        case REGDB_E_CLASSNOTREG:
        case RPC_S_SERVER_UNAVAILABLE:
        case CO_E_SERVER_EXEC_FAILURE:
        case RPC_E_DISCONNECTED:
        case RPC_E_SERVER_DIED:
        case RPC_E_SERVER_DIED_DNE:
        case RPC_E_TIMEOUT:
            return true;
        default:
            return false;
    }
}

std::string Session::errorText(HRESULT code) {
    if (isServerUnavailable(code)) return std::string(unavailableText(code)) + " (" + hexCode(code) + ")";
    LPWSTR text = nullptr;
    std::string out;
    if (server_ && SUCCEEDED(server_->GetErrorString(code, kLocale, &text)) && text)
        out = printable(utf8FromWide(wideView(text)));
    CoTaskMemFree(text);
    if (out.empty()) out = "error";
    return out + " (" + hexCode(code) + ")";
}

int Session::fail(std::string_view context, HRESULT code) {
    const std::string text = errorText(code);
    console_.err << "ferrow-opc: ";
    if (!context.empty()) console_.err << context << ": ";
    console_.err << text << '\n';
    return isServerUnavailable(code) ? kExitUnavailable : kExitServerError;
}

int Session::failWith(std::string_view message, int status) {
    console_.err << "ferrow-opc: " << message << '\n';
    return status;
}

ScopedGroup::~ScopedGroup() { remove(); }

HRESULT ScopedGroup::add(bool active, DWORD rateMs, float deadbandPercent, DWORD* revisedRateMs) {
    DWORD revised = 0;
    const HRESULT result =
        server_->AddGroup(u"", active ? 1 : 0, rateMs, 0, nullptr, &deadbandPercent, 0x0409, &handle_,
                          &revised, IID_IUnknown, reinterpret_cast<IUnknown**>(unknown_.put()));
    // A group the server added but could not hand over is still removed at the end.
    if (revisedRateMs) *revisedRateMs = revised;
    return result;
}

HRESULT ScopedGroup::addItems(const std::vector<std::string>& itemIds, bool active,
                              std::vector<ItemSlot>* slots) {
    ComPtr<IOPCItemMgt> items;
    if (const HRESULT r = query(&items); FAILED(r)) return r;
    std::vector<std::u16string> wideIds;
    std::vector<OPCITEMDEF> defs(itemIds.size());
    wideIds.reserve(itemIds.size());
    for (std::size_t i = 0; i < itemIds.size(); ++i) {
        wideIds.push_back(wideFromUtf8(itemIds[i]));
        defs[i].szAccessPath = const_cast<char16_t*>(u"");
        defs[i].szItemID = wideIds.back().data();
        defs[i].bActive = active ? 1 : 0;
        defs[i].hClient = static_cast<OPCHANDLE>(i + 1);
        defs[i].vtRequestedDataType = VT_EMPTY;
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    const HRESULT result = items->AddItems(static_cast<DWORD>(defs.size()), defs.data(), &results, &errors);
    slots->clear();
    if (SUCCEEDED(result) && results && errors) {
        for (std::size_t i = 0; i < itemIds.size(); ++i) {
            ItemSlot slot;
            slot.itemId = itemIds[i];
            slot.error = errors[i];
            if (SUCCEEDED(errors[i])) {
                slot.serverHandle = results[i].hServer;
                slot.canonicalType = results[i].vtCanonicalDataType;
                slot.accessRights = results[i].dwAccessRights;
            }
            CoTaskMemFree(results[i].pBlob);
            slots->push_back(std::move(slot));
        }
    }
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    if (SUCCEEDED(result) && (!results || !errors)) return E_POINTER;
    return result;
}

HRESULT ScopedGroup::remove() {
    HRESULT result = S_OK;
    if (handle_ != 0) result = server_->RemoveGroup(handle_, 0);
    handle_ = 0;
    unknown_.reset();
    return result;
}

HRESULT drainStrings(IEnumString* strings, std::vector<std::string>* out) {
    constexpr ULONG kBatch = 64;
    LPOLESTR batch[kBatch] = {};
    for (;;) {
        ULONG fetched = 0;
        const HRESULT result = strings->Next(kBatch, batch, &fetched);
        if (FAILED(result)) return result;
        fetched = std::min(fetched, kBatch);
        for (ULONG i = 0; i < fetched; ++i) {
            out->push_back(utf8FromWide(wideView(batch[i])));
            CoTaskMemFree(batch[i]);
            batch[i] = nullptr;
        }
        if (result != S_OK || fetched == 0 || out->size() > kMaxEnumerated) return S_OK;
    }
}

}  // namespace ferrow::cli
