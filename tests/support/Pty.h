#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace TestSupport {

// A pseudo-terminal held open for the test: its slave's path is a tty that
// answers tcgetattr but is no UART.
struct Pty {
    int Master = -1;
    std::string Slave;
    Pty()
    {
        Master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (Master >= 0 && ::grantpt(Master) == 0 && ::unlockpt(Master) == 0)
            Slave = ::ptsname(Master);
    }
    ~Pty()
    {
        if (Master >= 0)
            ::close(Master);
    }
};

} // namespace TestSupport
