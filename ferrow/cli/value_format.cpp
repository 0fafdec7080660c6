#include "ferrow/cli/value_format.h"

#include <charconv>
#include <cstdio>
#include <ctime>
#include <functional>

#include "ferrow/cli/json_writer.h"
#include "ferrow/cli/unicode_text.h"
#include "platform/com/bstr.h"
#include "platform/com/safearray.h"
#include "platform/com/variant_text.h"

namespace ferrow::cli {

using namespace platform::com;

std::string qualityWord(WORD quality) {
    switch (quality & 0xFC) {
        case 0x00:
            return "bad";
        case 0x04:
            return "config error";
        case 0x08:
            return "not connected";
        case 0x0C:
            return "device failure";
        case 0x10:
            return "sensor failure";
        case 0x14:
            return "last known value";
        case 0x18:
            return "comm failure";
        case 0x1C:
            return "out of service";
        case 0x40:
            return "uncertain";
        case 0x44:
            return "last usable value";
        case 0x50:
            return "sensor not accurate";
        case 0x54:
            return "units exceeded";
        case 0x58:
            return "sub-normal";
        case 0xC0:
            return "good";
        case 0xD8:
            return "local override";
        default:
            break;
    }
    switch (quality & 0xC0) {
        case 0xC0:
            return "good";
        case 0x40:
            return "uncertain";
        default:
            return "bad";
    }
}

std::string qualityText(WORD quality) {
    char hex[16];
    std::snprintf(hex, sizeof hex, " (0x%02X)", static_cast<unsigned>(quality));
    return qualityWord(quality) + hex;
}

std::string varTypeName(VARTYPE type) {
    static constexpr struct {
        VARTYPE type;
        const char* name;
    } kNames[] = {{VT_EMPTY, "VT_EMPTY"},     {VT_NULL, "VT_NULL"},      {VT_I2, "VT_I2"},
                  {VT_I4, "VT_I4"},           {VT_R4, "VT_R4"},          {VT_R8, "VT_R8"},
                  {VT_CY, "VT_CY"},           {VT_DATE, "VT_DATE"},      {VT_BSTR, "VT_BSTR"},
                  {VT_ERROR, "VT_ERROR"},     {VT_BOOL, "VT_BOOL"},      {VT_VARIANT, "VT_VARIANT"},
                  {VT_I1, "VT_I1"},           {VT_UI1, "VT_UI1"},        {VT_UI2, "VT_UI2"},
                  {VT_UI4, "VT_UI4"},         {VT_I8, "VT_I8"},          {VT_UI8, "VT_UI8"},
                  {VT_INT, "VT_INT"},         {VT_UINT, "VT_UINT"},      {VT_DISPATCH, "VT_DISPATCH"},
                  {VT_UNKNOWN, "VT_UNKNOWN"}, {VT_DECIMAL, "VT_DECIMAL"}};
    std::string prefix;
    if (type & VT_ARRAY) prefix = "VT_ARRAY|";
    const VARTYPE base = type & static_cast<VARTYPE>(~VT_ARRAY);
    for (const auto& entry : kNames)
        if (entry.type == base) return prefix + entry.name;
    return prefix + std::to_string(base);
}

namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;

std::string isoText(const std::tm& fields, int milliseconds) {
    char text[48];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &fields);
    std::string out = text;
    if (milliseconds >= 0) {
        std::snprintf(text, sizeof text, ".%03d", milliseconds);
        out += text;
    }
    return out;
}

// Seconds and milliseconds since 1970, rounded down, for any FILETIME.
void unixTime(std::uint64_t ticks, std::int64_t* seconds, int* milliseconds) {
    const std::int64_t sinceEpoch = static_cast<std::int64_t>(ticks - kUnixEpochTicks);
    std::int64_t whole = sinceEpoch / kTicksPerSecond;
    std::int64_t rest = sinceEpoch % kTicksPerSecond;
    if (rest < 0) {
        rest += kTicksPerSecond;
        --whole;
    }
    *seconds = whole;
    *milliseconds = static_cast<int>(rest / 10'000);
}

template <class Real>
std::string shortest(Real value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

// Calls `each` with every element of a one-dimensional array, as a variant of the element type.
bool forEachElement(SAFEARRAY* array, const std::function<void(const VARIANT&)>& each) {
    VARTYPE type = VT_EMPTY;
    std::int32_t lower = 0, upper = -1;
    if (FAILED(SafeArrayGetVartype(array, &type)) || FAILED(SafeArrayGetLBound(array, 1, &lower)) ||
        FAILED(SafeArrayGetUBound(array, 1, &upper)))
        return false;
    for (std::int64_t i = lower; i <= upper; ++i) {
        const auto index = static_cast<std::int32_t>(i);
        VARIANT element;
        VariantInit(&element);
        if (type == VT_VARIANT) {
            if (FAILED(SafeArrayGetElement(array, &index, &element))) return false;
        } else {
            element.vt = type;
            if (FAILED(SafeArrayGetElement(array, &index, &element.llVal))) return false;
        }
        each(element);
        VariantClear(&element);
    }
    return true;
}

// "(VT_DISPATCH)": a value with no text of its own.
std::string typeOnly(VARTYPE type) {
    std::string out(1, '(');
    out += varTypeName(type);
    out += ')';
    return out;
}

// The platform's own text of a scalar (numbers as a Windows client shows them).
std::string platformText(const VARIANT& value) {
    VARIANT text;
    VariantInit(&text);
    if (FAILED(VariantChangeType(&text, &value, VARIANT_ALPHABOOL, VT_BSTR))) return typeOnly(value.vt);
    std::string out = utf8FromWide(view(text.bstrVal));
    VariantClear(&text);
    return out;
}

}  // namespace

std::string localTimeText(const FILETIME& time, TimeFormat format) {
    if (time.ticks() == 0) return {};
    std::int64_t seconds = 0;
    int milliseconds = 0;
    unixTime(time.ticks(), &seconds, &milliseconds);
    const std::time_t when = static_cast<std::time_t>(seconds);
    std::tm fields{};
    if (!localtime_r(&when, &fields)) return {};
    std::string out = isoText(fields, format.milliseconds ? milliseconds : -1);
    if (format.offset) {
        const long offset = fields.tm_gmtoff;
        const int minutes = static_cast<int>((offset < 0 ? -offset : offset) / 60 % (24 * 60));
        char zone[32];
        std::snprintf(zone, sizeof zone, "%c%02d:%02d", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
        out += zone;
    }
    return out;
}

std::string dateText(DATE date) {
    FILETIME time;
    if (!isValidDate(date) || !fileTimeFromDate(date, &time)) return {};
    // To the nearest second: a DATE carries no more.
    const std::uint64_t ticks = time.ticks() + kTicksPerSecond / 2;
    std::int64_t seconds = 0;
    int milliseconds = 0;
    unixTime(ticks - ticks % kTicksPerSecond, &seconds, &milliseconds);
    const std::time_t when = static_cast<std::time_t>(seconds);
    std::tm fields{};
    if (!gmtime_r(&when, &fields)) return {};
    return isoText(fields, -1);
}

std::string valueText(const VARIANT& value) {
    if (value.vt & VT_ARRAY) {
        std::string out = "[";
        bool first = true;
        const bool complete = forEachElement(value.parray, [&](const VARIANT& element) {
            if (!first) out += ", ";
            first = false;
            out += valueText(element);
        });
        return complete ? out + "]" : typeOnly(value.vt);
    }
    switch (value.vt) {
        case VT_EMPTY:
            return "(empty)";
        case VT_NULL:
            return "(null)";
        case VT_BSTR: {
            std::string out(1, '"');
            out += printable(utf8FromWide(view(value.bstrVal)));
            out += '"';
            return out;
        }
        case VT_BOOL:
            return value.boolVal ? "True" : "False";
        case VT_DATE: {
            std::string text = dateText(value.date);
            return text.empty() ? "(invalid date)" : text;
        }
        case VT_ERROR:
            return hexCode(value.scode);
        default:
            return platformText(value);
    }
}

void writeValueJson(JsonWriter& json, const VARIANT& value) {
    if (value.vt & VT_ARRAY) {
        json.beginArray();
        forEachElement(value.parray, [&](const VARIANT& element) { writeValueJson(json, element); });
        json.endArray();
        return;
    }
    switch (value.vt) {
        case VT_EMPTY:
        case VT_NULL:
            return json.null();
        case VT_BOOL:
            return json.boolean(value.boolVal != 0);
        case VT_I1:
            return json.number(std::int64_t{value.cVal});
        case VT_I2:
            return json.number(std::int64_t{value.iVal});
        case VT_I4:
        case VT_INT:
            return json.number(std::int64_t{value.lVal});
        case VT_I8:
            return json.number(value.llVal);
        case VT_UI1:
            return json.number(std::uint64_t{value.bVal});
        case VT_UI2:
            return json.number(std::uint64_t{value.uiVal});
        case VT_UI4:
        case VT_UINT:
            return json.number(std::uint64_t{value.ulVal});
        case VT_UI8:
            return json.number(value.ullVal);
        case VT_R4:
            return json.number(value.fltVal);
        case VT_R8:
            return json.number(value.dblVal);
        case VT_CY:
            return json.numberText(platformText(value));
        case VT_DATE:
            return json.string(dateText(value.date));
        case VT_BSTR:
            return json.string(utf8FromWide(view(value.bstrVal)));
        case VT_ERROR:
            return json.string(hexCode(value.scode));
        default:
            return json.string(valueText(value));
    }
}

HRESULT parseValue(std::string_view text, VARTYPE type, VARIANT* value) {
    VariantInit(value);
    const std::u16string wide = wideFromUtf8(text);
    VARIANT typed;
    VariantInit(&typed);
    typed.vt = VT_BSTR;
    typed.bstrVal = SysAllocStringLen(wide.data(), static_cast<std::uint32_t>(wide.size()));
    if (!typed.bstrVal) return E_OUTOFMEMORY;
    const HRESULT result = VariantChangeType(value, &typed, 0, type);
    VariantClear(&typed);
    if (FAILED(result)) VariantInit(value);
    return result;
}

std::string hexCode(HRESULT code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
    return text;
}

}  // namespace ferrow::cli
