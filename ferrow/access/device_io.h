#pragma once

#include "ferrow/model/tag.h"
#include "platform/com/variant.h"

namespace ferrow::access {

// The outcome of one item's write to its device.
enum class WriteResult {
    Written,        // the device took the value; the tag holds exactly what was sent
    NotWritable,    // an input, or a tag of no device: nothing sent
    Unconvertible,  // the value has no form in the tag's type: nothing sent
    OutOfRange,     // the value is outside the tag's type: nothing sent
    NotConnected,   // the device is not connected: nothing sent
    NoAnswer,       // the exchange failed (the connection broke or the device kept silent)
    Refused,        // the device answered with a refusal
};

// Sends `value`, converted to the tag's type, to the tag's device, and only that: a value pushed into
// the tag meanwhile changes neither what is sent nor what the tag ends with. On success the tag holds
// the sent value with good quality and the time of the write; on any failure it keeps its value and
// quality. Two writes to one device never cross (the device link's write lock). Waits for the device
// exchange; call holding no lock of a front end.
WriteResult WriteToDevice(OTag& tag, const platform::com::VARIANT& value);

// Asks the tag's device for its value and stores it in the tag. A device that gives none marks all its
// tags with a communication failure. False then.
bool ReadFromDevice(OTag& tag);

}  // namespace ferrow::access
