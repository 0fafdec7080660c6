#include "ferrow/opc/error_text.h"

namespace ferrow::opc {

using namespace platform::com;

namespace {
struct ErrorText {
    HRESULT code;
    const char* text;
};

// The three codes the OPC foundation added later are known here both by their published numbers and
// by the numbers this table has always used, so that a client asking with either gets the text.
constexpr ErrorText kTexts[] = {
    {OPC_E_INVALIDHANDLE, "Invalid Server Handle."},
    {OPC_E_BADTYPE, "Server cannot convert data to the requested type."},
    {OPC_E_PUBLIC, "Illegal operation on a Public Group."},
    {OPC_E_BADRIGHTS, "Access Rights do not allow this operation."},
    {OPC_E_UNKNOWNITEMID, "This ItemID is not known."},
    {OPC_E_INVALIDITEMID, "This ItemID is not valid."},
    {OPC_E_INVALIDFILTER, "The filter string is not valid."},
    {OPC_E_UNKNOWNPATH, "The Item's access path is not known."},
    {OPC_E_RANGE, "The value is out of range."},
    {OPC_E_DUPLICATENAME, "Duplicate group name is not allowed."},
    {OPC_S_UNSUPPORTEDRATE, "The requested data rate is not supported."},
    {OPC_S_CLAMP, "The value was written but its output was clamped."},
    {hr(0x00040200), "Illegal operation while the object is in use."},
    {OPC_S_INUSE, "Illegal operation while the object is in use."},
    {hr(0xC0040201), "The configuration file is an invalid format."},
    {OPC_E_INVALIDCONFIGFILE, "The configuration file is an invalid format."},
    {hr(0xC0040202), "The object could not be found."},
    {OPC_E_NOTFOUND, "The object could not be found."},
    {kDeviceNotConnected, "The device is not connected."},
    {kDeviceNoAnswer, "The device did not answer."},
    {kDeviceRefused, "The device refused the value."},
};
}  // namespace

const char* opcErrorText(HRESULT code) {
    for (const auto& entry : kTexts)
        if (entry.code == code) return entry.text;
    return nullptr;
}

}  // namespace ferrow::opc
