// The commands that read the controller or store its parameters, and the
// list of serial ports.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <ostream>

#include "device/Commands.h"
#include "device/DeviceText.h"
#include "device/velmor.h"
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
    const int32_t State = Commands::GetStat();
    const int32_t Nc = Commands::GetNc();
    const int32_t Vc = Commands::GetVc();
    const int32_t Lim = Commands::GetLim();
    const int32_t Nb = Commands::GetNb();
    const double Volts = Commands::GetAdc();
    const bool Backward = Lim & 1, Forward = Lim & 2, HomeInput = Lim & 4;
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

int Ports(const std::vector<std::string>& Args, Context& Ctx)
{
    ExpectPositionals(ParseArgs(Args, {}), 0, 0);
    std::vector<std::string> Names;
    if (DIR* D = opendir(Ctx.SerialByIdDir.c_str())) {
        while (const dirent* E = readdir(D)) {
            const std::string Name = E->d_name;
            if (Name != "." && Name != "..")
                Names.push_back(Name);
        }
        closedir(D);
    }
    if (Names.empty()) {
        Ctx.Out << "no serial ports in " << Ctx.SerialByIdDir << '\n';
        return ExitOk;
    }
    std::sort(Names.begin(), Names.end());
    for (const std::string& Name : Names) {
        const std::string Path = Ctx.SerialByIdDir + "/" + Name;
        char Buf[PATH_MAX];
        if (char* Real = realpath(Path.c_str(), Buf))
            Ctx.Out << Path << " -> " << Real << '\n';
        else
            Ctx.Out << Path << " -> (missing)\n";
    }
    return ExitOk;
}

} // namespace Detail
} // namespace VelmorCtl
