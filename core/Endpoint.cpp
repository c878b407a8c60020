#include "core/Endpoint.h"

#include "core/Text.h"

namespace Core {

namespace {

Status Fault(EndpointFault Kind, const char* Text) { return Status::Fail(Text, static_cast<int>(Kind)); }

} // namespace

Result<EndpointParts> SplitEndpoint(const std::string& Text)
{
    EndpointParts P;
    if (!Text.empty() && Text[0] == '[') {
        const size_t Close = Text.find(']');
        if (Close == std::string::npos || Close + 1 >= Text.size() || Text[Close + 1] != ':')
            return Fault(EndpointFault::Brackets, "needs [ADDRESS]:PORT");
        P.Host = Text.substr(1, Close - 1);
        P.Port = Text.substr(Close + 2);
    } else {
        const size_t Colon = Text.rfind(':');
        if (Colon == std::string::npos)
            return Fault(EndpointFault::NoPort, "needs HOST:PORT");
        P.Host = Text.substr(0, Colon);
        P.Port = Text.substr(Colon + 1);
        if (P.Host.find(':') != std::string::npos)
            return Fault(EndpointFault::BareIpv6, "an IPv6 address goes in brackets");
    }
    if (P.Host.empty())
        return Fault(EndpointFault::NoHost, "needs a host address before the port");
    return P;
}

Result<Endpoint> ParseEndpoint(const std::string& Text)
{
    Result<EndpointParts> Parts = SplitEndpoint(Text);
    if (!Parts)
        return Parts.Why();
    long Port = 0;
    if (Parts->Port.size() > 5 || !ParseDecimal(Parts->Port, Port) || Port > 65535)
        return Fault(EndpointFault::BadPort, "the port is not a number 0..65535");
    return Endpoint{Parts->Host, static_cast<uint16_t>(Port)};
}

std::string FormatEndpoint(const std::string& Host, int Port)
{
    const bool V6 = Host.find(':') != std::string::npos;
    return (V6 ? "[" + Host + "]" : Host) + ":" + std::to_string(Port);
}

} // namespace Core
