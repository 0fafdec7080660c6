#pragma once

#include <cstdint>
#include <string>

namespace ferrow {

// The scaling record each tag owns. Nothing changes these values or applies them to a value; the OPC
// side reads the engineering range of tags marked as scaled.
struct OAnalogData {
    double m_dReserved = 0;
    double m_dEuLow = 0;
    double m_dEuHigh = 10;
    double m_dRawLow = 0;
    double m_dRawHigh = 1000;
    std::string m_strUnits;
    double m_dDeadband[2] = {0, 0};
    std::uint16_t m_wReserved = 0;

    std::string Text() const;
};

}  // namespace ferrow
