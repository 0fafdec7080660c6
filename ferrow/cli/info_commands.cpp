// status and properties: what the server tells about itself and about one item.
#include <algorithm>

#include "ferrow/cli/commands.h"
#include "ferrow/cli/json_writer.h"
#include "ferrow/cli/unicode_text.h"
#include "ferrow/cli/value_format.h"
#include "platform/com/task_memory.h"

namespace ferrow::cli {

using namespace platform::com;
using namespace ferrow::opc;

namespace {

const char* stateWord(DWORD state) {
    switch (state) {
        case OPC_STATUS_RUNNING:
            return "running";
        case OPC_STATUS_FAILED:
            return "failed";
        case OPC_STATUS_NOCONFIG:
            return "no configuration";
        case OPC_STATUS_SUSPENDED:
            return "suspended";
        case OPC_STATUS_TEST:
            return "test";
        default:
            return "unknown";
    }
}

// A time for the status: local, with its zone; "never" for the zero time.
std::string statusTime(const FILETIME& time) {
    const std::string text = localTimeText(time, {.milliseconds = false, .offset = true});
    return text.empty() ? "never" : text;
}

void timeMemberJson(JsonWriter& json, std::string_view name, const FILETIME& time) {
    json.key(name);
    const std::string text = localTimeText(time, {.milliseconds = true, .offset = true});
    if (text.empty())
        json.null();
    else
        json.string(text);
}

}  // namespace

int runStatus(Session& session, const Arguments&) {
    OPCSERVERSTATUS* status = nullptr;
    const HRESULT result = session.server()->GetStatus(&status);
    if (FAILED(result) || !status) {
        CoTaskMemFree(status);
        return session.fail("status", FAILED(result) ? result : E_POINTER);
    }
    const std::string vendor = utf8FromWide(wideView(status->szVendorInfo));
    CoTaskMemFree(status->szVendorInfo);
    const OPCSERVERSTATUS s = *status;
    CoTaskMemFree(status);
    const std::string version = std::to_string(s.wMajorVersion) + "." + std::to_string(s.wMinorVersion) +
                                "." + std::to_string(s.wBuildNumber);
    std::ostream& out = session.console().out;
    if (session.console().json) {
        JsonWriter json(out);
        json.beginObject();
        json.member("state", stateWord(s.dwServerState));
        json.member("stateCode", std::uint32_t{s.dwServerState});
        timeMemberJson(json, "startTime", s.ftStartTime);
        timeMemberJson(json, "currentTime", s.ftCurrentTime);
        timeMemberJson(json, "lastUpdateTime", s.ftLastUpdateTime);
        json.member("groupCount", s.dwGroupCount);
        json.member("bandWidth", s.dwBandWidth);
        json.member("version", version);
        json.member("vendorInfo", vendor);
        json.endObject();
        out << '\n';
        return kExitOk;
    }
    std::string state = stateWord(s.dwServerState);
    if (state == "unknown") state += " (" + std::to_string(s.dwServerState) + ")";
    out << "State:            " << state << '\n'
        << "Vendor:           " << printable(vendor) << '\n'
        << "Version:          " << version << '\n'
        << "Start time:       " << statusTime(s.ftStartTime) << '\n'
        << "Current time:     " << statusTime(s.ftCurrentTime) << '\n'
        << "Last update time: " << statusTime(s.ftLastUpdateTime) << '\n'
        << "Groups:           " << s.dwGroupCount << '\n';
    return kExitOk;
}

namespace {

constexpr DWORD kPropertyDataType = 1;
constexpr DWORD kPropertyQuality = 3;
constexpr DWORD kPropertyTimestamp = 4;
constexpr DWORD kPropertyAccessRights = 5;

std::string rightsText(DWORD rights) {
    std::string out;
    if (rights & OPC_READABLE) out = "read";
    if (rights & OPC_WRITEABLE) out += out.empty() ? "write" : ", write";
    if (out.empty()) out = "none";
    return out;
}

// A property value as a person reads it: the meaning of the numbers that stand for something.
std::string propertyText(DWORD id, const VARIANT& value) {
    if (id == kPropertyDataType && value.vt == VT_I2) return varTypeName(static_cast<VARTYPE>(value.iVal));
    if (id == kPropertyQuality && value.vt == VT_I2) return qualityText(static_cast<WORD>(value.iVal));
    if (id == kPropertyAccessRights && value.vt == VT_I4)
        return rightsText(static_cast<DWORD>(value.lVal)) + " (" + std::to_string(value.lVal) + ")";
    if (id == kPropertyTimestamp && value.vt == VT_DATE) {
        const std::string text = dateText(value.date);
        return text.empty() ? "(none)" : text + " UTC";
    }
    return valueText(value);
}

}  // namespace

int runProperties(Session& session, const Arguments& args) {
    const std::string& itemId = args.operands.at(0);
    ComPtr<IOPCItemProperties> properties;
    if (const HRESULT r = session.server()->QueryInterface(IID_IOPCItemProperties, properties.putVoid());
        FAILED(r))
        return session.fail("properties", r);
    std::u16string wideId = wideFromUtf8(itemId);
    DWORD count = 0;
    DWORD* ids = nullptr;
    LPWSTR* descriptions = nullptr;
    VARTYPE* types = nullptr;
    HRESULT result = properties->QueryAvailableProperties(wideId.data(), &count, &ids, &descriptions, &types);
    // Taken over at once, so that every way out below frees them.
    std::vector<DWORD> idList;
    std::vector<std::string> descriptionList;
    std::vector<VARTYPE> typeList;
    if (SUCCEEDED(result) && ids && descriptions && types) {
        for (DWORD i = 0; i < count; ++i) {
            idList.push_back(ids[i]);
            descriptionList.push_back(utf8FromWide(wideView(descriptions[i])));
            typeList.push_back(types[i]);
        }
    }
    if (descriptions)
        for (DWORD i = 0; i < count; ++i) CoTaskMemFree(descriptions[i]);
    CoTaskMemFree(ids);
    CoTaskMemFree(descriptions);
    CoTaskMemFree(types);
    if (FAILED(result)) return session.fail(itemId, result);
    if (idList.size() != count) return session.fail(itemId, E_POINTER);

    VARIANT* values = nullptr;
    HRESULT* errors = nullptr;
    std::vector<DWORD> requested = idList;
    result = properties->GetItemProperties(wideId.data(), count, requested.data(), &values, &errors);
    const bool complete = SUCCEEDED(result) && values && errors;
    std::ostream& out = session.console().out;
    int status = kExitOk;
    if (complete && session.console().json) {
        JsonWriter json(out);
        json.beginObject();
        json.member("item", itemId);
        json.key("properties");
        json.beginArray();
        for (DWORD i = 0; i < count; ++i) {
            json.beginObject();
            json.member("id", idList[i]);
            json.member("description", descriptionList[i]);
            json.member("type", varTypeName(typeList[i]));
            json.key("value");
            writeValueJson(json, values[i]);
            json.member("text", propertyText(idList[i], values[i]));
            if (FAILED(errors[i])) json.member("error", session.errorText(errors[i]));
            json.endObject();
        }
        json.endArray();
        json.endObject();
        out << '\n';
    } else if (complete) {
        std::size_t width = 0;
        for (const std::string& d : descriptionList) width = std::max(width, d.size());
        for (DWORD i = 0; i < count; ++i) {
            std::string id = std::to_string(idList[i]);
            out << std::string(id.size() < 4 ? 4 - id.size() : 0, ' ') << id << "  "
                << printable(descriptionList[i]) << std::string(width - descriptionList[i].size() + 2, ' ');
            if (FAILED(errors[i]))
                out << "error: " << session.errorText(errors[i]);
            else
                out << propertyText(idList[i], values[i]);
            out << '\n';
        }
    }
    if (complete) {
        for (DWORD i = 0; i < count; ++i) {
            if (FAILED(errors[i])) status = kExitServerError;
            VariantClear(&values[i]);
        }
    }
    CoTaskMemFree(values);
    CoTaskMemFree(errors);
    if (FAILED(result)) return session.fail(itemId, result);
    if (!complete) return session.fail(itemId, E_POINTER);
    return status;
}

}  // namespace ferrow::cli
