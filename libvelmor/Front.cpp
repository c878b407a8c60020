// The device library's C functions: a thin front over one device session
// (libvelmor/Session.h), the default one, whose backend is chosen from the
// link setting (linksetting/LinkConfig.h) at each VLM_OpenDevice made while
// no link is up, so a changed link.conf or $VELMOR_LINK takes effect at the
// next connection:
// - none, or "virtual": the in-process virtual controller (sim/Controller.h),
//   one for the life of the process, shared with the sessions on it
//   (libvelmor/VirtualShare.h): leaving it for a line and coming back finds it
//   as it was, like a controller that stayed powered;
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
// The session's mutex serialises every call, so two threads may call the
// library: each call runs whole, and the calls keep the order in which they
// took the lock.
#include "device/velmor.h"

#include <cstdint>
#include <mutex>

#include "device/Backend.h"
#include "device/LibraryMark.h"
#include "libvelmor/Session.h"

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

// The default session: the link setting, the address it names.
VLMS_Session& Default()
{
    static VLMS_Session Instance;
    return Instance;
}

// A call on the default session, under its lock.
template <class Op>
VLM_BOOL Forward(Op Do)
{
    VLMS_Session& S = Default();
    std::lock_guard<std::mutex> Hold(S.Lock);
    return Velmor::Run(S, Do);
}

} // namespace

extern "C" {

VLM_BOOL VLM_OpenDevice(void)
{
    VLMS_Session& S = Default();
    std::lock_guard<std::mutex> Hold(S.Lock);
    return Velmor::Open(S);
}

VLM_BOOL VLM_CloseDevice(void)
{
    VLMS_Session& S = Default();
    std::lock_guard<std::mutex> Hold(S.Lock);
    return Velmor::Close(S);
}

VLM_BOOL VLM_GetLastError(char** text)
{
    VLMS_Session& S = Default();
    std::lock_guard<std::mutex> Hold(S.Lock);
    return Velmor::LastError(S, text);
}

#define VELMOR_FORWARD(Name, Params, Args)                                                                          \
    VLM_BOOL VLM_##Name Params { return Forward([&](Device::Backend& D) { return D.Name Args; }); }
VELMOR_DEVICE_OPERATIONS(VELMOR_FORWARD)
#undef VELMOR_FORWARD

} // extern "C"
