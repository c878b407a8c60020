#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "core/Result.h"
#include "linksetting/LinkConfig.h"
#include "link/Transport.h"

// One open port (a serial port or a TCP connection to a gateway) shared by
// every client in the process that reaches the same place: clients at
// different addresses on one line take turns on it, a transaction at a time,
// under its mutex. The last client to let go closes it.
namespace Link {

struct SharedPort {
    // Held for one whole transaction (the request, its answer, its retry).
    std::mutex Turn;
    // Under Turn: the port (null once it hung up), the end of the last frame
    // on the line, the last Modbus TCP transaction id.
    std::unique_ptr<Transport> Port;
    int64_t LineBusyUntil = 0;
    uint16_t Transaction = 0;
    // The number of the present opening of the port; 0 while it is closed. A
    // client that opened under another number has lost its link.
    std::atomic<uint64_t> Opening{0};
    // What the port was opened with: a later client must ask the same.
    int Baud = 0;
    Parity Framing = Parity::Even;
    int StopBits = 1;
};

// The key of the place a link reaches: "serial PATH", "tcp HOST PORT" or
// "modbus-tcp HOST PORT"; empty for the virtual controller.
std::string PortKey(const LinkConfig& C);

// The port Config names, opened or the one already open in this process
// (opened again when it had hung up). Fails when it cannot be opened, or
// when the process holds it open at another speed or framing. Opening gets
// the number of the port's opening the caller joins.
Core::Result<std::shared_ptr<SharedPort>> AcquirePort(const LinkConfig& Config, int ConnectMs, uint64_t& Opening);

} // namespace Link
