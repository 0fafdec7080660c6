#pragma once

#include <cstdint>

// Every status code the endpoint sends or checks, in one place, with the values of the published table.
namespace ferrow::ua::status {

inline constexpr std::uint32_t Good = 0x00000000;
inline constexpr std::uint32_t GoodLocalOverride = 0x00960000;
inline constexpr std::uint32_t Uncertain = 0x40000000;
inline constexpr std::uint32_t UncertainNoCommunicationLastUsableValue = 0x408F0000;
inline constexpr std::uint32_t UncertainLastUsableValue = 0x40900000;
inline constexpr std::uint32_t UncertainSensorNotAccurate = 0x40930000;
inline constexpr std::uint32_t UncertainEngineeringUnitsExceeded = 0x40940000;
inline constexpr std::uint32_t UncertainSubNormal = 0x40950000;
inline constexpr std::uint32_t Bad = 0x80000000;
inline constexpr std::uint32_t BadUnexpectedError = 0x80010000;
inline constexpr std::uint32_t BadInternalError = 0x80020000;
inline constexpr std::uint32_t BadCommunicationError = 0x80050000;
inline constexpr std::uint32_t BadEncodingError = 0x80060000;
inline constexpr std::uint32_t BadDecodingError = 0x80070000;
inline constexpr std::uint32_t BadEncodingLimitsExceeded = 0x80080000;
inline constexpr std::uint32_t BadRequestTooLarge = 0x80B80000;
inline constexpr std::uint32_t BadResponseTooLarge = 0x80B90000;
inline constexpr std::uint32_t BadTimeout = 0x800A0000;
inline constexpr std::uint32_t BadServiceUnsupported = 0x800B0000;
inline constexpr std::uint32_t BadShutdown = 0x800C0000;
inline constexpr std::uint32_t BadNothingToDo = 0x800F0000;
inline constexpr std::uint32_t BadTooManyOperations = 0x80100000;
inline constexpr std::uint32_t BadSecurityChecksFailed = 0x80130000;
inline constexpr std::uint32_t BadApplicationSignatureInvalid = 0x80580000;
inline constexpr std::uint32_t BadNonceInvalid = 0x80240000;
inline constexpr std::uint32_t BadUserAccessDenied = 0x801F0000;
inline constexpr std::uint32_t BadIdentityTokenInvalid = 0x80200000;
inline constexpr std::uint32_t BadIdentityTokenRejected = 0x80210000;
inline constexpr std::uint32_t BadSecureChannelIdInvalid = 0x80220000;
inline constexpr std::uint32_t BadSessionIdInvalid = 0x80250000;
inline constexpr std::uint32_t BadSessionClosed = 0x80260000;
inline constexpr std::uint32_t BadSessionNotActivated = 0x80270000;
inline constexpr std::uint32_t BadSubscriptionIdInvalid = 0x80280000;
inline constexpr std::uint32_t BadRequestHeaderInvalid = 0x802A0000;
inline constexpr std::uint32_t BadTimestampsToReturnInvalid = 0x802B0000;
inline constexpr std::uint32_t BadRequestCancelledByClient = 0x802C0000;
inline constexpr std::uint32_t BadNoCommunication = 0x80310000;
inline constexpr std::uint32_t BadWaitingForInitialData = 0x80320000;
inline constexpr std::uint32_t BadNodeIdInvalid = 0x80330000;
inline constexpr std::uint32_t BadNodeIdUnknown = 0x80340000;
inline constexpr std::uint32_t BadAttributeIdInvalid = 0x80350000;
inline constexpr std::uint32_t BadIndexRangeInvalid = 0x80360000;
inline constexpr std::uint32_t BadIndexRangeNoData = 0x80370000;
inline constexpr std::uint32_t BadDataEncodingInvalid = 0x80380000;
inline constexpr std::uint32_t BadDataEncodingUnsupported = 0x80390000;
inline constexpr std::uint32_t BadNotReadable = 0x803A0000;
inline constexpr std::uint32_t BadNotWritable = 0x803B0000;
inline constexpr std::uint32_t BadMonitoringModeInvalid = 0x80410000;
inline constexpr std::uint32_t BadMonitoredItemIdInvalid = 0x80420000;
inline constexpr std::uint32_t BadMonitoredItemFilterInvalid = 0x80430000;
inline constexpr std::uint32_t BadMonitoredItemFilterUnsupported = 0x80440000;
inline constexpr std::uint32_t BadFilterNotAllowed = 0x80450000;
inline constexpr std::uint32_t BadContinuationPointInvalid = 0x804A0000;
inline constexpr std::uint32_t BadNoContinuationPoints = 0x804B0000;
inline constexpr std::uint32_t BadReferenceTypeIdInvalid = 0x804C0000;
inline constexpr std::uint32_t BadBrowseDirectionInvalid = 0x804D0000;
inline constexpr std::uint32_t BadSecurityModeRejected = 0x80540000;
inline constexpr std::uint32_t BadSecurityPolicyRejected = 0x80550000;
inline constexpr std::uint32_t BadTooManySessions = 0x80560000;
inline constexpr std::uint32_t BadBrowseNameInvalid = 0x80600000;
inline constexpr std::uint32_t BadViewIdUnknown = 0x806B0000;
inline constexpr std::uint32_t BadNoMatch = 0x806F0000;
inline constexpr std::uint32_t BadMaxAgeInvalid = 0x80700000;
inline constexpr std::uint32_t BadWriteNotSupported = 0x80730000;
inline constexpr std::uint32_t BadTypeMismatch = 0x80740000;
inline constexpr std::uint32_t BadTooManySubscriptions = 0x80770000;
inline constexpr std::uint32_t BadTooManyPublishRequests = 0x80780000;
inline constexpr std::uint32_t BadNoSubscription = 0x80790000;
inline constexpr std::uint32_t BadSequenceNumberUnknown = 0x807A0000;
inline constexpr std::uint32_t BadMessageNotAvailable = 0x807B0000;
inline constexpr std::uint32_t BadTcpServerTooBusy = 0x807D0000;
inline constexpr std::uint32_t BadTcpMessageTypeInvalid = 0x807E0000;
inline constexpr std::uint32_t BadTcpSecureChannelUnknown = 0x807F0000;
inline constexpr std::uint32_t BadTcpMessageTooLarge = 0x80800000;
inline constexpr std::uint32_t BadTcpInternalError = 0x80820000;
inline constexpr std::uint32_t BadTcpEndpointUrlInvalid = 0x80830000;
inline constexpr std::uint32_t BadRequestTimeout = 0x80850000;
inline constexpr std::uint32_t BadSecureChannelClosed = 0x80860000;
inline constexpr std::uint32_t BadSecureChannelTokenUnknown = 0x80870000;
inline constexpr std::uint32_t BadSequenceNumberInvalid = 0x80880000;
inline constexpr std::uint32_t BadConfigurationError = 0x80890000;
inline constexpr std::uint32_t BadNotConnected = 0x808A0000;
inline constexpr std::uint32_t BadDeviceFailure = 0x808B0000;
inline constexpr std::uint32_t BadSensorFailure = 0x808C0000;
inline constexpr std::uint32_t BadOutOfService = 0x808D0000;
inline constexpr std::uint32_t BadDeadbandFilterInvalid = 0x808E0000;
inline constexpr std::uint32_t BadProtocolVersionUnsupported = 0x80BE0000;
inline constexpr std::uint32_t BadTooManyMonitoredItems = 0x80DB0000;
inline constexpr std::uint32_t BadCertificateInvalid = 0x80120000;
inline constexpr std::uint32_t BadCertificateTimeInvalid = 0x80140000;
inline constexpr std::uint32_t BadCertificateIssuerTimeInvalid = 0x80150000;
inline constexpr std::uint32_t BadCertificateHostNameInvalid = 0x80160000;
inline constexpr std::uint32_t BadCertificateUriInvalid = 0x80170000;
inline constexpr std::uint32_t BadCertificateUseNotAllowed = 0x80180000;
inline constexpr std::uint32_t BadCertificateIssuerUseNotAllowed = 0x80190000;
inline constexpr std::uint32_t BadCertificateUntrusted = 0x801A0000;
inline constexpr std::uint32_t BadCertificateRevocationUnknown = 0x801B0000;
inline constexpr std::uint32_t BadCertificateIssuerRevocationUnknown = 0x801C0000;
inline constexpr std::uint32_t BadCertificateRevoked = 0x801D0000;
inline constexpr std::uint32_t BadCertificateIssuerRevoked = 0x801E0000;
inline constexpr std::uint32_t BadCertificateChainIncomplete = 0x810D0000;

// The info bits of a data value's status.
inline constexpr std::uint32_t kInfoTypeDataValue = 0x0400;
inline constexpr std::uint32_t kOverflowBit = 0x0080;

constexpr bool isBad(std::uint32_t code) { return (code & 0x80000000u) != 0; }
constexpr bool isGood(std::uint32_t code) { return (code & 0xC0000000u) == 0; }

}  // namespace ferrow::ua::status
