#include "linksetting/LinkConfig.h"

#include "core/Endpoint.h"
#include "core/SerialSpeeds.h"
#include "core/Text.h"
#include "core/XdgPaths.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace Link {

namespace {

// A setting file is one line; anything much bigger is not one.
constexpr size_t MaxFileSize = 4096;

bool Given(const char* S) { return S && *S; }

// A plain decimal number within Low..High; a failure names What.
Core::Status Number(const std::string& Text, const char* What, int Low, int High, int& Out)
{
    long V = 0;
    if (!Core::ParseDecimal(Text, V))
        return Core::Status::Fail(std::string(What) + " \"" + Printable(Text) + "\" is not a number");
    if (V < Low || V > High)
        return Core::Status::Fail(std::string(What) + " " + std::to_string(V) + " is out of range " +
                                  std::to_string(Low) + ".." + std::to_string(High));
    Out = static_cast<int>(V);
    return {};
}

Core::Status ParseOptions(const std::string& Text, LinkConfig& C)
{
    static const char* const Names[] = {"baud", "address", "timeout", "parity", "stopbits", "trace", "unit", "watchdog"};
    constexpr int Count = sizeof Names / sizeof Names[0];
    bool Seen[Count] = {};
    const bool Serial = C.Type == LinkConfig::Kind::Serial;
    size_t Pos = 0;
    while (true) {
        size_t Amp = Text.find('&', Pos);
        std::string Item = Text.substr(Pos, Amp == std::string::npos ? std::string::npos : Amp - Pos);
        size_t Eq = Item.find('=');
        if (Item.empty() || Eq == std::string::npos || Eq == 0)
            return Core::Status::Fail("option \"" + Printable(Item) + "\" is not NAME=VALUE");
        std::string Name = Item.substr(0, Eq), Value = Item.substr(Eq + 1);
        int Index = -1;
        for (int I = 0; I < Count; ++I)
            if (Name == Names[I])
                Index = I;
        // unit is Modbus TCP's name for the address.
        if (Index == 6 && C.Type == LinkConfig::Kind::ModbusTcp)
            Index = 1;
        if (Index < 0 || Index == 6)
            return Core::Status::Fail("unknown option \"" + Printable(Name) +
                                      "\" (known: baud, address, timeout, parity, stopbits, trace, watchdog" +
                                      (C.Type == LinkConfig::Kind::ModbusTcp ? ", unit)" : ")"));
        if (Seen[Index])
            return Core::Status::Fail(Index == 1 && C.Type == LinkConfig::Kind::ModbusTcp
                                          ? "option unit (or address) is given twice"
                                          : "option " + Name + " is given twice");
        Seen[Index] = true;
        if (Index == 0) {
            if (Core::Status Bad = Number(Value, "baud", 1, 4000000, C.Baud); !Bad)
                return Bad;
            if (!Core::KnownSpeed(C.Baud))
                return Core::Status::Fail("baud " + std::to_string(C.Baud) + " is not a standard speed (" +
                                          Core::SerialSpeedList() + ")");
        } else if (Index == 1) {
            if (Core::Status Bad = Number(Value, Name.c_str(), 1, 247, C.Address); !Bad)
                return Bad;
        } else if (Index == 2) {
            if (Core::Status Bad = Number(Value, "timeout", 1, 10000, C.TimeoutMs); !Bad)
                return Bad;
        } else if ((Index == 3 || Index == 4) && !Serial) {
            return Core::Status::Fail("option " + Name +
                                      " is for serial links only (the gateway sets its own line's framing)");
        } else if (Index == 3) {
            if (Value == "none")
                C.Parity = Parity::None;
            else if (Value == "even")
                C.Parity = Parity::Even;
            else if (Value == "odd")
                C.Parity = Parity::Odd;
            else
                return Core::Status::Fail("parity \"" + Printable(Value) + "\" is not none, even or odd");
        } else if (Index == 4) {
            if (Value != "1" && Value != "2")
                return Core::Status::Fail("stopbits \"" + Printable(Value) + "\" is not 1 or 2");
            C.StopBits = Value[0] - '0';
        } else if (Index == 7) {
            if (Core::Status Bad = Number(Value, "watchdog", 0, 65535, C.WatchdogMs); !Bad)
                return Bad;
        } else {
            for (char Ch : Value)
                if (static_cast<unsigned char>(Ch) < 0x20 || Ch == 0x7F)
                    return Core::Status::Fail("the trace file's path holds a control character");
            if (Value.empty())
                return Core::Status::Fail("trace needs a file, e.g. trace=/tmp/velmor-line.trace");
            C.TracePath = Value;
        }
        if (Amp == std::string::npos)
            break;
        Pos = Amp + 1;
    }
    if (!Seen[4])
        C.StopBits = DefaultStopBits(C.Parity);
    return {};
}

Core::Status ParseTcpTarget(const std::string& Target, LinkConfig& C)
{
    const Core::Result<Core::EndpointParts> Parts = Core::SplitEndpoint(Target);
    if (!Parts) {
        // By Core::EndpointFault.
        static const char* const Texts[] = {
            "", "tcp needs [ADDRESS]:PORT, e.g. tcp:[::1]:5020", "tcp needs HOST:PORT, e.g. tcp:127.0.0.1:5020",
            "an IPv6 address goes in brackets, e.g. tcp:[::1]:5020", "tcp needs a host address before the port"};
        return Core::Status::Fail(Texts[Parts.Why().Code()]);
    }
    const std::string& Host = Parts->Host;
    // The open connects to exactly this address: what inet_pton does not
    // take (a name, 300.1.2.3, 1.2.3) is a malformed setting here, not a
    // failed connection later.
    unsigned char Binary[sizeof(struct in6_addr)];
    if (Host.find('\0') != std::string::npos ||
        ::inet_pton(Host.find(':') != std::string::npos ? AF_INET6 : AF_INET, Host.c_str(), Binary) != 1)
        return Core::Status::Fail("host \"" + Printable(Host) +
                                  "\" is not a numeric address (names are not looked up)");
    C.Host = Host;
    return Number(Parts->Port, "port", 1, 65535, C.Port);
}

} // namespace

std::string Printable(const std::string& Text)
{
    std::string Out;
    for (char C : Text) {
        if (Out.size() >= 120) {
            Out += "...";
            break;
        }
        unsigned char U = static_cast<unsigned char>(C);
        Out += U < 0x20 || U == 0x7F ? '?' : C;
    }
    return Out;
}

Core::Result<LinkConfig> ParseLinkLine(const std::string& Line)
{
    const std::string L = Core::Trim(Line);
    if (L == "virtual")
        return LinkConfig();
    LinkConfig C;
    std::string Rest;
    if (L.compare(0, 7, "serial:") == 0) {
        C.Type = LinkConfig::Kind::Serial;
        Rest = L.substr(7);
    } else if (L.compare(0, 4, "tcp:") == 0) {
        C.Type = LinkConfig::Kind::Tcp;
        Rest = L.substr(4);
    } else if (L.compare(0, 11, "modbus-tcp:") == 0) {
        C.Type = LinkConfig::Kind::ModbusTcp;
        Rest = L.substr(11);
    } else {
        return Core::Status::Fail(
            L.empty() ? "the setting is empty (use virtual, serial:PATH, tcp:HOST:PORT or modbus-tcp:HOST:PORT)"
                      : "the setting does not start with virtual, serial:, tcp: or modbus-tcp:");
    }
    // Behind a gateway the line's speed is the gateway's, 9600 unless given.
    if (C.Type != LinkConfig::Kind::Serial)
        C.Baud = 9600;
    size_t Question = Rest.find('?');
    std::string Target = Rest.substr(0, Question);
    if (C.Type == LinkConfig::Kind::Serial) {
        if (Target.empty())
            return Core::Status::Fail("serial needs the port's path, e.g. serial:/dev/ttyUSB0");
        for (char Ch : Target)
            if (static_cast<unsigned char>(Ch) < 0x20 || Ch == 0x7F)
                return Core::Status::Fail("the port's path holds a control character");
        C.Path = Target;
    } else if (Core::Status Bad = ParseTcpTarget(Target, C); !Bad) {
        return Bad;
    }
    if (Question != std::string::npos)
        if (Core::Status Bad = ParseOptions(Rest.substr(Question + 1), C); !Bad)
            return Bad;
    if (C.Type != LinkConfig::Kind::Serial) // framing is the gateway's line's
        C.StopBits = DefaultStopBits(C.Parity);
    return C;
}

std::string LinkFilePath(const char* XdgConfigHome, const char* Home)
{
    return Core::XdgConfigPath(XdgConfigHome, Home, "velmor/link.conf");
}

LinkSetting LinkSettingFrom(const char* EnvLink, const char* XdgConfigHome, const char* Home, FileReader ReadFile)
{
    LinkSetting S;
    std::string Line;
    if (Given(EnvLink)) {
        S.Source = "$VELMOR_LINK";
        Line = EnvLink;
    } else {
        const std::string Path = LinkFilePath(XdgConfigHome, Home);
        if (Path.empty())
            return S;
        std::string Text;
        int Err = ReadFile(Path, Text);
        if (Err == ENOENT || Err == ENOTDIR)
            return S;
        S.Source = Path;
        auto Bad = [&](const std::string& What) {
            S.Ok = false;
            S.Error = "Link setting in " + Path + ": " + What;
            return S;
        };
        if (Err == EFBIG)
            return Bad("the file is bigger than " + std::to_string(MaxFileSize) + " bytes, not a setting");
        if (Err != 0)
            return Bad(std::string("cannot read the file: ") + std::strerror(Err));
        int Count = 0, LineNo = 0;
        size_t Pos = 0;
        while (Pos <= Text.size()) {
            size_t End = Text.find('\n', Pos);
            std::string One = Core::Trim(Text.substr(Pos, End == std::string::npos ? std::string::npos : End - Pos));
            ++LineNo;
            if (!One.empty() && One[0] != '#') {
                if (++Count > 1)
                    return Bad("a second setting on line " + std::to_string(LineNo) + "; the file holds one");
                Line = One;
            }
            if (End == std::string::npos)
                break;
            Pos = End + 1;
        }
        if (Count == 0)
            return Bad("the file holds no setting (write virtual, serial:PATH or tcp:HOST:PORT)");
    }
    Core::Result<LinkConfig> Parsed = ParseLinkLine(Line);
    if (Parsed) {
        S.Config = *Parsed;
    } else {
        S.Ok = false;
        S.Error =
            "Link setting in " + S.Source + ": " + Parsed.Error() + " (read \"" + Printable(Core::Trim(Line)) + "\")";
    }
    return S;
}

namespace {

int ReadSmallFile(const std::string& Path, std::string& Text)
{
    int Fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (Fd < 0)
        return errno;
    char Buffer[1024];
    int Err = 0;
    while (true) {
        ssize_t N = ::read(Fd, Buffer, sizeof Buffer);
        if (N < 0 && errno == EINTR)
            continue;
        if (N < 0) {
            Err = errno;
            break;
        }
        if (N == 0)
            break;
        Text.append(Buffer, static_cast<size_t>(N));
        if (Text.size() > MaxFileSize) {
            Err = EFBIG;
            break;
        }
    }
    ::close(Fd);
    return Err;
}

} // namespace

LinkSetting ReadLinkSetting()
{
    return LinkSettingFrom(std::getenv("VELMOR_LINK"), std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"),
                           ReadSmallFile);
}

} // namespace Link
