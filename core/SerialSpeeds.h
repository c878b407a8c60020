#pragma once

#include <string>

// The line speeds a serial link may run at: the link setting, the library's
// serial port, velmor-sim, velmor-gateway and the link dialog offer these.
namespace Core {

inline constexpr int SerialSpeeds[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};

inline bool KnownSpeed(int Baud)
{
    for (int S : SerialSpeeds)
        if (S == Baud)
            return true;
    return false;
}

// The speeds as a person reads them: "1200, 2400, ..., 921600", the last one
// joined by LastJoin instead of ", " (e.g. " or ").
std::string SerialSpeedList(const char* LastJoin = ", ");

} // namespace Core
