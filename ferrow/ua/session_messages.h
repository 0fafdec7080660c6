#pragma once

#include "ferrow/ua/common_messages.h"

// The session service set's requests and responses, and the identity tokens it accepts.
namespace ferrow::ua {

struct SignatureData {
    std::string algorithm;
    ByteString signature;
};
template <class Io>
void fields(Io& io, SignatureData& v) {
    io(v.algorithm), io(v.signature);
}

struct SignedSoftwareCertificate {
    ByteString certificateData, signature;
};
template <class Io>
void fields(Io& io, SignedSoftwareCertificate& v) {
    io(v.certificateData), io(v.signature);
}

struct CreateSessionRequest {
    RequestHeader requestHeader;
    ApplicationDescription clientDescription;
    std::string serverUri, endpointUrl, sessionName;
    ByteString clientNonce, clientCertificate;
    double requestedSessionTimeout = 0;
    std::uint32_t maxResponseMessageSize = 0;
};
template <class Io>
void fields(Io& io, CreateSessionRequest& v) {
    io(v.requestHeader), io(v.clientDescription), io(v.serverUri), io(v.endpointUrl), io(v.sessionName);
    io(v.clientNonce), io(v.clientCertificate), io(v.requestedSessionTimeout), io(v.maxResponseMessageSize);
}

struct CreateSessionResponse {
    ResponseHeader responseHeader;
    NodeId sessionId, authenticationToken;
    double revisedSessionTimeout = 0;
    ByteString serverNonce, serverCertificate;
    std::vector<EndpointDescription> serverEndpoints;
    std::vector<SignedSoftwareCertificate> serverSoftwareCertificates;
    SignatureData serverSignature;
    std::uint32_t maxRequestMessageSize = 0;
};
template <class Io>
void fields(Io& io, CreateSessionResponse& v) {
    io(v.responseHeader), io(v.sessionId), io(v.authenticationToken), io(v.revisedSessionTimeout);
    io(v.serverNonce), io(v.serverCertificate), io(v.serverEndpoints), io(v.serverSoftwareCertificates);
    io(v.serverSignature), io(v.maxRequestMessageSize);
}

struct ActivateSessionRequest {
    RequestHeader requestHeader;
    SignatureData clientSignature;
    std::vector<SignedSoftwareCertificate> clientSoftwareCertificates;
    std::vector<std::string> localeIds;
    ExtensionObject userIdentityToken;
    SignatureData userTokenSignature;
};
template <class Io>
void fields(Io& io, ActivateSessionRequest& v) {
    io(v.requestHeader), io(v.clientSignature), io(v.clientSoftwareCertificates), io(v.localeIds);
    io(v.userIdentityToken), io(v.userTokenSignature);
}

struct ActivateSessionResponse {
    ResponseHeader responseHeader;
    ByteString serverNonce;
    std::vector<StatusCode> results;
    std::vector<DiagnosticInfo> diagnosticInfos;
};
template <class Io>
void fields(Io& io, ActivateSessionResponse& v) {
    io(v.responseHeader), io(v.serverNonce), io(v.results), io(v.diagnosticInfos);
}

struct CloseSessionRequest {
    RequestHeader requestHeader;
    bool deleteSubscriptions = true;
};
template <class Io>
void fields(Io& io, CloseSessionRequest& v) {
    io(v.requestHeader), io(v.deleteSubscriptions);
}

struct CancelRequest {
    RequestHeader requestHeader;
    std::uint32_t requestHandle = 0;
};
template <class Io>
void fields(Io& io, CancelRequest& v) {
    io(v.requestHeader), io(v.requestHandle);
}

struct CancelResponse {
    ResponseHeader responseHeader;
    std::uint32_t cancelCount = 0;
};
template <class Io>
void fields(Io& io, CancelResponse& v) {
    io(v.responseHeader), io(v.cancelCount);
}

struct AnonymousIdentityToken {
    std::string policyId;
};
template <class Io>
void fields(Io& io, AnonymousIdentityToken& v) {
    io(v.policyId);
}

struct UserNameIdentityToken {
    std::string policyId, userName;
    ByteString password;
    std::string encryptionAlgorithm;
};
template <class Io>
void fields(Io& io, UserNameIdentityToken& v) {
    io(v.policyId), io(v.userName), io(v.password), io(v.encryptionAlgorithm);
}

// A response that is its header alone (CloseSession, UnregisterNodes, CloseSecureChannel).
struct HeaderOnlyResponse {
    ResponseHeader responseHeader;
};
template <class Io>
void fields(Io& io, HeaderOnlyResponse& v) {
    io(v.responseHeader);
}

}  // namespace ferrow::ua
