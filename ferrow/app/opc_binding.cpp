#include "ferrow/app/opc_binding.h"

#include <memory>

#include "ferrow/bus/ferrow_bus_server.h"
#include "ferrow/opc/com_server.h"

namespace ferrow {

// The session bus is served while the class object is registered: from registration to revocation, after
// the servers have been told and disconnected.
ComServerHooks opcServerHooks() {
    auto bus = std::make_shared<bus::FerrowBusServer>();
    return {[bus](std::uint32_t* cookie) {
                const platform::com::HRESULT registered = opc::RegisterServerClassObject(cookie);
                if (platform::com::SUCCEEDED(registered)) bus->Start();
                return registered;
            },
            opc::NotifyServersShutdown, opc::DisconnectAndDeleteServers,
            [bus](std::uint32_t cookie) {
                bus->Stop();
                return opc::RevokeServerClassObject(cookie);
            }};
}

}  // namespace ferrow
