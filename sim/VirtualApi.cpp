// The device library's C functions: a thin front over one backend, chosen at
// the first VLM_OpenDevice from the link setting (link/LinkConfig.h) and kept
// for the life of the process, so a changed setting takes a restart:
// - none, or "virtual": the in-process virtual controller (sim/Controller.h);
// - "serial:..." or "tcp:...": the RTU client on the line (link/RtuClient.h).
// Each function hands over to the backend's member of the same name. Before
// the first open there is no backend: a close is harmless and every other
// call fails as on a closed device. A malformed setting leaves no backend:
// every open fails with the text that says what is wrong and where.
#include "device/velmor.h"

#include <memory>
#include <string>

#include "link/LinkConfig.h"
#include "link/RtuClient.h"
#include "sim/Controller.h"

namespace {

struct Front {
    bool Chosen = false;
    std::unique_ptr<Sim::VirtualController> Virtual;
    std::unique_ptr<Link::RtuClient> Rtu;
    std::string SettingError; // the malformed setting's text
    std::string LastError;    // while there is no backend
};

Front& The()
{
    static Front Instance;
    return Instance;
}

void Choose()
{
    Front& F = The();
    if (F.Chosen)
        return;
    F.Chosen = true;
    const Link::LinkSetting S = Link::ReadLinkSetting();
    if (!S.Ok)
        F.SettingError = S.Error;
    else if (S.Config.Type == Link::LinkConfig::Kind::Virtual)
        F.Virtual = std::make_unique<Sim::VirtualController>();
    else
        F.Rtu = std::make_unique<Link::RtuClient>(S.Config);
}

// Runs Op on the backend; without one, the call fails with Text.
template <class Op>
VLM_BOOL Forward(Op Do, const std::string& Text = Sim::VirtualController::NotOpenText)
{
    Front& F = The();
    if (F.Virtual)
        return Do(*F.Virtual) ? 1 : 0;
    if (F.Rtu)
        return Do(*F.Rtu) ? 1 : 0;
    F.LastError = Text;
    return 0;
}

} // namespace

extern "C" {

VLM_BOOL VLM_OpenDevice(void)
{
    Choose();
    return Forward([](auto& D) { return D.OpenDevice(); }, The().SettingError);
}

VLM_BOOL VLM_CloseDevice(void)
{
    if (!The().Virtual && !The().Rtu)
        return 1;
    return Forward([](auto& D) { return D.CloseDevice(); });
}

VLM_BOOL VLM_GetInfo(char** text) { return Forward([&](auto& D) { return D.GetInfo(text); }); }

VLM_BOOL VLM_GetLastError(char** text)
{
    Front& F = The();
    if (F.Virtual || F.Rtu)
        return Forward([&](auto& D) { return D.GetLastError(text); });
    if (!text)
        return 0;
    *text = &F.LastError[0];
    return 1;
}

VLM_BOOL VLM_SetMode(int32_t step, int32_t decay) { return Forward([&](auto& D) { return D.SetMode(step, decay); }); }
VLM_BOOL VLM_SetIw(int32_t current) { return Forward([&](auto& D) { return D.SetIw(current); }); }
VLM_BOOL VLM_SetIa(int32_t current) { return Forward([&](auto& D) { return D.SetIa(current); }); }
VLM_BOOL VLM_SetIh(int32_t current) { return Forward([&](auto& D) { return D.SetIh(current); }); }
VLM_BOOL VLM_SetVm(int32_t speed) { return Forward([&](auto& D) { return D.SetVm(speed); }); }
VLM_BOOL VLM_SetVw(int32_t speed) { return Forward([&](auto& D) { return D.SetVw(speed); }); }
VLM_BOOL VLM_SetAw(int32_t acceleration) { return Forward([&](auto& D) { return D.SetAw(acceleration); }); }
VLM_BOOL VLM_SetLim(int32_t backward, int32_t forward, int32_t home)
{
    return Forward([&](auto& D) { return D.SetLim(backward, forward, home); });
}
VLM_BOOL VLM_SetCtrl(int32_t word) { return Forward([&](auto& D) { return D.SetCtrl(word); }); }
VLM_BOOL VLM_SetNc(int32_t coordinate) { return Forward([&](auto& D) { return D.SetNc(coordinate); }); }

VLM_BOOL VLM_StartD(int32_t dir) { return Forward([&](auto& D) { return D.StartD(dir); }); }
VLM_BOOL VLM_StartN(int32_t n) { return Forward([&](auto& D) { return D.StartN(n); }); }
VLM_BOOL VLM_StartdN(int32_t dn) { return Forward([&](auto& D) { return D.StartdN(dn); }); }
VLM_BOOL VLM_Home(int32_t dir) { return Forward([&](auto& D) { return D.Home(dir); }); }
VLM_BOOL VLM_Stop(void) { return Forward([](auto& D) { return D.Stop(); }); }
VLM_BOOL VLM_SavePar(void) { return Forward([](auto& D) { return D.SavePar(); }); }

VLM_BOOL VLM_GetStat(int32_t* state) { return Forward([&](auto& D) { return D.GetStat(state); }); }
VLM_BOOL VLM_GetNc(int32_t* coordinate) { return Forward([&](auto& D) { return D.GetNc(coordinate); }); }
VLM_BOOL VLM_GetNb(int32_t* coordinate) { return Forward([&](auto& D) { return D.GetNb(coordinate); }); }
VLM_BOOL VLM_GetVc(int32_t* speed) { return Forward([&](auto& D) { return D.GetVc(speed); }); }
VLM_BOOL VLM_GetLim(int32_t* word) { return Forward([&](auto& D) { return D.GetLim(word); }); }
VLM_BOOL VLM_GetAdc(int32_t* reading) { return Forward([&](auto& D) { return D.GetAdc(reading); }); }

} // extern "C"
