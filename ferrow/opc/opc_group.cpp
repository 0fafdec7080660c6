#include "ferrow/opc/opc_group.h"

#include <new>

#include "ferrow/opc/object_count.h"

namespace ferrow::opc {

OpcGroup* OpcGroup::Create(std::shared_ptr<ServerCore> server) {
    return new (std::nothrow) OpcGroup(std::move(server));
}

OpcGroup::OpcGroup(std::shared_ptr<ServerCore> server)
    : ComObject(&objectCount), server_(std::move(server)) {}

void OpcGroup::Initialize(std::string name, BOOL active, DWORD requestedRate, OPCHANDLE clientHandle,
                          const LONG* timeBias, const float* percentDeadband, DWORD lcid) {
    name_ = std::move(name);
    active_ = active;
    ReviseUpdateRate(requestedRate);
    clientHandle_ = clientHandle;
    timeBias_ = timeBias ? *timeBias : 0;
    percentDeadband_ = percentDeadband ? *percentDeadband : 0.0f;
    lcid_ = lcid;
}

void OpcGroup::ReviseUpdateRate(DWORD rate) { updateRate_ = rate < kMinUpdateRate ? kMinUpdateRate : rate; }

}  // namespace ferrow::opc
