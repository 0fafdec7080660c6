#include "ferrow/ua_bridge/tag_values.h"

#include <QString>

#include "platform/com/bstr.h"

namespace ferrow::ua_bridge {

using namespace platform::com;
using ua::TagType;
using ua::TagValue;

TagType tagTypeOf(VARTYPE vt) {
    switch (vt) {
        case VT_BOOL:
            return TagType::Boolean;
        case VT_I1:
            return TagType::SByte;
        case VT_UI1:
            return TagType::Byte;
        case VT_I2:
            return TagType::Int16;
        case VT_UI2:
            return TagType::UInt16;
        case VT_I4:
        case VT_INT:
            return TagType::Int32;
        case VT_UI4:
        case VT_UINT:
            return TagType::UInt32;
        case VT_I8:
            return TagType::Int64;
        case VT_UI8:
            return TagType::UInt64;
        case VT_R4:
            return TagType::Float;
        case VT_R8:
        case VT_CY:
            return TagType::Double;
        case VT_DATE:
            return TagType::DateTime;
        default:
            return TagType::String;
    }
}

VARTYPE varTypeOf(TagType type) {
    switch (type) {
        case TagType::Boolean:
            return VT_BOOL;
        case TagType::SByte:
            return VT_I1;
        case TagType::Byte:
            return VT_UI1;
        case TagType::Int16:
            return VT_I2;
        case TagType::UInt16:
            return VT_UI2;
        case TagType::Int32:
            return VT_I4;
        case TagType::UInt32:
            return VT_UI4;
        case TagType::Int64:
            return VT_I8;
        case TagType::UInt64:
            return VT_UI8;
        case TagType::Float:
            return VT_R4;
        case TagType::Double:
            return VT_R8;
        case TagType::String:
            return VT_BSTR;
        case TagType::DateTime:
            return VT_DATE;
    }
    return VT_EMPTY;
}

namespace {

TagValue takeConverted(const VARIANT& v) {
    switch (v.vt) {
        case VT_BOOL:
            return v.boolVal != VARIANT_FALSE;
        case VT_I1:
            return v.cVal;
        case VT_UI1:
            return v.bVal;
        case VT_I2:
            return v.iVal;
        case VT_UI2:
            return v.uiVal;
        case VT_I4:
            return v.lVal;
        case VT_UI4:
            return v.ulVal;
        case VT_I8:
            return v.llVal;
        case VT_UI8:
            return v.ullVal;
        case VT_R4:
            return v.fltVal;
        case VT_R8:
            return v.dblVal;
        case VT_BSTR: {
            const std::u16string_view text = view(v.bstrVal);
            return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())).toStdString();
        }
        case VT_DATE: {
            FILETIME time;
            if (!fileTimeFromDate(v.date, &time)) return std::monostate{};
            // A date in days as a double keeps milliseconds; below that it is rounding noise.
            constexpr std::int64_t kTicksPerMillisecond = 10000;
            const std::int64_t ticks = dateTimeOf(time).ticks;
            return ua::DateTime{(ticks + kTicksPerMillisecond / 2) / kTicksPerMillisecond *
                                kTicksPerMillisecond};
        }
        default:
            return std::monostate{};
    }
}

}  // namespace

TagValue tagValueOf(const VARIANT& value, TagType type) {
    if (value.vt == VT_EMPTY || value.vt == VT_NULL) return std::monostate{};
    const VARTYPE wanted = varTypeOf(type);
    if (value.vt == wanted) return takeConverted(value);
    VARIANT converted;
    VariantInit(&converted);
    if (FAILED(VariantChangeType(&converted, &value, 0, wanted))) return std::monostate{};
    TagValue out = takeConverted(converted);
    VariantClear(&converted);
    return out;
}

VARIANT variantOf(const TagValue& value) {
    VARIANT v;
    VariantInit(&v);
    std::visit(
        [&v](const auto& x) {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, bool>) {
                v.vt = VT_BOOL;
                v.boolVal = x ? VARIANT_TRUE : VARIANT_FALSE;
            } else if constexpr (std::is_same_v<T, std::int8_t>) {
                v.vt = VT_I1;
                v.cVal = x;
            } else if constexpr (std::is_same_v<T, std::uint8_t>) {
                v.vt = VT_UI1;
                v.bVal = x;
            } else if constexpr (std::is_same_v<T, std::int16_t>) {
                v.vt = VT_I2;
                v.iVal = x;
            } else if constexpr (std::is_same_v<T, std::uint16_t>) {
                v.vt = VT_UI2;
                v.uiVal = x;
            } else if constexpr (std::is_same_v<T, std::int32_t>) {
                v.vt = VT_I4;
                v.lVal = x;
            } else if constexpr (std::is_same_v<T, std::uint32_t>) {
                v.vt = VT_UI4;
                v.ulVal = x;
            } else if constexpr (std::is_same_v<T, std::int64_t>) {
                v.vt = VT_I8;
                v.llVal = x;
            } else if constexpr (std::is_same_v<T, std::uint64_t>) {
                v.vt = VT_UI8;
                v.ullVal = x;
            } else if constexpr (std::is_same_v<T, float>) {
                v.vt = VT_R4;
                v.fltVal = x;
            } else if constexpr (std::is_same_v<T, double>) {
                v.vt = VT_R8;
                v.dblVal = x;
            } else if constexpr (std::is_same_v<T, std::string>) {
                const std::u16string text = QString::fromStdString(x).toStdU16String();
                v.bstrVal = SysAllocStringLen(text.data(), static_cast<std::uint32_t>(text.size()));
                if (v.bstrVal) v.vt = VT_BSTR;
            } else if constexpr (std::is_same_v<T, ua::DateTime>) {
                FILETIME time;
                time.dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(x.ticks) & 0xFFFFFFFFu);
                time.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(x.ticks) >> 32);
                v.vt = VT_DATE;
                v.date = dateFromFileTime(time);
            }
        },
        value);
    return v;
}

}  // namespace ferrow::ua_bridge
