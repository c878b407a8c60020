#include "linksetting/LinkFormat.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "core/Endpoint.h"
#include "core/SmallFile.h"

namespace Link {

namespace {

// The options that differ from their default, as "?a=1&b=2" (empty when all
// are at their default). A new option is one more line here.
std::string Options(const LinkConfig& C)
{
    std::string Out;
    auto Add = [&](const char* Name, const std::string& Value) {
        Out += (Out.empty() ? "?" : "&") + std::string(Name) + "=" + Value;
    };
    if (C.Baud != (ThroughGateway(C) ? 9600 : 115200))
        Add("baud", std::to_string(C.Baud));
    if (C.Type == LinkConfig::Kind::Serial) {
        if (C.Parity != Parity::Even)
            Add("parity", C.Parity == Parity::None ? "none" : "odd");
        if (C.StopBits != DefaultStopBits(C.Parity))
            Add("stopbits", std::to_string(C.StopBits));
    }
    if (C.Address != 1)
        Add(C.Type == LinkConfig::Kind::ModbusTcp ? "unit" : "address", std::to_string(C.Address));
    if (C.TimeoutMs != 0)
        Add("timeout", std::to_string(C.TimeoutMs));
    if (C.WatchdogMs >= 0)
        Add("watchdog", std::to_string(C.WatchdogMs));
    if (!C.TracePath.empty())
        Add("trace", C.TracePath);
    return Out;
}

} // namespace

std::string FormatLinkLine(const LinkConfig& C)
{
    switch (C.Type) {
    case LinkConfig::Kind::Virtual:
        return "virtual";
    case LinkConfig::Kind::Serial:
        return "serial:" + C.Path + Options(C);
    case LinkConfig::Kind::Tcp:
        return "tcp:" + Core::FormatEndpoint(C.Host, C.Port) + Options(C);
    case LinkConfig::Kind::ModbusTcp:
        return "modbus-tcp:" + Core::FormatEndpoint(C.Host, C.Port) + Options(C);
    }
    return "virtual";
}

Core::Result<std::string> LinkLineFor(const LinkConfig& Config)
{
    const std::string Written = FormatLinkLine(Config);
    const Core::Result<LinkConfig> Back = ParseLinkLine(Written);
    if (!Back)
        return Back.Why();
    if (FormatLinkLine(*Back) != Written)
        return Core::Status::Fail(
            "the port's path cannot be written in the setting as it is (no '?', no blank at its end)");
    return Written;
}

namespace {

Core::Status MakeFolders(const std::string& Folder)
{
    for (size_t Slash = Folder.find('/', 1);; Slash = Folder.find('/', Slash + 1)) {
        const std::string Part = Folder.substr(0, Slash);
        if (!Part.empty() && ::mkdir(Part.c_str(), 0700) != 0 && errno != EEXIST)
            return Core::Status::Fail("cannot make the folder " + Part + ": " + std::strerror(errno));
        if (Slash == std::string::npos)
            return {};
    }
}

} // namespace

Core::Status SaveLinkFile(const std::string& Path, const std::string& Line)
{
    const size_t Slash = Path.rfind('/');
    if (Path.empty() || Slash == std::string::npos || Slash + 1 == Path.size())
        return Core::Status::Fail("no place for the setting file (no home folder)");
    if (Slash > 0)
        if (Core::Status Made = MakeFolders(Path.substr(0, Slash)); !Made)
            return Made;
    return Core::ReplaceFile(Path, Line + "\n");
}

std::string DescribeLink(const LinkConfig& C)
{
    const std::string Address = ", address " + std::to_string(C.Address);
    switch (C.Type) {
    case LinkConfig::Kind::Virtual:
        return "virtual controller";
    case LinkConfig::Kind::Serial:
        return C.Path + " at " + std::to_string(C.Baud) + " baud " + FramingName(C.Parity, C.StopBits) + Address;
    case LinkConfig::Kind::Tcp:
        return "gateway " + Core::FormatEndpoint(C.Host, C.Port) + " (RTU over TCP)" + Address;
    case LinkConfig::Kind::ModbusTcp:
        return "gateway " + Core::FormatEndpoint(C.Host, C.Port) + " (Modbus TCP), unit " + std::to_string(C.Address);
    }
    return "virtual controller";
}

} // namespace Link
