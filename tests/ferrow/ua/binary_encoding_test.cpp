// UA Binary: every built-in type written and read back, the exact bytes of the compact forms, and the
// decoder refusing truncated input, lengths beyond the message and nesting beyond its limit.
#include <gtest/gtest.h>

#include "ferrow/ua/binary_decoder.h"
#include "ferrow/ua/binary_encoder.h"
#include "ferrow/ua/node_ids.h"
#include "ferrow/ua/status_codes.h"
#include "ferrow/ua/subscription_messages.h"

namespace ferrow::ua {
namespace {

template <class T>
T roundTrip(const T& value) {
    BinaryEncoder encoder;
    encoder(value);
    BinaryDecoder decoder(encoder.bytes());
    T back{};
    decoder(back);
    decoder.expectEnd();
    return back;
}

template <class T>
std::string bytesOf(const T& value) {
    BinaryEncoder encoder;
    encoder(value);
    return encoder.take();
}

std::string hex(std::string_view bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) out += {digits[c >> 4], digits[c & 15]};
    return out;
}

std::uint32_t decodeFailure(std::string_view bytes, auto target) {
    try {
        BinaryDecoder decoder(bytes);
        decoder(target);
        decoder.expectEnd();
    } catch (const DecodeError& e) {
        return e.status();
    }
    return status::Good;
}

std::vector<Variant> oneVariantOfEveryBuiltinType() {
    Guid guid{0x72962B91, 0xFA75, 0x4AE6, {0x8D, 0x28, 0xB4, 0x04, 0xDC, 0x7D, 0xAF, 0x63}};
    DiagnosticInfo diagnostic;
    diagnostic.symbolicId = 3;
    diagnostic.additionalInfo = "more";
    diagnostic.inner = std::make_shared<DiagnosticInfo>();
    diagnostic.inner->innerStatusCode = StatusCode{status::BadNodeIdUnknown};
    auto nestedValue = std::make_shared<DataValue>();
    nestedValue->value = Variant::of(std::int32_t{-5});
    nestedValue->status = StatusCode{status::UncertainSubNormal};
    ExtensionObject extension;
    extension.typeId = NodeId::numericId(id::DataChangeFilter);
    extension.body = ExtensionObject::Body::Binary;
    extension.bytes = std::string("\x01\x00\x00\x00", 4);
    return {
        Variant(),
        Variant::of(true),
        Variant::of(std::int8_t{-128}),
        Variant::of(std::uint8_t{255}),
        Variant::of(std::int16_t{-32768}),
        Variant::of(std::uint16_t{65535}),
        Variant::of(std::int32_t{-2147483647 - 1}),
        Variant::of(std::uint32_t{4294967295u}),
        Variant::of(std::int64_t{-1234567890123456789LL}),
        Variant::of(std::uint64_t{18446744073709551615ULL}),
        Variant::of(1.5f),
        Variant::of(-2.25e300),
        Variant::of(std::string("Zähler")),
        Variant::of(DateTime{133000000000000000LL}),
        Variant::of(guid),
        Variant::of(ByteString(std::string("\0\1\2", 3))),
        Variant::of(XmlElement{"<a/>"}),
        Variant::of(NodeId::stringId(2, "Device1.Counter")),
        Variant::of(ExpandedNodeId{NodeId(0, 70000), "urn:x", 3}),
        Variant::of(StatusCode{status::BadTypeMismatch}),
        Variant::of(QualifiedName{2, "Counter"}),
        Variant::of(LocalizedText{"en", "Ferrow"}),
        Variant::of(extension),
        Variant::of(nestedValue),
        Variant::of(std::make_shared<Variant>(Variant::of(7.0))),
        Variant::of(std::make_shared<DiagnosticInfo>(diagnostic)),
    };
}

TEST(UaBinaryEncoding, everyBuiltinTypeSurvivesARoundTripAsScalarAndAsArray) {
    const auto variants = oneVariantOfEveryBuiltinType();
    ASSERT_EQ(variants.size(), std::size_t(kBuiltinTypeCount));
    for (std::size_t i = 0; i < variants.size(); ++i) {
        const Variant& scalar = variants[i];
        EXPECT_EQ(int(scalar.type), int(i));
        EXPECT_EQ(roundTrip(scalar), scalar) << "type " << i;
        Variant array = scalar;
        array.isArray = true;
        array.values.push_back(array.values.empty() ? Scalar() : array.values.front());
        if (array.type == BuiltinType::Null) array.values.clear();
        EXPECT_EQ(roundTrip(array), array) << "array of type " << i;
    }
}

TEST(UaBinaryEncoding, matrixKeepsItsDimensionsAndRefusesDimensionsThatDoNotMatch) {
    Variant matrix = Variant::arrayOf(std::vector<std::int16_t>{1, 2, 3, 4, 5, 6});
    matrix.dimensions = {2, 3};
    EXPECT_EQ(roundTrip(matrix), matrix);
    matrix.dimensions = {4, 2};
    EXPECT_EQ(decodeFailure(bytesOf(matrix), Variant()), status::BadDecodingError);
}

TEST(UaBinaryEncoding, nodeIdsUseTheirCompactFormsAndReadBackFromEveryForm) {
    EXPECT_EQ(hex(bytesOf(NodeId::numericId(85))), "0055");
    EXPECT_EQ(hex(bytesOf(NodeId(2, 2253))), "0102CD08");
    EXPECT_EQ(hex(bytesOf(NodeId(3, 70000))), "02030070110100");
    EXPECT_EQ(hex(bytesOf(NodeId::stringId(2, "A.B"))), "03020003000000412E42");
    NodeId guidId;
    guidId.ns = 1;
    guidId.kind = NodeId::Kind::Guid;
    guidId.guid = Guid{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    for (const NodeId& id : {NodeId::numericId(0), NodeId(0, 300), NodeId(300, 1), NodeId(1, 1u << 20),
                             NodeId::stringId(9, ""), NodeId::opaqueId(4, std::string("\xFF\0", 2)), guidId})
        EXPECT_EQ(roundTrip(id), id) << id.toString();
    // A NodeId where a plain one belongs may not carry the ExpandedNodeId flags.
    EXPECT_EQ(decodeFailure(std::string("\x80\x05\x00\x00\x00\x00", 6), NodeId()), status::BadDecodingError);
    EXPECT_EQ(decodeFailure(std::string("\x06\x00", 2), NodeId()), status::BadDecodingError);
}

TEST(UaBinaryEncoding, nullAndEmptyByteStringsStayApartAndStringsAreLengthPrefixed) {
    EXPECT_EQ(hex(bytesOf(ByteString())), "FFFFFFFF");
    EXPECT_EQ(hex(bytesOf(ByteString(""))), "00000000");
    EXPECT_TRUE(roundTrip(ByteString()).isNull);
    EXPECT_FALSE(roundTrip(ByteString("")).isNull);
    EXPECT_EQ(hex(bytesOf(std::string("ab"))), "020000006162");
    EXPECT_EQ(roundTrip(std::string()), "");
}

TEST(UaBinaryEncoding, dataValueAndLocalizedTextCarryOnlyTheFieldsThatAreSet) {
    DataValue value;
    value.value = Variant::of(true);
    value.sourceTimestamp = DateTime{1};
    value.sourcePicoseconds = 9;
    EXPECT_EQ(hex(bytesOf(value)), "15010101000000000000000900");
    EXPECT_EQ(roundTrip(value), value);
    DataValue everything = value;
    everything.status = StatusCode{status::GoodLocalOverride};
    everything.serverTimestamp = DateTime{2};
    everything.serverPicoseconds = 10;
    EXPECT_EQ(roundTrip(everything), everything);
    EXPECT_EQ(hex(bytesOf(LocalizedText{std::nullopt, "x"})), "020100000078");
    EXPECT_EQ(roundTrip(LocalizedText{}), LocalizedText{});
}

TEST(UaBinaryEncoding, structuresOfTheServicesRoundTrip) {
    CreateMonitoredItemsRequest request;
    request.requestHeader.authenticationToken = NodeId::opaqueId(0, "token");
    request.requestHeader.requestHandle = 42;
    request.subscriptionId = 7;
    request.timestampsToReturn = TimestampsToReturn::Neither;
    MonitoredItemCreateRequest item;
    item.itemToMonitor.nodeId = NodeId::stringId(2, "Device1.Counter");
    item.requestedParameters.filter =
        wrapExtension(id::DataChangeFilter, DataChangeFilter{DataChangeTrigger::StatusValue, 1, 2.5});
    request.itemsToCreate = {item, item};
    const auto back = roundTrip(request);
    EXPECT_EQ(back.requestHeader.authenticationToken, request.requestHeader.authenticationToken);
    EXPECT_EQ(back.requestHeader.requestHandle, 42u);
    ASSERT_EQ(back.itemsToCreate.size(), 2u);
    EXPECT_EQ(back.itemsToCreate[1].itemToMonitor.nodeId, item.itemToMonitor.nodeId);
    EXPECT_EQ(back.itemsToCreate[1].requestedParameters.filter, item.requestedParameters.filter);
    EXPECT_EQ(back.timestampsToReturn, TimestampsToReturn::Neither);
}

TEST(UaBinaryEncoding, everyTruncationOfAValidEncodingIsADecodingError) {
    ReadRequest request;
    request.nodesToRead.resize(2);
    request.nodesToRead[1].nodeId = NodeId::stringId(2, "Device1.Counter");
    request.nodesToRead[1].dataEncoding = QualifiedName{0, "Default Binary"};
    const std::string whole = bytesOf(request);
    for (std::size_t length = 0; length < whole.size(); ++length)
        EXPECT_EQ(decodeFailure(std::string_view(whole).substr(0, length), ReadRequest()),
                  status::BadDecodingError)
            << "cut at " << length;
    EXPECT_EQ(decodeFailure(whole + "x", ReadRequest()), status::BadDecodingError);
    for (const Variant& v : oneVariantOfEveryBuiltinType()) {
        const std::string bytes = bytesOf(v);
        for (std::size_t length = 0; length < bytes.size(); ++length)
            EXPECT_NE(decodeFailure(std::string_view(bytes).substr(0, length), Variant()), status::Good);
    }
}

TEST(UaBinaryEncoding, lengthsBeyondTheMessageAreRefusedBeforeAnythingIsAllocated) {
    // A string, an array and a Variant array that claim two billion elements in a message of a few bytes.
    EXPECT_EQ(decodeFailure(std::string("\xFF\xFF\xFF\x7F"
                                        "abc",
                                        7),
                            std::string()),
              status::BadDecodingError);
    EXPECT_EQ(decodeFailure(std::string("\xFF\xFF\xFF\x7F\x00", 5), std::vector<NodeId>()),
              status::BadDecodingError);
    EXPECT_EQ(decodeFailure(std::string("\x86\xFF\xFF\xFF\x7F", 5), Variant()), status::BadDecodingError);
    EXPECT_EQ(decodeFailure(std::string("\xFE\xFF\xFF\xFF", 4), std::vector<std::uint8_t>()),
              status::BadDecodingError);
    // An array that fits the message but not the decoder's limit.
    std::string many("\xA0\x86\x01\x00", 4);  // 100 000 elements
    many += std::string(100000, '\x01');
    BinaryDecoder limited(many, DecodeLimits{1000, 300000, 32});
    std::vector<std::uint8_t> flags;
    try {
        limited(flags);
        FAIL() << "an array beyond the limit was read";
    } catch (const DecodeError& e) {
        EXPECT_EQ(e.status(), status::BadEncodingLimitsExceeded);
    }
}

TEST(UaBinaryEncoding, variantsNestedBeyondTheLimitAreRefused) {
    std::string deep;
    for (int i = 0; i < 100; ++i) deep += '\x18';  // a Variant holding a Variant holding ...
    deep += '\x00';
    EXPECT_EQ(decodeFailure(deep, Variant()), status::BadEncodingLimitsExceeded);
    EXPECT_EQ(decodeFailure(std::string("\x1A", 1), Variant()), status::BadDecodingError);  // type 26
}

}  // namespace
}  // namespace ferrow::ua
