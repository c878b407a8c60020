#pragma once

#include "linesim/Options.h"
#include "link/ServeSocket.h"

// velmor-sim's serving: the model on the real clock behind the server, on the
// place the options name, until StopFd becomes readable (the program gives
// the descriptor of its stop signals, a test a pipe of its own).
namespace LineSim {

// Ready gets the place once it is open ("SLAVE SYMLINK", "PORT" or
// "HOST:PORT"). The exit code: 0 when stopped, 1 when the place or the
// trace cannot be opened or the loop fails (said on standard error).
int Serve(const Options& O, int StopFd, const Link::ReadyFn& Ready);

} // namespace LineSim
