#include "ferrow/ua/binary_decoder.h"

#include <cstring>

#include "ferrow/ua/status_codes.h"

namespace ferrow::ua {

BinaryDecoder::BinaryDecoder(std::string_view bytes, DecodeLimits limits)
    : bytes_(bytes), limits_(limits), elementsLeft_(limits.maxElementsPerMessage) {}

void BinaryDecoder::fail(std::uint32_t status, const std::string& what) { throw DecodeError(status, what); }

void BinaryDecoder::expectEnd() const {
    if (pos_ != bytes_.size())
        fail(status::BadDecodingError, std::to_string(remaining()) + " bytes left over after the message");
}

std::uint8_t BinaryDecoder::readByte() {
    std::uint8_t b = 0;
    readRaw(&b, 1);
    return b;
}

void BinaryDecoder::readRaw(void* out, std::size_t size) {
    if (remaining() < size) fail(status::BadDecodingError, "the message ends in the middle of a value");
    std::memcpy(out, bytes_.data() + pos_, size);
    pos_ += size;
}

void BinaryDecoder::enter() {
    if (++depth_ > limits_.maxNestingDepth) fail(status::BadEncodingLimitsExceeded, "values nested too deep");
}

std::size_t BinaryDecoder::readArrayLength() {
    std::int32_t length = 0;
    readRaw(&length, 4);
    if (length == -1) return 0;
    if (length < 0) fail(status::BadDecodingError, "negative array length");
    const auto count = static_cast<std::size_t>(length);
    // Every element takes at least one byte, so a longer array cannot be in the message.
    if (count > remaining()) fail(status::BadDecodingError, "array longer than the message");
    if (count > limits_.maxArrayLength || count > elementsLeft_)
        fail(status::BadEncodingLimitsExceeded, "array longer than the decoder accepts");
    elementsLeft_ -= count;
    return count;
}

std::string BinaryDecoder::readBytes(bool* isNull) {
    std::int32_t length = 0;
    readRaw(&length, 4);
    if (isNull) *isNull = length == -1;
    if (length == -1) return {};
    if (length < 0) fail(status::BadDecodingError, "negative string length");
    if (static_cast<std::size_t>(length) > remaining())
        fail(status::BadDecodingError, "string longer than the message");
    std::string out(bytes_.substr(pos_, static_cast<std::size_t>(length)));
    pos_ += static_cast<std::size_t>(length);
    return out;
}

void BinaryDecoder::read(std::string& value) { value = readBytes(); }

void BinaryDecoder::read(Guid& value) {
    readRaw(&value.data1, 4);
    readRaw(&value.data2, 2);
    readRaw(&value.data3, 2);
    readRaw(value.data4.data(), 8);
}

void BinaryDecoder::read(ByteString& value) { value.bytes = readBytes(&value.isNull); }

void BinaryDecoder::read(XmlElement& value) { value.text = readBytes(); }

namespace {
constexpr std::uint8_t kNamespaceUriFlag = 0x80, kServerIndexFlag = 0x40;
}

void BinaryDecoder::read(NodeId& value) {
    const std::uint8_t encoding = readByte();
    if (encoding & (kNamespaceUriFlag | kServerIndexFlag))
        fail(status::BadDecodingError, "a NodeId with ExpandedNodeId flags");
    --pos_;  // the ExpandedNodeId reader takes the same byte
    ExpandedNodeId expanded;
    read(expanded);
    value = std::move(expanded.nodeId);
}

void BinaryDecoder::read(ExpandedNodeId& value) {
    const std::uint8_t encoding = readByte();
    NodeId& id = value.nodeId;
    id = NodeId();
    switch (encoding & 0x3F) {
        case 0:
            id.numeric = readByte();
            break;
        case 1: {
            id.ns = readByte();
            std::uint16_t n = 0;
            readRaw(&n, 2);
            id.numeric = n;
            break;
        }
        case 2:
            readRaw(&id.ns, 2);
            readRaw(&id.numeric, 4);
            break;
        case 3:
            readRaw(&id.ns, 2);
            id.kind = NodeId::Kind::String;
            id.text = readBytes();
            break;
        case 4:
            readRaw(&id.ns, 2);
            id.kind = NodeId::Kind::Guid;
            read(id.guid);
            break;
        case 5:
            readRaw(&id.ns, 2);
            id.kind = NodeId::Kind::Opaque;
            id.text = readBytes();
            break;
        default:
            fail(status::BadDecodingError, "unknown NodeId encoding " + std::to_string(encoding & 0x3F));
    }
    value.namespaceUri.clear();
    value.serverIndex = 0;
    if (encoding & kNamespaceUriFlag) value.namespaceUri = readBytes();
    if (encoding & kServerIndexFlag) readRaw(&value.serverIndex, 4);
}

void BinaryDecoder::read(QualifiedName& value) {
    readRaw(&value.ns, 2);
    value.name = readBytes();
}

void BinaryDecoder::read(LocalizedText& value) {
    const std::uint8_t mask = readByte();
    if (mask & ~0x03) fail(status::BadDecodingError, "unknown LocalizedText fields");
    value = LocalizedText();
    if (mask & 0x01) value.locale = readBytes();
    if (mask & 0x02) value.text = readBytes();
}

void BinaryDecoder::read(ExtensionObject& value) {
    read(value.typeId);
    const std::uint8_t body = readByte();
    if (body > 2) fail(status::BadDecodingError, "unknown ExtensionObject body encoding");
    value.body = static_cast<ExtensionObject::Body>(body);
    value.bytes = body == 0 ? std::string() : readBytes();
}

void BinaryDecoder::read(DiagnosticInfo& value) {
    enter();
    const std::uint8_t mask = readByte();
    if (mask & 0x80) fail(status::BadDecodingError, "unknown DiagnosticInfo fields");
    value = DiagnosticInfo();
    auto readInt = [this](std::optional<std::int32_t>& field) {
        std::int32_t v = 0;
        readRaw(&v, 4);
        field = v;
    };
    if (mask & 0x01) readInt(value.symbolicId);
    if (mask & 0x02) readInt(value.namespaceUri);
    if (mask & 0x08) readInt(value.locale);
    if (mask & 0x04) readInt(value.localizedText);
    if (mask & 0x10) value.additionalInfo = readBytes();
    if (mask & 0x20) {
        StatusCode code;
        read(code);
        value.innerStatusCode = code;
    }
    if (mask & 0x40) {
        value.inner = std::make_shared<DiagnosticInfo>();
        read(*value.inner);
    }
    leave();
}

Scalar BinaryDecoder::readScalar(BuiltinType type) {
    auto take = [this]<class T>(T v) -> Scalar {
        (*this)(v);
        return Scalar(std::move(v));
    };
    switch (type) {
        case BuiltinType::Null:
            return std::monostate{};
        case BuiltinType::Boolean:
            return take(bool{});
        case BuiltinType::SByte:
            return take(std::int8_t{});
        case BuiltinType::Byte:
            return take(std::uint8_t{});
        case BuiltinType::Int16:
            return take(std::int16_t{});
        case BuiltinType::UInt16:
            return take(std::uint16_t{});
        case BuiltinType::Int32:
            return take(std::int32_t{});
        case BuiltinType::UInt32:
            return take(std::uint32_t{});
        case BuiltinType::Int64:
            return take(std::int64_t{});
        case BuiltinType::UInt64:
            return take(std::uint64_t{});
        case BuiltinType::Float:
            return take(float{});
        case BuiltinType::Double:
            return take(double{});
        case BuiltinType::String:
            return take(std::string{});
        case BuiltinType::DateTime:
            return take(DateTime{});
        case BuiltinType::Guid:
            return take(Guid{});
        case BuiltinType::ByteString:
            return take(ByteString{});
        case BuiltinType::XmlElement:
            return take(XmlElement{});
        case BuiltinType::NodeId:
            return take(NodeId{});
        case BuiltinType::ExpandedNodeId:
            return take(ExpandedNodeId{});
        case BuiltinType::StatusCode:
            return take(StatusCode{});
        case BuiltinType::QualifiedName:
            return take(QualifiedName{});
        case BuiltinType::LocalizedText:
            return take(LocalizedText{});
        case BuiltinType::ExtensionObject:
            return take(ExtensionObject{});
        case BuiltinType::DataValue: {
            auto v = std::make_shared<DataValue>();
            read(*v);
            return v;
        }
        case BuiltinType::Variant: {
            auto v = std::make_shared<Variant>();
            read(*v);
            return v;
        }
        case BuiltinType::DiagnosticInfo: {
            auto v = std::make_shared<DiagnosticInfo>();
            read(*v);
            return v;
        }
    }
    fail(status::BadDecodingError, "unknown built-in type");
}

void BinaryDecoder::read(Variant& value) {
    enter();
    const std::uint8_t encoding = readByte();
    const std::uint8_t typeId = encoding & 0x3F;
    if (typeId >= kBuiltinTypeCount)
        fail(status::BadDecodingError, "unknown Variant type " + std::to_string(typeId));
    value = Variant();
    value.type = static_cast<BuiltinType>(typeId);
    value.isArray = (encoding & 0x80) != 0;
    if (value.isArray) {
        const std::size_t count = readArrayLength();
        value.values.reserve(count);
        for (std::size_t i = 0; i < count; ++i) value.values.push_back(readScalar(value.type));
        if (encoding & 0x40) {
            (*this)(value.dimensions);
            std::int64_t product = 1;
            for (const std::int32_t d : value.dimensions) {
                if (d < 0) fail(status::BadDecodingError, "negative array dimension");
                product = std::min<std::int64_t>(product * d, std::int64_t{1} << 40);
            }
            if (product != static_cast<std::int64_t>(count))
                fail(status::BadDecodingError, "array dimensions do not match its length");
        }
    } else {
        if (encoding & 0x40) fail(status::BadDecodingError, "dimensions on a scalar Variant");
        if (value.type != BuiltinType::Null) value.values.push_back(readScalar(value.type));
    }
    leave();
}

void BinaryDecoder::read(DataValue& value) {
    enter();
    const std::uint8_t mask = readByte();
    if (mask & 0xC0) fail(status::BadDecodingError, "unknown DataValue fields");
    value = DataValue();
    if (mask & 0x01) {
        value.value.emplace();
        read(*value.value);
    }
    if (mask & 0x02) read(value.status.emplace());
    if (mask & 0x04) read(value.sourceTimestamp.emplace());
    if (mask & 0x10) readRaw(&value.sourcePicoseconds, 2);
    if (mask & 0x08) read(value.serverTimestamp.emplace());
    if (mask & 0x20) readRaw(&value.serverPicoseconds, 2);
    leave();
}

}  // namespace ferrow::ua
