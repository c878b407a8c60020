// What the controller holds: its parameters read back through a library
// session (get-settings, apply-settings --verify and --diff) and the bus scan.
#include <ostream>

#include "device/DeviceText.h"
#include "libvelmor/velmor_session.h"
#include "velmorctl/Internal.h"

namespace VelmorCtl {
namespace Detail {

namespace {

// A session of the library on this run's link (the link setting, which --link
// has set for the process), opened for the life of the object.
class LibrarySession {
public:
    explicit LibrarySession(Context& Ctx) : FSession(VLMS_New(nullptr, 0))
    {
        if (!FSession)
            throw OpenFailed{"out of memory"};
        try {
            OpenWithLockWait(Ctx, [this] { return VLMS_OpenDevice(FSession) != 0; }, [this] { return Error(); });
        } catch (...) {
            VLMS_Free(FSession);
            throw;
        }
    }
    ~LibrarySession()
    {
        VLMS_CloseDevice(FSession);
        VLMS_Free(FSession);
    }
    LibrarySession(const LibrarySession&) = delete;
    LibrarySession& operator=(const LibrarySession&) = delete;

    VLMS_Session* Get() const { return FSession; }
    std::string Error() const
    {
        char* Text = nullptr;
        VLMS_GetLastError(FSession, &Text);
        return DeviceTextToUtf8(Text);
    }

private:
    VLMS_Session* FSession;
};

} // namespace

PanelSettings::DeviceParameters ReadHeldParameters(Context& Ctx)
{
    LibrarySession S(Ctx);
    VLMS_Parameters P{};
    if (!VLMS_ReadParameters(S.Get(), &P)) {
        const std::string Text = S.Error();
        throw LinkLostError{Text.empty() ? "the read failed" : Text};
    }
    PanelSettings::DeviceParameters D{};
    D.Step = P.step;
    D.Decay = P.decay;
    D.Ih = P.ih;
    D.Ia = P.ia;
    D.Iw = P.iw;
    D.Vm = P.vm;
    D.Vw = P.vw;
    D.Aw = P.aw;
    D.LimBackward = P.lim_backward;
    D.LimForward = P.lim_forward;
    D.LimHome = P.lim_home;
    D.Control = P.ctrl;
    return D;
}

std::vector<Difference> Differences(const PanelSettings::DeviceParameters& Held,
                                    const PanelSettings::DeviceParameters& Wanted)
{
    using D = PanelSettings::DeviceParameters;
    static const struct {
        const char* Name;
        int32_t D::*Field;
    } Fields[] = {{"step", &D::Step},
                  {"decay", &D::Decay},
                  {"ih", &D::Ih},
                  {"ia", &D::Ia},
                  {"iw", &D::Iw},
                  {"vm", &D::Vm},
                  {"vw", &D::Vw},
                  {"aw", &D::Aw},
                  {"limits.backward", &D::LimBackward},
                  {"limits.forward", &D::LimForward},
                  {"limits.home", &D::LimHome},
                  {"control", &D::Control}};
    std::vector<Difference> R;
    for (const auto& F : Fields)
        if (Held.*F.Field != Wanted.*F.Field)
            R.push_back({F.Name, Held.*F.Field, Wanted.*F.Field});
    return R;
}

namespace {

// "1-10,15,200-247": addresses 1..247, each once, in the order given.
std::vector<int32_t> AddressList(const std::string& Text)
{
    std::vector<int32_t> R;
    std::vector<bool> Seen(248, false);
    size_t From = 0;
    for (;;) {
        const size_t Comma = Text.find(',', From);
        const std::string Item = Text.substr(From, Comma == std::string::npos ? std::string::npos : Comma - From);
        const size_t Dash = Item.find('-', 1);
        int32_t Lo = 0, Hi = 0;
        const bool Ok = Dash == std::string::npos
                            ? ParseWhole(Item, Lo) && (Hi = Lo, true)
                            : ParseWhole(Item.substr(0, Dash), Lo) && ParseWhole(Item.substr(Dash + 1), Hi);
        if (!Ok || Lo < 1 || Hi > 247 || Lo > Hi || Item[0] == '+' || Item[0] == '-')
            throw UsageError{"--addresses takes addresses 1..247 and ranges such as 1-10, joined by commas, not '" +
                             Text + "'"};
        for (int32_t A = Lo; A <= Hi; ++A)
            if (!Seen[static_cast<size_t>(A)]) {
                Seen[static_cast<size_t>(A)] = true;
                R.push_back(A);
            }
        if (Comma == std::string::npos)
            return R;
        From = Comma + 1;
    }
}

struct ScanState {
    Context& Ctx;
    int Found = 0;
    int32_t Done = 0, Total = 0;
    bool Cancelled = false;
};

void OnFound(void* User, int32_t Address, const char* Info)
{
    auto& S = *static_cast<ScanState*>(User);
    ++S.Found;
    S.Ctx.Out << Address << "  " << DeviceTextToUtf8(Info) << '\n';
    S.Ctx.Out.flush();
}

VLM_BOOL OnProgress(void* User, int32_t Done, int32_t Total)
{
    auto& S = *static_cast<ScanState*>(User);
    S.Done = Done;
    S.Total = Total;
    // A line every sixteen addresses and at the end: the scan's pace
    // without a line per address.
    if (Done % 16 == 0 || Done == Total)
        S.Ctx.Err << "velmorctl: scanned " << Done << " of " << Total << " addresses\n";
    if (S.Ctx.Signal && S.Ctx.Signal() != 0) {
        S.Cancelled = true;
        return 0;
    }
    // Output that cannot be written ends the scan: nobody gets its results.
    return S.Ctx.Out ? 1 : 0;
}

} // namespace

int Scan(const std::vector<std::string>& Args, Context& Ctx)
{
    const ParsedArgs P = ParseArgs(Args, {{"--addresses", true}});
    ExpectPositionals(P, 0, 0);
    const std::vector<int32_t> Addresses =
        P.Has("--addresses") ? AddressList(P.Value("--addresses")) : std::vector<int32_t>{};
    ScanState S{Ctx};
    char Error[512] = "";
    const bool Ran = VLMS_Scan(nullptr, Addresses.empty() ? nullptr : Addresses.data(),
                               static_cast<int32_t>(Addresses.size()), OnFound, OnProgress, &S, Error, sizeof Error);
    CheckOutput(Ctx);
    if (!Ran)
        throw OpenFailed{DeviceTextToUtf8(Error)};
    if (S.Cancelled) {
        const int N = Ctx.Signal();
        Ctx.Err << "velmorctl: scan cancelled (" << SignalName(N) << ") after " << S.Done << " of " << S.Total
                << " addresses; " << S.Found << " found\n";
        return ExitSignal + N;
    }
    Ctx.Err << "velmorctl: " << S.Found << (S.Found == 1 ? " controller" : " controllers") << " found\n";
    return ExitOk;
}

} // namespace Detail
} // namespace VelmorCtl
