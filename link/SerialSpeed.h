#pragma once

#include <termios.h>

// The line speeds a link may run at, and their codes for the terminal
// interface: one table for the link setting, the library's serial port and
// velmor-sim's.
namespace Link {

struct SerialSpeed {
    int Baud;
    speed_t Code;
};

inline constexpr SerialSpeed SerialSpeeds[] = {
    {1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},
    {38400, B38400},   {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800},
    {921600, B921600},
};

// The code of Baud, B0 when it is not one of the speeds above.
inline speed_t SpeedCode(int Baud)
{
    for (const SerialSpeed& S : SerialSpeeds)
        if (S.Baud == Baud)
            return S.Code;
    return B0;
}

} // namespace Link
