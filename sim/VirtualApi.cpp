// The device library's C functions: a thin front over one backend, chosen
// from the link setting (link/LinkConfig.h) at each VLM_OpenDevice made while
// no link is up, so a changed link.conf or $VELMOR_LINK takes effect at the
// next connection:
// - none, or "virtual": the in-process virtual controller (sim/Controller.h),
//   one for the life of the process: leaving it for a line and coming back
//   finds it as it was, like a controller that stayed powered;
// - "serial:..." or "tcp:...": the RTU client on the line (link/RtuClient.h),
//   made anew for each such open.
// Each function hands over to the backend's member of the same name. Before
// the first open there is no backend: a close is harmless and every other
// call fails as on a closed device. A malformed setting leaves no backend:
// every open fails with the text that says what is wrong and where, until
// the setting is mended.
//
// One mutex serialises every call, so two threads may call the library: each
// call runs whole, and the calls keep the order in which they took the lock.
#include "device/velmor.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "link/LinkConfig.h"
#include "link/RtuClient.h"
#include "sim/Controller.h"
#include "device/LibraryMark.h"

namespace {

// The mark that tells a program this library reads the link setting
// (sim/LibraryMark.h): an ELF note, kept by the linker for its "used".
struct Note {
    uint32_t NameSize;
    uint32_t DescSize;
    uint32_t Type;
    char Name[sizeof LibraryMark::NoteName + (4 - sizeof LibraryMark::NoteName % 4) % 4];
    uint32_t Version;
};
__attribute__((section(".note.velmor.link"), used, aligned(4))) const Note Mark = {
    sizeof LibraryMark::NoteName, sizeof(uint32_t), LibraryMark::NoteType, "Velmor", LibraryMark::FormatVersion};

enum class Backend { None, Virtual, Rtu };

struct Front {
    std::mutex Lock;
    Backend Active = Backend::None;
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

bool LinkUp(const Front& F)
{
    return (F.Active == Backend::Virtual && F.Virtual->IsOpen()) || (F.Active == Backend::Rtu && F.Rtu->IsOpen());
}

// Reads the setting and takes the backend it names, unless a link is up.
void Choose(Front& F)
{
    if (LinkUp(F))
        return;
    const Link::LinkSetting S = Link::ReadLinkSetting();
    F.Rtu.reset();
    F.SettingError.clear();
    if (!S.Ok) {
        F.Active = Backend::None;
        F.SettingError = S.Error;
    } else if (S.Config.Type == Link::LinkConfig::Kind::Virtual) {
        if (!F.Virtual)
            F.Virtual = std::make_unique<Sim::VirtualController>();
        F.Active = Backend::Virtual;
    } else {
        F.Rtu = std::make_unique<Link::RtuClient>(S.Config);
        F.Active = Backend::Rtu;
    }
}

// Runs Do on the backend; without one, the call fails with Text. The caller
// holds the lock.
template <class Op>
VLM_BOOL Run(Front& F, Op Do, const std::string& Text = Sim::VirtualController::NotOpenText)
{
    if (F.Active == Backend::Virtual)
        return Do(*F.Virtual) ? 1 : 0;
    if (F.Active == Backend::Rtu)
        return Do(*F.Rtu) ? 1 : 0;
    F.LastError = Text;
    return 0;
}

// The same under the lock.
template <class Op>
VLM_BOOL Forward(Op Do)
{
    Front& F = The();
    std::lock_guard<std::mutex> Hold(F.Lock);
    return Run(F, Do);
}

} // namespace

extern "C" {

VLM_BOOL VLM_OpenDevice(void)
{
    Front& F = The();
    std::lock_guard<std::mutex> Hold(F.Lock);
    Choose(F);
    return Run(F, [](auto& D) { return D.OpenDevice(); }, F.SettingError);
}

VLM_BOOL VLM_CloseDevice(void)
{
    Front& F = The();
    std::lock_guard<std::mutex> Hold(F.Lock);
    if (F.Active == Backend::None)
        return 1;
    return Run(F, [](auto& D) { return D.CloseDevice(); });
}

VLM_BOOL VLM_GetLastError(char** text)
{
    Front& F = The();
    std::lock_guard<std::mutex> Hold(F.Lock);
    if (F.Active != Backend::None)
        return Run(F, [&](auto& D) { return D.GetLastError(text); });
    if (!text)
        return 0;
    *text = &F.LastError[0];
    return 1;
}

VLM_BOOL VLM_GetInfo(char** text) { return Forward([&](auto& D) { return D.GetInfo(text); }); }

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
