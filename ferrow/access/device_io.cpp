#include "ferrow/access/device_io.h"

#include <mutex>

#include "ferrow/devlink/device_link.h"
#include "ferrow/devlink/hex_value.h"
#include "ferrow/devlink/tag_lists.h"
#include "ferrow/model/device.h"
#include "ferrow/model/locks.h"

namespace ferrow::access {

using namespace platform::com;

namespace {

// The client's value in the form the device link carries for the tag: its canonical type, a double as
// the device's 32-bit float.
WriteResult convertForDevice(const OTag& tag, const VARIANT& value, VARIANT* out) {
    HRESULT converted = VariantChangeType(out, &value, 0, tag.m_vtCanonical);
    if (SUCCEEDED(converted) && out->vt == VT_R8) converted = VariantChangeType(out, out, 0, VT_R4);
    if (SUCCEEDED(converted)) return WriteResult::Written;
    return converted == DISP_E_OVERFLOW ? WriteResult::OutOfRange : WriteResult::Unconvertible;
}

}  // namespace

WriteResult WriteToDevice(OTag& tag, const VARIANT& value) {
    auto* output = dynamic_cast<OqnTag*>(&tag);
    ODevice* device = tag.m_pGroup ? tag.m_pGroup->GetDevice() : nullptr;
    DeviceLink* link = device ? FindLink(*device) : nullptr;
    if (!output || !output->m_bOutput || !link) return WriteResult::NotWritable;

    VARIANT sent;
    VariantInit(&sent);
    WriteResult result = convertForDevice(tag, value, &sent);
    if (result == WriteResult::Written && !HexFromValue(sent)) result = WriteResult::Unconvertible;
    if (result != WriteResult::Written) {
        VariantClear(&sent);
        return result;
    }
    {
        std::lock_guard write(link->writeLock());
        if (!link->IsConnected()) {
            result = WriteResult::NotConnected;
        } else {
            OPortRequest request;
            const bool exchanged =
                request.SetCommand("setdp/" + tag.m_strName + "/" + *HexFromValue(sent) + "\r\n") &&
                link->m_pCommandPort->Execute(request);
            if (!exchanged)
                result = WriteResult::NoAnswer;
            else if (request.m_szReply[0] == '\0')
                result = WriteResult::Refused;
        }
        if (result == WriteResult::Written) {
            // Stored before the write lock goes: a second write to the device cannot come between
            // what the device holds and what the tag shows.
            std::lock_guard values(valueLock());
            VariantClear(&tag.m_value);
            tag.m_value = sent;
            VariantInit(&sent);
            tag.m_wQuality = kQualityGood;
            tag.m_ftTimestamp = currentFileTime();
        }
    }
    VariantClear(&sent);
    return result;
}

bool ReadFromDevice(OTag& tag) { return ReadTags(true, {&tag}); }

}  // namespace ferrow::access
