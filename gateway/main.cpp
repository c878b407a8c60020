// velmor-gateway: one serial line of Modbus RTU slaves shared by any number
// of Modbus TCP clients, until SIGINT or SIGTERM.
#include <unistd.h>

#include <cstdio>

#include "gateway/Gateway.h"
#include "gateway/Options.h"
#include "link/ServeSocket.h"

int main(int Argc, char** Argv)
{
    const Core::Result<VelmorGateway::Options> O = VelmorGateway::ParseOptions(Argc, Argv);
    if (!O)
        return Link::BadUsage("velmor-gateway", O.Error());
    if (O->Help) {
        std::fputs(VelmorGateway::Usage, stdout);
        return 0;
    }
    const int StopFd = Link::StopSignalFd("velmor-gateway");
    if (StopFd < 0)
        return 1;
    const int Code = VelmorGateway::Serve(*O, StopFd, [](const std::string& Bound) {
        std::printf("%s\n", Bound.c_str());
        std::fflush(stdout);
    });
    ::close(StopFd);
    return Code;
}
