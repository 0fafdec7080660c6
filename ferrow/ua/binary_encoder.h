#pragma once

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "ferrow/ua/builtin_types.h"

namespace ferrow::ua {

// Writes UA Binary into a growing byte string. Structures are written through their `fields` function,
// shared with the decoder.
class BinaryEncoder {
  public:
    template <class T>
    void operator()(const T& value) {
        if constexpr (std::is_same_v<T, bool>) {
            out_.push_back(value ? 1 : 0);
        } else if constexpr (std::is_arithmetic_v<T>) {
            writeRaw(&value, sizeof(T));
        } else if constexpr (std::is_enum_v<T>) {
            const auto raw = static_cast<std::int32_t>(value);
            writeRaw(&raw, sizeof raw);
        } else if constexpr (IsVector<T>::value) {
            (*this)(static_cast<std::int32_t>(value.size()));
            for (const auto& item : value) (*this)(item);
        } else if constexpr (requires(BinaryEncoder & e, const T& v) { e.write(v); }) {
            write(value);
        } else {
            fields(*this, const_cast<T&>(value));
        }
    }

    const std::string& bytes() const { return out_; }
    std::string take() { return std::move(out_); }

    void write(const std::string& value);
    void write(const DateTime& value) { writeRaw(&value.ticks, 8); }
    void write(const StatusCode& value) { writeRaw(&value.code, 4); }
    void write(const Guid& value);
    void write(const ByteString& value);
    void write(const XmlElement& value);
    void write(const NodeId& value);
    void write(const ExpandedNodeId& value);
    void write(const QualifiedName& value);
    void write(const LocalizedText& value);
    void write(const ExtensionObject& value);
    void write(const DiagnosticInfo& value);
    void write(const Variant& value);
    void write(const DataValue& value);

  private:
    template <class T>
    struct IsVector : std::false_type {};
    template <class T>
    struct IsVector<std::vector<T>> : std::true_type {};

    void writeRaw(const void* data, std::size_t size);
    void writeBytes(const std::string& bytes, bool isNull);
    void writeScalar(const Scalar& value);
    void writeNodeIdWithFlags(const NodeId& value, std::uint8_t flags);

    std::string out_;
};

// A structure with its encoding's NodeId in front, as a message body or an ExtensionObject body holds it.
template <class T>
std::string encodeBody(const T& value) {
    BinaryEncoder encoder;
    encoder(value);
    return encoder.take();
}

// A body already encoded, with its encoding's NodeId.
inline ExtensionObject wrapEncoded(std::uint32_t encodingId, std::string body) {
    ExtensionObject object;
    object.typeId = NodeId::numericId(encodingId);
    object.body = ExtensionObject::Body::Binary;
    object.bytes = std::move(body);
    return object;
}

template <class T>
ExtensionObject wrapExtension(std::uint32_t encodingId, const T& value) {
    return wrapEncoded(encodingId, encodeBody(value));
}

}  // namespace ferrow::ua
