#pragma once

#include <QString>

namespace pavane {

// Whether `address` looks like a dotted device address: three dots in order, something after the
// third and no fourth. Only the dots are checked; the parts between them are the device's business.
bool hasFourDottedParts(const QString& address);

}  // namespace pavane
