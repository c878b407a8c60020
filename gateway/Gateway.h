#pragma once

#include "gateway/Options.h"
#include "link/ServeSocket.h"

// velmor-gateway's serving: the serial port and the listener the options
// name, served until StopFd becomes readable (the program gives the
// descriptor of its stop signals, a test a pipe of its own).
namespace VelmorGateway {

// Ready gets "HOST:PORT" as bound once both are open. The exit code: 0 when
// stopped, 1 when the port, the listener or the trace cannot be opened at
// the start (said on standard error). A port that goes away later is
// reopened by its path while the clients get exception 0x0B.
int Serve(const Options& O, int StopFd, const Link::ReadyFn& Ready);

} // namespace VelmorGateway
