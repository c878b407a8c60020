// The library's own interface (libvelmor/velmor_session.h): sessions, each
// with its own link, address, backend and last error.
#include "libvelmor/velmor_session.h"

#include <new>
#include <string>

#include "libvelmor/Session.h"
#include "libvelmor/VirtualShare.h"
#include "link/Registers.h"
#include "link/RtuClient.h"
#include "linksetting/LinkConfig.h"

namespace Velmor {

namespace {

// The session's link as a setting: its own text, or the link setting.
Link::LinkSetting ReadLink(const VLMS_Session& S)
{
    if (S.FromSetting)
        return Link::ReadLinkSetting();
    Link::LinkSetting L;
    L.Source = "the session";
    const Core::Result<Link::LinkConfig> C = Link::ParseLinkLine(S.LinkText);
    if (!C) {
        L.Ok = false;
        L.Error = "Link of the session: " + C.Error() + " (read \"" + Link::Printable(S.LinkText) + "\")";
    } else {
        L.Config = *C;
    }
    return L;
}

} // namespace

void Choose(VLMS_Session& S)
{
    if (S.Active && S.Active->IsOpen())
        return;
    Link::LinkSetting L = ReadLink(S);
    if (L.Ok && S.Address != 0) {
        if (S.Address < Link::MinAddress || S.Address > Link::MaxAddress) {
            L.Ok = false;
            L.Error = "Session address " + std::to_string(S.Address) + " is out of range 1..247";
        } else {
            L.Config.Address = S.Address;
        }
    }
    S.SettingError.clear();
    if (!L.Ok) {
        S.Active.reset();
        S.SettingError = L.Error;
    } else if (L.Config.Type == Link::LinkConfig::Kind::Virtual) {
        // The share already held is kept, with its last error.
        if (!dynamic_cast<VirtualShare*>(S.Active.get()))
            S.Active = std::make_unique<VirtualShare>(L.Config.Address);
    } else {
        S.Active.reset();
        S.Active = std::make_unique<Link::RtuClient>(L.Config);
    }
}

VLM_BOOL Open(VLMS_Session& S)
{
    Choose(S);
    const std::string Text = S.SettingError;
    return Run(S, [](Device::Backend& D) { return D.OpenDevice(); }, Text.c_str());
}

VLM_BOOL Close(VLMS_Session& S)
{
    if (!S.Active)
        return 1;
    return Run(S, [](Device::Backend& D) { return D.CloseDevice(); });
}

VLM_BOOL LastError(VLMS_Session& S, char** Text)
{
    if (S.Active)
        return Run(S, [&](Device::Backend& D) { return D.GetLastError(Text); });
    if (!Text)
        return 0;
    *Text = &S.LastError[0];
    return 1;
}

} // namespace Velmor

namespace {

// A session call: under the session's lock; a null session fails.
template <class Op>
VLM_BOOL OnSession(VLMS_Session* S, Op Do)
{
    if (!S)
        return 0;
    std::lock_guard<std::mutex> Hold(S->Lock);
    return Do(*S);
}

// The parameter list of an operation with the session put first: the first
// type of the list gets a comma before it, and (void) becomes nothing.
#define VELMOR_SESSION_CAT(A, ...) VELMOR_SESSION_CAT_(A, __VA_ARGS__)
#define VELMOR_SESSION_CAT_(A, ...) A##__VA_ARGS__
#define VELMOR_SESSION_AFTER_int32_t , int32_t
#define VELMOR_SESSION_AFTER_char , char
#define VELMOR_SESSION_AFTER_void
#define VELMOR_SESSION_PARAMS(...) (VLMS_Session * session VELMOR_SESSION_CAT(VELMOR_SESSION_AFTER_, __VA_ARGS__))

} // namespace

extern "C" {

VLMS_Session* VLMS_New(const char* link, int32_t address)
{
    VLMS_Session* S = new (std::nothrow) VLMS_Session;
    if (!S)
        return nullptr;
    try {
        S->FromSetting = !link || !*link;
        S->LinkText = link ? link : "";
        S->Address = address;
    } catch (...) {
        delete S;
        return nullptr;
    }
    return S;
}

void VLMS_Free(VLMS_Session* session)
{
    if (!session)
        return;
    {
        std::lock_guard<std::mutex> Hold(session->Lock);
        session->Active.reset();
    }
    delete session;
}

VLM_BOOL VLMS_OpenDevice(VLMS_Session* session)
{
    return OnSession(session, [](VLMS_Session& S) { return Velmor::Open(S); });
}

VLM_BOOL VLMS_CloseDevice(VLMS_Session* session)
{
    return OnSession(session, [](VLMS_Session& S) { return Velmor::Close(S); });
}

VLM_BOOL VLMS_GetLastError(VLMS_Session* session, char** text)
{
    return OnSession(session, [&](VLMS_Session& S) { return Velmor::LastError(S, text); });
}

#define VELMOR_SESSION_OPERATION(Name, Params, Args)                                                                \
    VLM_BOOL VLMS_##Name VELMOR_SESSION_PARAMS Params                                                               \
    {                                                                                                               \
        return OnSession(session, [&](VLMS_Session& S) {                                                            \
            return Velmor::Run(S, [&](Device::Backend& D) { return D.Name Args; });                                 \
        });                                                                                                         \
    }
VELMOR_DEVICE_OPERATIONS(VELMOR_SESSION_OPERATION)
#undef VELMOR_SESSION_OPERATION

} // extern "C"
