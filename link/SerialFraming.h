#pragma once

#include <termios.h>

#include <cerrno>

#include "linksetting/Framing.h"

// Sets a serial line's framing (linksetting/Framing.h) on a port.
namespace Link {

// Raw 8-bit characters with the given parity and stop bits, the receiver on,
// modem lines and flow control off, and a read that returns once one byte is
// in (VMIN 1, VTIME 0): on a descriptor in non-blocking mode an empty line
// gives EAGAIN and only a hang-up gives end of file. The speed is left alone.
inline void SetRawFraming(termios& T, Parity P, int StopBits)
{
    ::cfmakeraw(&T);
    T.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    T.c_cflag |= CS8 | CLOCAL | CREAD;
    if (P != Parity::None)
        T.c_cflag |= PARENB;
    if (P == Parity::Odd)
        T.c_cflag |= PARODD;
    if (StopBits == 2)
        T.c_cflag |= CSTOPB;
    // A character with a parity error is dropped by the port (IGNPAR) rather
    // than passed on: the frame's CRC then fails and the request is retried.
    T.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | PARMRK);
    if (P != Parity::None)
        T.c_iflag |= INPCK | IGNPAR;
    T.c_cc[VMIN] = 1;
    T.c_cc[VTIME] = 0;
}

// Sets T on Fd now. A port that cannot carry parity (a pseudo-terminal)
// keeps none, and a kernel that took nothing of a request says EINVAL: that
// is taken when all else (speed, size, stop bits, raw mode) is as asked.
// False with errno set otherwise.
inline bool ApplyTermios(int Fd, const termios& T)
{
    if (::tcsetattr(Fd, TCSANOW, &T) == 0)
        return true;
    const int Err = errno;
    termios Got;
    if (Err != EINVAL || ::tcgetattr(Fd, &Got) != 0) {
        errno = Err;
        return false;
    }
    const tcflag_t Kept = CSIZE | CSTOPB | CREAD | CLOCAL | CRTSCTS;
    if ((Got.c_cflag & Kept) == (T.c_cflag & Kept) && ::cfgetospeed(&Got) == ::cfgetospeed(&T) &&
        (Got.c_lflag & ICANON) == 0 && Got.c_cc[VMIN] == T.c_cc[VMIN] && Got.c_cc[VTIME] == T.c_cc[VTIME])
        return true;
    errno = Err;
    return false;
}

} // namespace Link
