#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "ferrow/ua/builtin_types.h"

namespace ferrow::ua {

// What a decoder throws when the bytes cannot be what they claim: the status names the fault.
class DecodeError : public std::runtime_error {
  public:
    DecodeError(std::uint32_t status, const std::string& what) : std::runtime_error(what), status_(status) {}
    std::uint32_t status() const { return status_; }

  private:
    std::uint32_t status_;
};

// Limits that keep what a peer sends from making the decoder allocate without bound: every length is
// checked against the bytes that remain before anything is allocated, and the elements of all arrays of
// one message together stay under a budget.
struct DecodeLimits {
    std::size_t maxArrayLength = 100000;
    std::size_t maxElementsPerMessage = 300000;
    int maxNestingDepth = 32;
};

// Reads UA Binary from a byte range it does not own. Structures are read through their `fields`
// function, the same one the encoder uses, so the two cannot disagree on the order of fields.
class BinaryDecoder {
  public:
    explicit BinaryDecoder(std::string_view bytes, DecodeLimits limits = {});

    template <class T>
    void operator()(T& value) {
        if constexpr (std::is_same_v<T, bool>) {
            value = readByte() != 0;
        } else if constexpr (std::is_arithmetic_v<T>) {
            readRaw(&value, sizeof(T));
        } else if constexpr (std::is_enum_v<T>) {
            std::int32_t raw = 0;
            readRaw(&raw, sizeof raw);
            value = static_cast<T>(raw);
        } else if constexpr (IsVector<T>::value) {
            readArray(value);
        } else if constexpr (requires(BinaryDecoder & d, T & v) { d.read(v); }) {
            read(value);
        } else {
            enter();
            fields(*this, value);
            leave();
        }
    }

    std::size_t remaining() const { return bytes_.size() - pos_; }
    std::size_t position() const { return pos_; }
    // Throws unless every byte was used.
    void expectEnd() const;

    void read(std::string& value);
    void read(DateTime& value) { readRaw(&value.ticks, 8); }
    void read(StatusCode& value) { readRaw(&value.code, 4); }
    void read(Guid& value);
    void read(ByteString& value);
    void read(XmlElement& value);
    void read(NodeId& value);
    void read(ExpandedNodeId& value);
    void read(QualifiedName& value);
    void read(LocalizedText& value);
    void read(ExtensionObject& value);
    void read(DiagnosticInfo& value);
    void read(Variant& value);
    void read(DataValue& value);

    [[noreturn]] static void fail(std::uint32_t status, const std::string& what);

  private:
    template <class T>
    struct IsVector : std::false_type {};
    template <class T>
    struct IsVector<std::vector<T>> : std::true_type {};

    template <class T>
    void readArray(std::vector<T>& items) {
        const std::size_t count = readArrayLength();
        items.clear();
        items.resize(count);
        for (auto& item : items) (*this)(item);
    }

    std::uint8_t readByte();
    void readRaw(void* out, std::size_t size);
    // The element count of an array (-1, a null array, is 0), checked before anything is allocated.
    std::size_t readArrayLength();
    std::string readBytes(bool* isNull = nullptr);
    Scalar readScalar(BuiltinType type);
    void enter();
    void leave() { --depth_; }

    std::string_view bytes_;
    std::size_t pos_ = 0;
    DecodeLimits limits_;
    std::size_t elementsLeft_;
    int depth_ = 0;
};

}  // namespace ferrow::ua
