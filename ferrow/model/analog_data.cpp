#include "ferrow/model/analog_data.h"

#include <cstdio>

namespace ferrow {

std::string OAnalogData::Text() const {
    char numbers[128];
    std::snprintf(numbers, sizeof numbers, "Scaling: input range %g to %g scales to %g to %g ", m_dRawLow,
                  m_dRawHigh, m_dEuLow, m_dEuHigh);
    return numbers + m_strUnits + "\n";
}

}  // namespace ferrow
