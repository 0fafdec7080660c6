#pragma once

#include <QByteArray>
#include <QString>
#include <string>

// The baseline: the copy protocol spoken with plain blocking POSIX sockets and nothing else, one block
// (upload) or one batch (download) in flight, as the protocol allows.
namespace rawclient {

// Copies `pcPath` to `devicePath`; false with `error` on any deviation from the protocol.
bool upload(const std::string& address, const QString& pcPath, const QByteArray& devicePath,
            std::string* error);
bool download(const std::string& address, const QByteArray& devicePath, const QString& pcPath,
              std::string* error);

}  // namespace rawclient
