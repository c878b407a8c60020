#include "link/TransportShare.h"

#include <map>

#include "linksetting/Framing.h"

namespace Link {

namespace {

struct Registry {
    std::mutex Lock;
    std::map<std::string, std::weak_ptr<SharedPort>> Ports;
    uint64_t Openings = 0;
};

Registry& Ports()
{
    static Registry* R = new Registry; // never destroyed: clients may outlive static destruction
    return *R;
}

} // namespace

std::string PortKey(const LinkConfig& C)
{
    switch (C.Type) {
    case LinkConfig::Kind::Serial: return "serial " + C.Path;
    case LinkConfig::Kind::Tcp: return "tcp " + C.Host + " " + std::to_string(C.Port);
    case LinkConfig::Kind::ModbusTcp: return "modbus-tcp " + C.Host + " " + std::to_string(C.Port);
    case LinkConfig::Kind::Virtual: break;
    }
    return {};
}

Core::Result<std::shared_ptr<SharedPort>> AcquirePort(const LinkConfig& Config, int ConnectMs, uint64_t& Opening)
{
    Registry& R = Ports();
    std::lock_guard<std::mutex> Hold(R.Lock);
    const std::string Key = PortKey(Config);
    std::shared_ptr<SharedPort> Shared = R.Ports[Key].lock();
    if (!Shared) {
        Shared = std::make_shared<SharedPort>();
        Shared->Baud = Config.Baud;
        Shared->Framing = Config.Parity;
        Shared->StopBits = Config.StopBits;
        R.Ports[Key] = Shared;
    } else if (Config.Type == LinkConfig::Kind::Serial &&
               (Shared->Baud != Config.Baud || Shared->Framing != Config.Parity ||
                Shared->StopBits != Config.StopBits)) {
        return Core::Status::Fail("Cannot open the port " + Config.Path + ": this program has it open at " +
                                  std::to_string(Shared->Baud) + " baud " +
                                  FramingName(Shared->Framing, Shared->StopBits) + ", not " +
                                  std::to_string(Config.Baud) + " baud " +
                                  FramingName(Config.Parity, Config.StopBits));
    }
    // Forget the places nobody holds any more.
    for (auto It = R.Ports.begin(); It != R.Ports.end();)
        It = It->second.expired() ? R.Ports.erase(It) : std::next(It);
    std::lock_guard<std::mutex> Turn(Shared->Turn);
    if (!Shared->Port) {
        Core::Result<std::unique_ptr<Transport>> Opened =
            ThroughGateway(Config) ? OpenTcp(Config.Host, Config.Port, ConnectMs)
                                   : OpenSerial(Config.Path, Config.Baud, Config.Parity, Config.StopBits);
        if (!Opened)
            return Opened.Why();
        Shared->Port = std::move(*Opened);
        Shared->LineBusyUntil = NowUs();
        Shared->Opening = ++R.Openings;
    }
    Opening = Shared->Opening;
    return Shared;
}

} // namespace Link
