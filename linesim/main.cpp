// velmor-sim: the virtual controller as a device on a line (docs/protocol.md),
// until SIGINT or SIGTERM.
#include <unistd.h>

#include <cstdio>

#include "linesim/Options.h"
#include "linesim/Serve.h"
#include "link/ServeOptions.h"
#include "link/ServeSocket.h"

int main(int Argc, char** Argv)
{
    const Core::Result<LineSim::Options> O = LineSim::ParseOptions(Argc, Argv);
    if (!O)
        return Link::BadUsage("velmor-sim", O.Error());
    if (O->Help) {
        std::fputs(LineSim::Usage, stdout);
        return 0;
    }
    const int StopFd = Link::StopSignalFd("velmor-sim");
    if (StopFd < 0)
        return 1;
    const int Code = LineSim::Serve(*O, StopFd, [](const std::string& Where) {
        std::printf("%s\n", Where.c_str());
        std::fflush(stdout);
    });
    ::close(StopFd);
    return Code;
}
