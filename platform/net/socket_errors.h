#pragma once

#include <QAbstractSocket>
#include <QString>

namespace platform::net {

// Error numbers of the socket controls: the classic Winsock codes the programs' messages were written
// around, plus the control's own codes for calls made in the wrong state.
namespace sckerr {
inline constexpr int AddressInUse = 10048;
inline constexpr int AddressNotAvailable = 10049;
inline constexpr int NetworkUnreachable = 10051;
inline constexpr int ConnectionAborted = 10053;
inline constexpr int ConnectionReset = 10054;
inline constexpr int TimedOut = 10060;
inline constexpr int ConnectionRefused = 10061;
inline constexpr int HostUnreachable = 10065;
inline constexpr int HostNotFound = 11001;
inline constexpr int MessageTooLarge = 10040;
inline constexpr int Unsupported = 10045;
inline constexpr int WrongState = 40006;
inline constexpr int InvalidOperation = 40020;
inline constexpr int Unknown = 40026;
}  // namespace sckerr

struct SocketError {
    int number = 0;
    QString description;
};

// The number and a short English description for a Qt socket error.
SocketError socketErrorFor(QAbstractSocket::SocketError error, const QString& qtDescription = {});
// The same for a system error number (errno) of a socket call.
SocketError socketErrorForErrno(int errorNumber);
QString describeSocketError(int number);

}  // namespace platform::net
