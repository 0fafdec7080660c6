#pragma once

#include <QString>
#include <memory>

#include "ferrow/app/ua_options.h"

namespace ferrow {

class CDoc;
namespace ua {
class UaEndpoint;
}
namespace ua_bridge {
class AccessDataSource;
}

// Ferrow's OPC UA endpoint serving the document through the data-access core, for as long as the
// application runs. Says on standard error, once, where it listens or why it does not.
class UaService {
  public:
    UaService(CDoc& doc, UaOptions options);
    // Stops the endpoint before its data source goes; the document must still be there.
    ~UaService();
    UaService(const UaService&) = delete;
    UaService& operator=(const UaService&) = delete;

    // Listens unless switched off. The text for the status bar when the endpoint could not start (a
    // port already taken, ...), otherwise empty; Ferrow goes on either way.
    QString start();
    // Empty while not listening.
    QString endpointUrl() const;
    quint16 port() const;
    // Whether UA clients hold tags (see AccessDataSource::holdsTags).
    bool holdsTags() const;

  private:
    CDoc& doc_;
    UaOptions options_;
    std::unique_ptr<ua_bridge::AccessDataSource> source_;
    std::unique_ptr<ua::UaEndpoint> endpoint_;
};

}  // namespace ferrow
