#include "ui/PanelLink.h"

#include <chrono>

#include "core/Clock.h"
#include "core/DeviceState.h"
#include "device/Commands.h"
#include "device/DeviceText.h"
#include "device/velmor.h"

namespace PanelLink {

namespace {

// The moment an answer came: both clocks.
void Stamp(Core::PollSample& S)
{
    S.SteadyUs = Core::SteadyNowUs();
    S.UtcUs = std::chrono::duration_cast<std::chrono::microseconds>(
                  std::chrono::system_clock::now().time_since_epoch())
                  .count();
}

} // namespace

TOpened TLink::Connect(const TParameters& P)
{
    TOpened R;
    R.Tried = true;
    if (!FLinked)
        FLinked = VLM_OpenDevice() != 0;
    if (!FLinked) {
        Disconnect();
        return R;
    }
    R.Ok = true;
    char* Text = nullptr;
    VLM_GetInfo(&Text);
    // The text belongs to the library: copied before anything else calls it.
    R.Info = DeviceTextToUtf8(Text);
    SendAll(P);
    return R;
}

void TLink::Disconnect()
{
    if (FLinked)
        VLM_Stop();
    VLM_CloseDevice();
    FLinked = false;
}

void TLink::SendAll(const TParameters& P)
{
    try {
        Commands::SetMode(P.Step, P.Decay);
        Commands::SetIh(P.Ih);
        Commands::SetIa(P.Ia);
        Commands::SetIw(P.Iw);
        Commands::SetVm(P.Vm);
        Commands::SetVw(P.Vw);
        Commands::SetAw(P.Aw);
        Commands::SetLim(P.LimBackward, P.LimForward, P.LimHome);
        Commands::SetCtrl(P.Control);
    } catch (const EHardwareException&) {
        // The next poll finds out whether the link is really gone.
    }
}

TPollResult TLink::Poll(const TPollRequest& Q, const std::function<void(const std::string& Error)>& Lost)
{
    TPollResult R;
    Core::PollSample& S = R.Sample;
    if (FLinked) {
        R.Read = true;
        try {
            if (Q.Page == 0) {
                S.Coordinate = Commands::GetNc();
                S.Limits = Commands::GetLim();
                S.Speed = Commands::GetVc();
                S.HasMotion = true;
            }
            if (Q.Page == 1 && Q.Adc) {
                R.Adc = Commands::GetAdc();
                R.HasAdc = true;
            }
            if (Q.Page == 2 && Q.Homing && Commands::GetStat() == Core::StateDone) {
                R.HomeCoordinate = Commands::GetNb();
                R.HomeDone = true;
            }
            S.StateCode = Commands::GetStat();
            S.HasState = true;
            R.StateText = Commands::StateText(S.StateCode);
            S.Ok = true;
        } catch (const EHardwareException& E) {
            R.Lost = true;
            S.Error = E.Message();
            FLinked = false;
        }
        Stamp(S);
        if (R.Lost && Lost)
            Lost(S.Error);
    }
    if (!FLinked) {
        Disconnect();
        if (Q.KeepConnected)
            R.Reconnect = Connect(Q.Parameters);
        if (!R.Read)
            Stamp(S);
    }
    return R;
}

std::string TLink::LastError()
{
    char* Text = nullptr;
    VLM_GetLastError(&Text);
    return DeviceTextToUtf8(Text);
}

} // namespace PanelLink
