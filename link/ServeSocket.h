#pragma once

#include <poll.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/Result.h"

// What the programs that serve a line (velmor-sim, velmor-gateway) do alike
// around their poll() loops: the stop signals on a descriptor, a TCP
// listener, its clients' bytes in and out.
namespace Link {

// Told where the program serves once it does ("HOST:PORT", a device...).
using ReadyFn = std::function<void(const std::string& Where)>;

// A serving program's main around its parsed options: a usage error (exit
// 1), --help (Usage on standard output, exit 0), else Serve until SIGINT or
// SIGTERM, where it serves printed on standard output; Serve's exit code.
int ServeMain(const char* Program, const char* Usage, const Core::Status& Parsed, bool Help,
              const std::function<int(int StopFd, const ReadyFn& Ready)>& Serve);

// Blocks SIGINT and SIGTERM and gives a non-blocking signalfd that becomes
// readable when one comes; ignores SIGPIPE. -1 after saying why on standard
// error as "Program: signalfd: ...".
int StopSignalFd(const char* Program);

enum ListenFailure { NotNumeric = 1, CannotListen = 2 };

// A non-blocking listener on a numeric Host at Port (0: any free port), and
// the port bound. Fails with NotNumeric ("HOST is not a numeric IP address")
// or CannotListen ("cannot listen on HOST:PORT: why").
struct Listener {
    int Fd = -1;
    uint16_t Port = 0;
};
Core::Result<Listener> ListenTcp(const std::string& Host, uint16_t Port, int Backlog);

// After a poll() whose first descriptor is the stop descriptor: 1 when it
// is readable, -1 when poll() failed (said on standard error as
// "Program: poll: ..."), else 0.
int StopOrFailure(int Ready, const pollfd& Stop, const char* Program);

// Whether Host (a numeric address) is a loopback one: 127.0.0.0/8, ::1 or
// an IPv4-mapped 127.x address.
bool IsLoopbackHost(const std::string& Host);

// The warning a serving program prints on standard error when it listens
// beyond loopback; empty for a loopback Host.
std::string ExposedWarning(const std::string& Host, uint16_t Port);

// Takes a waiting client (non-blocking, TCP_NODELAY); -1 when none waits.
int AcceptClient(int ListenFd);

// Appends what the socket has to In. False when the client left or failed.
bool ReceiveAvailable(int Fd, std::vector<uint8_t>& In);
// The same, but In grows to Limit bytes at most: the rest stays in the
// socket (a client sending faster than it is served is held back there).
bool ReceiveSome(int Fd, std::vector<uint8_t>& In, size_t Limit);
// Sends what Out holds, as far as the socket takes it now; what went is
// removed. False when the client left or failed.
bool SendPending(int Fd, std::vector<uint8_t>& Out);

} // namespace Link
