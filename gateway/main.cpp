// velmor-gateway: one serial line of Modbus RTU slaves shared by any number
// of Modbus TCP clients, until SIGINT or SIGTERM.
#include "gateway/Gateway.h"
#include "gateway/Options.h"
#include "link/ServeSocket.h"

int main(int Argc, char** Argv)
{
    const Core::Result<VelmorGateway::Options> O = VelmorGateway::ParseOptions(Argc, Argv);
    return Link::ServeMain("velmor-gateway", VelmorGateway::Usage, O.Why(), O.Ok() && O->Help,
                           [&O](int StopFd, const Link::ReadyFn& R) { return VelmorGateway::Serve(*O, StopFd, R); });
}
