#include "pavane/address_check.h"

namespace pavane {

bool hasFourDottedParts(const QString& address) {
    qsizetype dot = -1;
    for (int i = 0; i < 3; ++i) {
        dot = address.indexOf(QLatin1Char('.'), dot + 1);
        if (dot < 0) return false;
    }
    if (dot + 1 >= address.size()) return false;
    return address.indexOf(QLatin1Char('.'), dot + 1) < 0;
}

}  // namespace pavane
