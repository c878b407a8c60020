#include "link/LinkFormat.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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
    if (!C.TracePath.empty())
        Add("trace", C.TracePath);
    return Out;
}

// A numeric host as the setting writes it: an IPv6 address in brackets.
std::string HostPort(const LinkConfig& C)
{
    const bool V6 = C.Host.find(':') != std::string::npos;
    return (V6 ? "[" + C.Host + "]" : C.Host) + ":" + std::to_string(C.Port);
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
        return "tcp:" + HostPort(C) + Options(C);
    case LinkConfig::Kind::ModbusTcp:
        return "modbus-tcp:" + HostPort(C) + Options(C);
    }
    return "virtual";
}

bool LinkLineFor(const LinkConfig& Config, std::string& Line, std::string& Error)
{
    const std::string Written = FormatLinkLine(Config);
    LinkConfig Back;
    if (!ParseLinkLine(Written, Back, Error))
        return false;
    if (FormatLinkLine(Back) != Written) {
        Error = "the port's path cannot be written in the setting as it is (no '?', no blank at its end)";
        return false;
    }
    Line = Written;
    return true;
}

namespace {

bool MakeFolders(const std::string& Folder, std::string& Error)
{
    for (size_t Slash = Folder.find('/', 1);; Slash = Folder.find('/', Slash + 1)) {
        const std::string Part = Folder.substr(0, Slash);
        if (!Part.empty() && ::mkdir(Part.c_str(), 0700) != 0 && errno != EEXIST) {
            Error = "cannot make the folder " + Part + ": " + std::strerror(errno);
            return false;
        }
        if (Slash == std::string::npos)
            return true;
    }
}

bool WriteAll(int Fd, const std::string& Text)
{
    size_t Done = 0;
    while (Done < Text.size()) {
        const ssize_t N = ::write(Fd, Text.data() + Done, Text.size() - Done);
        if (N < 0 && errno == EINTR)
            continue;
        if (N <= 0)
            return false;
        Done += static_cast<size_t>(N);
    }
    return true;
}

} // namespace

bool SaveLinkFile(const std::string& Path, const std::string& Line, std::string& Error)
{
    const size_t Slash = Path.rfind('/');
    if (Path.empty() || Slash == std::string::npos || Slash + 1 == Path.size()) {
        Error = "no place for the setting file (no home folder)";
        return false;
    }
    if (Slash > 0 && !MakeFolders(Path.substr(0, Slash), Error))
        return false;
    const std::string Temp = Path + ".new-" + std::to_string(::getpid());
    const int Fd = ::open(Temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (Fd < 0) {
        Error = "cannot write " + Temp + ": " + std::strerror(errno);
        return false;
    }
    const bool Written = WriteAll(Fd, Line + "\n") && ::fsync(Fd) == 0;
    const int WriteErr = errno;
    if (::close(Fd) != 0 || !Written) {
        Error = "cannot write " + Temp + ": " + std::strerror(Written ? errno : WriteErr);
        ::unlink(Temp.c_str());
        return false;
    }
    if (::rename(Temp.c_str(), Path.c_str()) != 0) {
        Error = "cannot replace " + Path + ": " + std::strerror(errno);
        ::unlink(Temp.c_str());
        return false;
    }
    return true;
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
        return "gateway " + HostPort(C) + " (RTU over TCP)" + Address;
    case LinkConfig::Kind::ModbusTcp:
        return "gateway " + HostPort(C) + " (Modbus TCP), unit " + std::to_string(C.Address);
    }
    return "virtual controller";
}

} // namespace Link
