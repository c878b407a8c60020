#pragma once

// The character framing of a serial line: 8 data bits, no, even or odd
// parity, one or two stop bits. One place for the link setting, the library's
// serial port and velmor-sim's (link/SerialFraming.h sets it on a port).
namespace Link {

enum class Parity : char { None = 'N', Even = 'E', Odd = 'O' };

// Modbus's serial default is 8E1; without parity the standard asks for two
// stop bits (8N2) unless the stop bits are given.
inline int DefaultStopBits(Parity P) { return P == Parity::None ? 2 : 1; }

// "8E1", "8N2"...
inline const char* FramingName(Parity P, int StopBits)
{
    static const char* const Names[3][2] = {{"8N1", "8N2"}, {"8E1", "8E2"}, {"8O1", "8O2"}};
    const int Row = P == Parity::None ? 0 : P == Parity::Even ? 1 : 2;
    return Names[Row][StopBits == 2 ? 1 : 0];
}

} // namespace Link
