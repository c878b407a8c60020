// velmor-sim: the virtual controller as a device on a line (docs/protocol.md),
// until SIGINT or SIGTERM.
#include "linesim/Options.h"
#include "linesim/Serve.h"
#include "link/ServeSocket.h"

int main(int Argc, char** Argv)
{
    const Core::Result<LineSim::Options> O = LineSim::ParseOptions(Argc, Argv);
    return Link::ServeMain("velmor-sim", LineSim::Usage, O.Why(), O.Ok() && O->Help,
                           [&O](int StopFd, const Link::ReadyFn& Ready) { return LineSim::Serve(*O, StopFd, Ready); });
}
