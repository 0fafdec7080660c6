#include "ferrow/app/opc_binding.h"

#include "ferrow/opc/com_server.h"

namespace ferrow {

ComServerHooks opcServerHooks() {
    return {opc::RegisterServerClassObject, opc::NotifyServersShutdown, opc::DisconnectAndDeleteServers,
            opc::RevokeServerClassObject};
}

}  // namespace ferrow
