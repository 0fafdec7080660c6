#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

// The built-in types of UA Binary as plain values. Strings and byte strings hold their bytes (UTF-8 for
// text); a null string and an empty one are told apart only where it matters (ByteString).
namespace ferrow::ua {

struct StatusCode {
    std::uint32_t code = 0;
    bool operator==(const StatusCode&) const = default;
};

// 100-nanosecond intervals since 1601-01-01 UTC, the same count as a FILETIME.
struct DateTime {
    std::int64_t ticks = 0;
    bool operator==(const DateTime&) const = default;
    static DateTime now();
};

struct Guid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0, data3 = 0;
    std::array<std::uint8_t, 8> data4{};
    bool operator==(const Guid&) const = default;
};

struct ByteString {
    std::string bytes;
    bool isNull = true;
    ByteString() = default;
    explicit ByteString(std::string b) : bytes(std::move(b)), isNull(false) {}
    bool operator==(const ByteString&) const = default;
};

struct XmlElement {
    std::string text;
    bool operator==(const XmlElement&) const = default;
};

struct NodeId {
    enum class Kind : std::uint8_t { Numeric, String, Guid, Opaque };
    std::uint16_t ns = 0;
    Kind kind = Kind::Numeric;
    std::uint32_t numeric = 0;
    std::string text;  // the string or the opaque bytes
    ua::Guid guid;

    NodeId() = default;
    NodeId(std::uint16_t nsIndex, std::uint32_t value) : ns(nsIndex), numeric(value) {}
    static NodeId numericId(std::uint32_t value) { return NodeId(0, value); }
    static NodeId stringId(std::uint16_t nsIndex, std::string s);
    static NodeId opaqueId(std::uint16_t nsIndex, std::string bytes);
    bool isNull() const { return ns == 0 && kind == Kind::Numeric && numeric == 0; }
    bool operator==(const NodeId&) const = default;
    std::string toString() const;  // "ns=2;s=Device1.Counter", "i=85"
};

struct NodeIdHash {
    std::size_t operator()(const NodeId& id) const;
};

struct ExpandedNodeId {
    NodeId nodeId;
    std::string namespaceUri;
    std::uint32_t serverIndex = 0;
    bool operator==(const ExpandedNodeId&) const = default;
};

struct QualifiedName {
    std::uint16_t ns = 0;
    std::string name;
    bool operator==(const QualifiedName&) const = default;
};

struct LocalizedText {
    std::optional<std::string> locale;
    std::optional<std::string> text;
    bool operator==(const LocalizedText&) const = default;
};

// A structure the endpoint keeps as it came: its encoding's NodeId and the encoded body.
struct ExtensionObject {
    enum class Body : std::uint8_t { None = 0, Binary = 1, Xml = 2 };
    NodeId typeId;
    Body body = Body::None;
    std::string bytes;
    bool operator==(const ExtensionObject&) const = default;
};

struct DiagnosticInfo {
    std::optional<std::int32_t> symbolicId, namespaceUri, localizedText, locale;
    std::optional<std::string> additionalInfo;
    std::optional<StatusCode> innerStatusCode;
    std::shared_ptr<DiagnosticInfo> inner;
    bool operator==(const DiagnosticInfo& other) const;
};

struct DataValue;
struct Variant;

// The type ids of the built-in types, as a Variant and a DataType NodeId number them.
enum class BuiltinType : std::uint8_t {
    Null = 0,
    Boolean,
    SByte,
    Byte,
    Int16,
    UInt16,
    Int32,
    UInt32,
    Int64,
    UInt64,
    Float,
    Double,
    String,
    DateTime,
    Guid,
    ByteString,
    XmlElement,
    NodeId,
    ExpandedNodeId,
    StatusCode,
    QualifiedName,
    LocalizedText,
    ExtensionObject,
    DataValue,
    Variant,
    DiagnosticInfo
};
inline constexpr int kBuiltinTypeCount = 26;

// One element of a Variant. The alternatives are in BuiltinType's order, so index() is the type id.
using Scalar =
    std::variant<std::monostate, bool, std::int8_t, std::uint8_t, std::int16_t, std::uint16_t, std::int32_t,
                 std::uint32_t, std::int64_t, std::uint64_t, float, double, std::string, DateTime, Guid,
                 ByteString, XmlElement, NodeId, ExpandedNodeId, StatusCode, QualifiedName, LocalizedText,
                 ExtensionObject, std::shared_ptr<DataValue>, std::shared_ptr<Variant>,
                 std::shared_ptr<DiagnosticInfo>>;

struct Variant {
    BuiltinType type = BuiltinType::Null;
    bool isArray = false;
    std::vector<Scalar> values;  // exactly one for a scalar (none for Null)
    std::vector<std::int32_t> dimensions;

    Variant() = default;
    template <class T>
    static Variant of(T value) {
        Variant v;
        v.values.emplace_back(std::move(value));
        v.type = static_cast<BuiltinType>(v.values.front().index());
        return v;
    }
    template <class T>
    static Variant arrayOf(std::vector<T> items) {
        Variant v;
        v.type = static_cast<BuiltinType>(Scalar(T{}).index());
        v.isArray = true;
        for (auto& item : items) v.values.emplace_back(std::move(item));
        return v;
    }
    bool isEmpty() const { return type == BuiltinType::Null; }
    bool operator==(const Variant& other) const;
};

// Whether two scalars are equal as Variant's == compares its values (nested values by content).
bool sameScalar(const Scalar& a, const Scalar& b);

struct DataValue {
    std::optional<Variant> value;
    std::optional<StatusCode> status;
    std::optional<DateTime> sourceTimestamp, serverTimestamp;
    std::uint16_t sourcePicoseconds = 0, serverPicoseconds = 0;
    bool operator==(const DataValue& other) const = default;
};

}  // namespace ferrow::ua
