#include "ferrow/ua/binary_encoder.h"

namespace ferrow::ua {

void BinaryEncoder::writeRaw(const void* data, std::size_t size) {
    out_.append(static_cast<const char*>(data), size);
}

void BinaryEncoder::writeBytes(const std::string& bytes, bool isNull) {
    if (isNull) {
        (*this)(std::int32_t{-1});
        return;
    }
    (*this)(static_cast<std::int32_t>(bytes.size()));
    out_ += bytes;
}

void BinaryEncoder::write(const std::string& value) { writeBytes(value, false); }

void BinaryEncoder::write(const Guid& value) {
    writeRaw(&value.data1, 4);
    writeRaw(&value.data2, 2);
    writeRaw(&value.data3, 2);
    writeRaw(value.data4.data(), 8);
}

void BinaryEncoder::write(const ByteString& value) { writeBytes(value.bytes, value.isNull); }

void BinaryEncoder::write(const XmlElement& value) { writeBytes(value.text, false); }

void BinaryEncoder::writeNodeIdWithFlags(const NodeId& value, std::uint8_t flags) {
    switch (value.kind) {
        case NodeId::Kind::Numeric:
            if (value.ns == 0 && value.numeric <= 0xFF) {
                (*this)(std::uint8_t(0x00 | flags));
                (*this)(static_cast<std::uint8_t>(value.numeric));
            } else if (value.ns <= 0xFF && value.numeric <= 0xFFFF) {
                (*this)(std::uint8_t(0x01 | flags));
                (*this)(static_cast<std::uint8_t>(value.ns));
                (*this)(static_cast<std::uint16_t>(value.numeric));
            } else {
                (*this)(std::uint8_t(0x02 | flags));
                (*this)(value.ns);
                (*this)(value.numeric);
            }
            return;
        case NodeId::Kind::String:
            (*this)(std::uint8_t(0x03 | flags));
            (*this)(value.ns);
            write(value.text);
            return;
        case NodeId::Kind::Guid:
            (*this)(std::uint8_t(0x04 | flags));
            (*this)(value.ns);
            write(value.guid);
            return;
        case NodeId::Kind::Opaque:
            (*this)(std::uint8_t(0x05 | flags));
            (*this)(value.ns);
            write(value.text);
            return;
    }
}

void BinaryEncoder::write(const NodeId& value) { writeNodeIdWithFlags(value, 0); }

void BinaryEncoder::write(const ExpandedNodeId& value) {
    const std::uint8_t flags = (value.namespaceUri.empty() ? 0 : 0x80) | (value.serverIndex == 0 ? 0 : 0x40);
    writeNodeIdWithFlags(value.nodeId, flags);
    if (!value.namespaceUri.empty()) write(value.namespaceUri);
    if (value.serverIndex != 0) (*this)(value.serverIndex);
}

void BinaryEncoder::write(const QualifiedName& value) {
    (*this)(value.ns);
    write(value.name);
}

void BinaryEncoder::write(const LocalizedText& value) {
    (*this)(std::uint8_t((value.locale ? 0x01 : 0) | (value.text ? 0x02 : 0)));
    if (value.locale) write(*value.locale);
    if (value.text) write(*value.text);
}

void BinaryEncoder::write(const ExtensionObject& value) {
    write(value.typeId);
    (*this)(static_cast<std::uint8_t>(value.body));
    if (value.body != ExtensionObject::Body::None) writeBytes(value.bytes, false);
}

void BinaryEncoder::write(const DiagnosticInfo& value) {
    const std::uint8_t mask = (value.symbolicId ? 0x01 : 0) | (value.namespaceUri ? 0x02 : 0) |
                              (value.localizedText ? 0x04 : 0) | (value.locale ? 0x08 : 0) |
                              (value.additionalInfo ? 0x10 : 0) | (value.innerStatusCode ? 0x20 : 0) |
                              (value.inner ? 0x40 : 0);
    (*this)(mask);
    if (value.symbolicId) (*this)(*value.symbolicId);
    if (value.namespaceUri) (*this)(*value.namespaceUri);
    if (value.locale) (*this)(*value.locale);
    if (value.localizedText) (*this)(*value.localizedText);
    if (value.additionalInfo) write(*value.additionalInfo);
    if (value.innerStatusCode) write(*value.innerStatusCode);
    if (value.inner) write(*value.inner);
}

void BinaryEncoder::writeScalar(const Scalar& value) {
    std::visit(
        [this]<class T>(const T& v) {
            if constexpr (std::is_same_v<T, std::monostate>) {
            } else if constexpr (std::is_same_v<T, std::shared_ptr<DataValue>> ||
                                 std::is_same_v<T, std::shared_ptr<Variant>> ||
                                 std::is_same_v<T, std::shared_ptr<DiagnosticInfo>>) {
                if (v) {
                    write(*v);
                } else {
                    write(typename T::element_type{});
                }
            } else {
                (*this)(v);
            }
        },
        value);
}

void BinaryEncoder::write(const Variant& value) {
    std::uint8_t encoding = static_cast<std::uint8_t>(value.type);
    if (value.isArray) encoding |= 0x80;
    if (value.isArray && !value.dimensions.empty()) encoding |= 0x40;
    (*this)(encoding);
    if (value.isArray) {
        (*this)(static_cast<std::int32_t>(value.values.size()));
        for (const Scalar& item : value.values) writeScalar(item);
        if (!value.dimensions.empty()) (*this)(value.dimensions);
    } else if (!value.values.empty()) {
        writeScalar(value.values.front());
    }
}

void BinaryEncoder::write(const DataValue& value) {
    const std::uint8_t mask = (value.value ? 0x01 : 0) | (value.status ? 0x02 : 0) |
                              (value.sourceTimestamp ? 0x04 : 0) | (value.serverTimestamp ? 0x08 : 0) |
                              (value.sourcePicoseconds ? 0x10 : 0) | (value.serverPicoseconds ? 0x20 : 0);
    (*this)(mask);
    if (value.value) write(*value.value);
    if (value.status) write(*value.status);
    if (value.sourceTimestamp) write(*value.sourceTimestamp);
    if (value.sourcePicoseconds) (*this)(value.sourcePicoseconds);
    if (value.serverTimestamp) write(*value.serverTimestamp);
    if (value.serverPicoseconds) (*this)(value.serverPicoseconds);
}

}  // namespace ferrow::ua
