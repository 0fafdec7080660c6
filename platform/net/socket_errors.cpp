#include "platform/net/socket_errors.h"

#include <cerrno>
#include <cstring>

namespace platform::net {

QString describeSocketError(int number) {
    switch (number) {
        case sckerr::AddressInUse:
            return QStringLiteral("Address in use");
        case sckerr::AddressNotAvailable:
            return QStringLiteral("Address not available from the local machine");
        case sckerr::NetworkUnreachable:
            return QStringLiteral("Network is unreachable");
        case sckerr::ConnectionAborted:
            return QStringLiteral("Connection is aborted due to timeout or other failure");
        case sckerr::ConnectionReset:
            return QStringLiteral("The connection is reset by remote side");
        case sckerr::TimedOut:
            return QStringLiteral("Attempt to connect timed out");
        case sckerr::ConnectionRefused:
            return QStringLiteral("Connection is forcefully rejected");
        case sckerr::HostUnreachable:
            return QStringLiteral("Host is unreachable");
        case sckerr::HostNotFound:
            return QStringLiteral("Authoritative answer: Host not found");
        case sckerr::MessageTooLarge:
            return QStringLiteral("Datagram is too large to fit into buffer and is truncated");
        case sckerr::Unsupported:
            return QStringLiteral("Operation is not supported");
        case sckerr::WrongState:
            return QStringLiteral(
                "Wrong protocol or connection state for the requested transaction or request");
        case sckerr::InvalidOperation:
            return QStringLiteral("Invalid operation at current state");
        default:
            return QStringLiteral("Unexpected socket error");
    }
}

SocketError socketErrorFor(QAbstractSocket::SocketError error, const QString& qtDescription) {
    int number = sckerr::Unknown;
    switch (error) {
        case QAbstractSocket::ConnectionRefusedError:
            number = sckerr::ConnectionRefused;
            break;
        case QAbstractSocket::RemoteHostClosedError:
            number = sckerr::ConnectionReset;
            break;
        case QAbstractSocket::HostNotFoundError:
            number = sckerr::HostNotFound;
            break;
        case QAbstractSocket::SocketTimeoutError:
            number = sckerr::TimedOut;
            break;
        case QAbstractSocket::NetworkError:
            number = sckerr::NetworkUnreachable;
            break;
        case QAbstractSocket::AddressInUseError:
            number = sckerr::AddressInUse;
            break;
        case QAbstractSocket::SocketAddressNotAvailableError:
            number = sckerr::AddressNotAvailable;
            break;
        case QAbstractSocket::DatagramTooLargeError:
            number = sckerr::MessageTooLarge;
            break;
        case QAbstractSocket::UnsupportedSocketOperationError:
            number = sckerr::Unsupported;
            break;
        case QAbstractSocket::OperationError:
            number = sckerr::InvalidOperation;
            break;
        default:
            break;
    }
    if (number == sckerr::Unknown && !qtDescription.isEmpty()) return {number, qtDescription};
    return {number, describeSocketError(number)};
}

SocketError socketErrorForErrno(int errorNumber) {
    int number = sckerr::Unknown;
    switch (errorNumber) {
        case EADDRINUSE:
            number = sckerr::AddressInUse;
            break;
        case EADDRNOTAVAIL:
            number = sckerr::AddressNotAvailable;
            break;
        case ENETUNREACH:
        case ENETDOWN:
            number = sckerr::NetworkUnreachable;
            break;
        case ECONNABORTED:
            number = sckerr::ConnectionAborted;
            break;
        case ECONNRESET:
            number = sckerr::ConnectionReset;
            break;
        case ETIMEDOUT:
            number = sckerr::TimedOut;
            break;
        case ECONNREFUSED:
            number = sckerr::ConnectionRefused;
            break;
        case EHOSTUNREACH:
            number = sckerr::HostUnreachable;
            break;
        case EMSGSIZE:
            number = sckerr::MessageTooLarge;
            break;
        case EOPNOTSUPP:
        case EAFNOSUPPORT:
            number = sckerr::Unsupported;
            break;
        default:
            return {number, QString::fromLocal8Bit(std::strerror(errorNumber))};
    }
    return {number, describeSocketError(number)};
}

}  // namespace platform::net
