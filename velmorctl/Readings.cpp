// The commands that read the controller or store its parameters, and the
// list of serial ports.
#include <ostream>

#include "core/DeviceState.h"
#include "device/Commands.h"
#include "device/DeviceText.h"
#include "device/velmor.h"
#include "linksetting/SerialPorts.h"
#include "velmorctl/Internal.h"

namespace VelmorCtl {
namespace Detail {

int Info(const std::vector<std::string>& Args, Context& Ctx)
{
    ExpectPositionals(ParseArgs(Args, {}), 0, 0);
    Session Device(Ctx);
    char* Text = nullptr;
    if (!VLM_GetInfo(&Text))
        Commands::RaiseHardwareError();
    Ctx.Out << DeviceTextToUtf8(Text) << '\n';
    return ExitOk;
}

int Status(const std::vector<std::string>& Args, Context& Ctx)
{
    const ParsedArgs P = ParseArgs(Args, {{"--json", false}});
    ExpectPositionals(P, 0, 0);
    Session Device(Ctx);
    int32_t State = 0, Nc = 0, Vc = 0, Lim = 0, Nb = 0;
    double Volts = 0;
    try {
        State = Commands::GetStat();
        Nc = Commands::GetNc();
        Vc = Commands::GetVc();
        Lim = Commands::GetLim();
        Nb = Commands::GetNb();
        Volts = Commands::GetAdc();
    } catch (const EHardwareException& E) {
        // A controller refuses no reading: one that fails is a link that
        // failed after the open, and nothing is printed of a half status.
        Ctx.Err << "velmorctl: the link was lost while reading the status: "
                << (E.Message().empty() ? "the read failed" : E.Message()) << '\n';
        return ExitLinkLost;
    }
    const bool Backward = Lim & Core::ActiveBackward, Forward = Lim & Core::ActiveForward,
               HomeInput = Lim & Core::ActiveHome;
    const char* Text = Commands::StateText(State);
    if (P.Has("--json")) {
        Line(Ctx.Out,
             "{\"state\":%s,\"state_code\":%d,\"coordinate\":%d,\"speed\":%d,\"limit_word\":%d,"
             "\"limits\":{\"backward\":%s,\"forward\":%s,\"home\":%s},\"home_coordinate\":%d,"
             "\"supply_volts\":%.1f}",
             JsonString(Text).c_str(), State, Nc, Vc, Lim, Backward ? "true" : "false",
             Forward ? "true" : "false", HomeInput ? "true" : "false", Nb, Volts);
    } else {
        Line(Ctx.Out, "state: %s (%d)", Text, State);
        Line(Ctx.Out, "coordinate: %d", Nc);
        Line(Ctx.Out, "speed: %d", Vc);
        Line(Ctx.Out, "limits: backward=%d forward=%d home=%d (word %d)", Backward, Forward, HomeInput, Lim);
        Line(Ctx.Out, "home coordinate: %d", Nb);
        Line(Ctx.Out, "supply: %.1f V", Volts);
    }
    return ExitOk;
}

int Store(const std::vector<std::string>& Args, Context& Ctx)
{
    ExpectPositionals(ParseArgs(Args, {}), 0, 0);
    Session Device(Ctx);
    Commands::SavePar();
    return ExitOk;
}

// The ports of linksetting/SerialPorts. The stable names' folder comes from the
// context; the ttys are looked for in the folder two levels above it (/dev
// for /dev/serial/by-id), and nowhere when it is not named .../serial/by-id.
int Ports(const std::vector<std::string>& Args, Context& Ctx)
{
    ExpectPositionals(ParseArgs(Args, {}), 0, 0);
    Link::SerialPortFolders Folders;
    Folders.ById = Ctx.SerialByIdDir;
    const std::string Tail = "/serial/by-id";
    const std::string& ById = Ctx.SerialByIdDir;
    if (ById.size() >= Tail.size() && ById.compare(ById.size() - Tail.size(), Tail.size(), Tail) == 0)
        Folders.Dev = ById.substr(0, ById.size() - Tail.size());
    else
        Folders.Dev.clear();
    const std::vector<Link::SerialPort> Ports = Link::ListSerialPorts(Folders);
    if (Ports.empty()) {
        Ctx.Out << "no serial ports in " << Ctx.SerialByIdDir;
        if (!Folders.Dev.empty())
            Ctx.Out << " or " << Folders.Dev;
        Ctx.Out << '\n';
        return ExitOk;
    }
    for (const Link::SerialPort& P : Ports) {
        Ctx.Out << P.Path;
        if (P.Device != P.Path)
            Ctx.Out << " -> " << (P.Device.empty() ? "(missing)" : P.Device);
        Ctx.Out << "  " << P.Description << '\n';
    }
    return ExitOk;
}

} // namespace Detail
} // namespace VelmorCtl
