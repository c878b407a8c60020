#pragma once

#include <cstdint>
#include <string>

#include "core/Result.h"

// A TCP endpoint as the programs write it: HOST:PORT, an IPv6 address in
// brackets ([::1]:5020). The host is taken as written (no look-up here).
namespace Core {

struct Endpoint {
    std::string Host; // without brackets
    uint16_t Port = 0;
};

// Why a text is not an endpoint: the Status code of a failed split or parse.
enum class EndpointFault {
    Brackets = 1, // '[' without "]:" after the address
    NoPort,       // no ':' at all
    BareIpv6,     // more than one ':' outside brackets
    NoHost,       // nothing before the port
    BadPort,      // the port is not a number 0..65535
};

// The host and the port's text, not yet read as a number.
struct EndpointParts {
    std::string Host;
    std::string Port;
};

// Splits Text at the port's ':'; on failure the code is an EndpointFault.
Result<EndpointParts> SplitEndpoint(const std::string& Text);

// The whole endpoint, the port a plain decimal number 0..65535.
Result<Endpoint> ParseEndpoint(const std::string& Text);

// Host and Port as written above.
std::string FormatEndpoint(const std::string& Host, int Port);
inline std::string FormatEndpoint(const Endpoint& E) { return FormatEndpoint(E.Host, E.Port); }

} // namespace Core
