// The library's own interface (libvelmor/velmor_session.h): sessions, each
// with its own link, address, backend and last error.
#include "libvelmor/velmor_session.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

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

// Cuts Text into Out (Size bytes, zero-terminated).
void Put(const std::string& Text, char* Out, size_t Size)
{
    if (!Out || Size == 0)
        return;
    const size_t N = std::min(Text.size(), Size - 1);
    std::memcpy(Out, Text.data(), N);
    Out[N] = '\0';
}

// The scan's addresses: the list given, each checked, or 1..247.
bool ScanList(const int32_t* Addresses, int32_t Count, std::vector<uint8_t>& Out, std::string& Error)
{
    if (!Addresses || Count == 0) {
        for (int A = Link::MinAddress; A <= Link::MaxAddress; ++A)
            Out.push_back(static_cast<uint8_t>(A));
        return true;
    }
    if (Count < 0 || Count > 4096) {
        Error = "VLMS_Scan: " + std::to_string(Count) + " addresses is not a list to scan";
        return false;
    }
    for (int32_t I = 0; I < Count; ++I) {
        if (Addresses[I] < Link::MinAddress || Addresses[I] > Link::MaxAddress) {
            Error = "VLMS_Scan: address " + std::to_string(Addresses[I]) + " is out of range 1..247";
            return false;
        }
        Out.push_back(static_cast<uint8_t>(Addresses[I]));
    }
    return true;
}

VLM_BOOL Scan(const char* LinkText, const int32_t* Addresses, int32_t Count, VLMS_FoundFn Found,
              VLMS_ProgressFn Progress, void* User, char* Error, size_t ErrorSize)
{
    std::vector<uint8_t> List;
    std::string Why;
    if (!ScanList(Addresses, Count, List, Why)) {
        Put(Why, Error, ErrorSize);
        return 0;
    }
    VLMS_Session Probe; // only its link is used
    Probe.FromSetting = !LinkText || !*LinkText;
    Probe.LinkText = LinkText ? LinkText : "";
    const Link::LinkSetting L = Velmor::ReadLink(Probe);
    if (!L.Ok) {
        Put(L.Error, Error, ErrorSize);
        return 0;
    }
    const int32_t Total = static_cast<int32_t>(List.size());
    if (L.Config.Type == Link::LinkConfig::Kind::Virtual) {
        // The in-process model, at address 1, unless its link is cut.
        bool Up = false;
        {
            std::lock_guard<std::mutex> Hold(Velmor::ModelLock());
            Up = Velmor::Model().LinkUp();
        }
        for (int32_t I = 0; I < Total; ++I) {
            if (List[I] == 1 && Up && Found)
                Found(User, 1, Sim::VirtualController::InfoText);
            if (Progress && !Progress(User, I + 1, Total))
                break;
        }
        Put("", Error, ErrorSize);
        return 1;
    }
    Link::RtuClient Client(L.Config);
    if (!Client.OpenForScan()) {
        Put(Client.LastError(), Error, ErrorSize);
        return 0;
    }
    std::string Info;
    for (int32_t I = 0; I < Total; ++I) {
        const Link::RtuClient::Probe P = Client.ProbeAt(List[I], Info);
        if (P == Link::RtuClient::Probe::Failed) {
            Put(Client.LastError(), Error, ErrorSize);
            return 0;
        }
        if (P == Link::RtuClient::Probe::Found && Found)
            Found(User, List[I], Info.c_str());
        if (Progress && !Progress(User, I + 1, Total))
            break;
    }
    Put("", Error, ErrorSize);
    return 1;
}

// The parameters from either backend.
bool ReadParameters(Device::Backend& D, VLMS_Parameters* Out)
{
    int32_t V[Link::RtuClient::ParameterCount] = {};
    bool Ok = false;
    if (auto* Line = dynamic_cast<Link::RtuClient*>(&D))
        Ok = Line->ReadParameters(Out ? V : nullptr);
    else if (auto* Share = dynamic_cast<Velmor::VirtualShare*>(&D))
        Ok = Share->ReadParameters(Out ? V : nullptr);
    if (!Ok)
        return false;
    *Out = VLMS_Parameters{V[0], V[1], V[2], V[3], V[4], V[5], V[6], V[7], V[8], V[9], V[10], V[11]};
    return true;
}

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

VLM_BOOL VLMS_Scan(const char* link, const int32_t* addresses, int32_t count, VLMS_FoundFn found,
                   VLMS_ProgressFn progress, void* user, char* error, size_t error_size)
{
    try {
        return Scan(link, addresses, count, found, progress, user, error, error_size);
    } catch (const std::exception& E) {
        Put(std::string("VLMS_Scan: ") + E.what(), error, error_size);
        return 0;
    }
}

VLM_BOOL VLMS_ReadParameters(VLMS_Session* session, VLMS_Parameters* out)
{
    return OnSession(session, [&](VLMS_Session& S) {
        return Velmor::Run(S, [&](Device::Backend& D) { return ReadParameters(D, out); });
    });
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
