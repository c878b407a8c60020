// The device library's C functions: a thin front over one backend, chosen
// from the link setting (linksetting/LinkConfig.h) at each VLM_OpenDevice made while
// no link is up, so a changed link.conf or $VELMOR_LINK takes effect at the
// next connection:
// - none, or "virtual": the in-process virtual controller (sim/Controller.h),
//   one for the life of the process: leaving it for a line and coming back
//   finds it as it was, like a controller that stayed powered;
// - "serial:..." or "tcp:...": the RTU client on the line (link/RtuClient.h),
//   made anew for each such open.
// Each function hands over to the backend's member of the same name
// (device/Backend.h); all but the link operations are made from the list of
// device/Operations.h. Before
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

#include "device/Backend.h"
#include "device/LibraryMark.h"
#include "linksetting/LinkConfig.h"
#include "link/RtuClient.h"
#include "sim/Controller.h"

namespace {

// The mark that tells a program this library reads the link setting
// (device/LibraryMark.h): an ELF note, kept by the linker for its "used".
struct Note {
    uint32_t NameSize;
    uint32_t DescSize;
    uint32_t Type;
    char Name[sizeof LibraryMark::NoteName + (4 - sizeof LibraryMark::NoteName % 4) % 4];
    uint32_t Version;
};
__attribute__((section(".note.velmor.link"), used, aligned(4))) const Note Mark = {
    sizeof LibraryMark::NoteName, sizeof(uint32_t), LibraryMark::NoteType, "Velmor", LibraryMark::FormatVersion};

struct Front {
    std::mutex Lock;
    Device::Backend* Active = nullptr; // one of the two below, or none
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

// Reads the setting and takes the backend it names, unless a link is up.
void Choose(Front& F)
{
    if (F.Active && F.Active->IsOpen())
        return;
    const Link::LinkSetting S = Link::ReadLinkSetting();
    F.Active = nullptr;
    F.Rtu.reset();
    F.SettingError.clear();
    if (!S.Ok) {
        F.SettingError = S.Error;
    } else if (S.Config.Type == Link::LinkConfig::Kind::Virtual) {
        if (!F.Virtual)
            F.Virtual = std::make_unique<Sim::VirtualController>();
        F.Active = F.Virtual.get();
    } else {
        F.Rtu = std::make_unique<Link::RtuClient>(S.Config);
        F.Active = F.Rtu.get();
    }
}

// Runs Do on the backend; without one, the call fails with Text. The caller
// holds the lock.
template <class Op>
VLM_BOOL Run(Front& F, Op Do, const std::string& Text = Sim::VirtualController::NotOpenText)
{
    if (F.Active)
        return Do(*F.Active) ? 1 : 0;
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
    return Run(F, [](Device::Backend& D) { return D.OpenDevice(); }, F.SettingError);
}

VLM_BOOL VLM_CloseDevice(void)
{
    Front& F = The();
    std::lock_guard<std::mutex> Hold(F.Lock);
    if (!F.Active)
        return 1;
    return Run(F, [](Device::Backend& D) { return D.CloseDevice(); });
}

VLM_BOOL VLM_GetLastError(char** text)
{
    Front& F = The();
    std::lock_guard<std::mutex> Hold(F.Lock);
    if (F.Active)
        return Run(F, [&](Device::Backend& D) { return D.GetLastError(text); });
    if (!text)
        return 0;
    *text = &F.LastError[0];
    return 1;
}

#define VELMOR_FORWARD(Name, Params, Args)                                                                          \
    VLM_BOOL VLM_##Name Params { return Forward([&](Device::Backend& D) { return D.Name Args; }); }
VELMOR_DEVICE_OPERATIONS(VELMOR_FORWARD)
#undef VELMOR_FORWARD

} // extern "C"
