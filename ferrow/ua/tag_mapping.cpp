#include "ferrow/ua/tag_mapping.h"

#include "ferrow/ua/status_codes.h"

namespace ferrow::ua {

namespace {
// TagValue and Scalar hold the same types; TagType follows TagValue's order from its second alternative.
template <std::size_t I = 1>
Scalar toScalar(const TagValue& value) {
    if constexpr (I == std::variant_size_v<TagValue>) {
        return std::monostate{};
    } else {
        if (value.index() == I) return Scalar(std::get<I>(value));
        return toScalar<I + 1>(value);
    }
}

template <std::size_t I = 1>
std::optional<TagValue> fromScalar(const Scalar& scalar) {
    if constexpr (I == std::variant_size_v<TagValue>) {
        return std::nullopt;
    } else {
        using T = std::variant_alternative_t<I, TagValue>;
        if (const T* v = std::get_if<T>(&scalar)) return TagValue(*v);
        return fromScalar<I + 1>(scalar);
    }
}
}  // namespace

BuiltinType builtinTypeOf(TagType type) { return static_cast<BuiltinType>(static_cast<int>(type) + 1); }

std::uint32_t dataTypeOf(TagType type) { return static_cast<std::uint32_t>(builtinTypeOf(type)); }

std::uint32_t statusOfQuality(std::uint16_t quality) {
    std::uint32_t code = status::Bad;
    switch (quality & 0xFC) {
        case 0xC0:
            code = status::Good;
            break;
        case 0xD8:
            code = status::GoodLocalOverride;
            break;
        case 0x40:
            code = status::Uncertain;
            break;
        case 0x44:
            code = status::UncertainLastUsableValue;
            break;
        case 0x50:
            code = status::UncertainSensorNotAccurate;
            break;
        case 0x54:
            code = status::UncertainEngineeringUnitsExceeded;
            break;
        case 0x58:
            code = status::UncertainSubNormal;
            break;
        case 0x00:
            code = status::Bad;
            break;
        case 0x04:
            code = status::BadConfigurationError;
            break;
        case 0x08:
            code = status::BadNotConnected;
            break;
        case 0x0C:
            code = status::BadDeviceFailure;
            break;
        case 0x10:
            code = status::BadSensorFailure;
            break;
        case 0x14:
            code = status::UncertainNoCommunicationLastUsableValue;
            break;
        case 0x18:
            code = status::BadNoCommunication;
            break;
        case 0x1C:
            code = status::BadOutOfService;
            break;
        case 0x20:
            code = status::BadWaitingForInitialData;
            break;
        default:
            // Sub-statuses without a UA twin keep their major quality.
            code = (quality & 0xC0) == 0xC0   ? status::Good
                   : (quality & 0xC0) == 0x40 ? status::Uncertain
                                              : status::Bad;
    }
    return code | (static_cast<std::uint32_t>(quality & 0x03) << 8);
}

Variant variantOf(const TagValue& value) {
    if (value.index() == 0) return Variant();
    Variant v;
    v.values.push_back(toScalar(value));
    v.type = static_cast<BuiltinType>(v.values.front().index());
    return v;
}

std::optional<TagValue> tagValueOf(const Variant& variant, TagType type) {
    if (variant.isArray || variant.type != builtinTypeOf(type) || variant.values.size() != 1)
        return std::nullopt;
    return fromScalar(variant.values.front());
}

}  // namespace ferrow::ua
