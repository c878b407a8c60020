#pragma once

#include <termios.h>

#include <iterator>

#include "core/SerialSpeeds.h"

// The terminal interface's codes of the line speeds, in the order of
// Core::SerialSpeeds: for the library's serial port and velmor-sim's.
namespace Link {

inline constexpr speed_t SpeedCodes[] = {B1200,  B2400,   B4800,   B9600,   B19200, B38400,
                                         B57600, B115200, B230400, B460800, B921600};
static_assert(std::size(SpeedCodes) == std::size(Core::SerialSpeeds));

// The code of Baud, B0 when it is not one of the speeds.
inline speed_t SpeedCode(int Baud)
{
    for (size_t I = 0; I < std::size(SpeedCodes); ++I)
        if (Core::SerialSpeeds[I] == Baud)
            return SpeedCodes[I];
    return B0;
}

} // namespace Link
