// The motion commands and their --wait.
#include <cmath>
#include <ostream>

#include "device/Commands.h"
#include "settings/PanelSettings.h"
#include "velmorctl/Internal.h"

namespace VelmorCtl {
namespace Detail {

namespace {

constexpr int64_t PollInterval = 100 * Millisecond;

struct WaitOptions {
    bool Wait = false;
    int64_t Timeout = 0; // 0: none
};

// Parses "--wait [--timeout S]" around Count positionals.
WaitOptions ParseMotion(const std::vector<std::string>& Args, size_t Count, std::vector<std::string>& Positional)
{
    const ParsedArgs P = ParseArgs(Args, {{"--wait", false}, {"--timeout", true}});
    ExpectPositionals(P, Count, Count);
    WaitOptions W;
    W.Wait = P.Has("--wait");
    if (P.Has("--timeout")) {
        if (!W.Wait)
            throw UsageError{"--timeout goes with --wait"};
        W.Timeout = ParseSeconds("--timeout", P.Value("--timeout"));
    }
    Positional = P.Positional;
    return W;
}

int32_t Direction(const std::string& Word)
{
    if (Word == "forward")
        return 1;
    if (Word == "backward")
        return -1;
    throw UsageError{"the direction is 'forward' or 'backward', not '" + Word + "'"};
}

// A target or distance within the panel's "Требуемая координата:" field.
int32_t Coordinate(const std::string& Text)
{
    const PanelSettings::FieldRange R = PanelSettings::RangeOf(PanelSettings::Nr);
    const double Lo = std::ceil(R.Min), Hi = std::floor(R.Max);
    int32_t N = 0;
    if (!ParseWhole(Text, N) || N < Lo || N > Hi)
        throw UsageError{"N must be a whole number of half-steps from " + std::to_string(static_cast<long>(Lo)) +
                         " to " + std::to_string(static_cast<long>(Hi)) + ", not '" + Text + "'"};
    return N;
}

// States 0 "Stopped", 1 "Operation done" and 2 "Limit reached" are the ends
// of a motion; any other code, unknown ones included, is still under way.
bool Moving(int32_t State) { return State < 0 || State > 2; }

// After Ctrl-C or a timeout: the stop of the panel's stop button.
int StopAndFail(Context& Ctx, const char* Why, int Code)
{
    try {
        Commands::StartD(0);
    } catch (const EHardwareException& E) {
        Ctx.Err << "velmorctl: " << Why << "; the stop (VLM_StartD(0)) failed: " << E.Message() << '\n';
        return ExitFailed;
    }
    Ctx.Err << "velmorctl: " << Why << "; stop sent (VLM_StartD(0))\n";
    return Code;
}

int WaitForEnd(Context& Ctx, const WaitOptions& W, bool Homing)
{
    const int64_t Start = Ctx.Now();
    int64_t Next = Start;
    int32_t State = 0;
    for (;;) {
        Next += PollInterval;
        while (!Ctx.Interrupted() && Ctx.Now() < Next)
            Ctx.SleepUntil(Next);
        if (Ctx.Interrupted())
            return StopAndFail(Ctx, "interrupted", ExitInterrupted);
        State = Commands::GetStat();
        if (!Moving(State))
            break;
        const int64_t Now = Ctx.Now();
        if (W.Timeout > 0 && Now - Start >= W.Timeout) {
            const std::string Why = "still moving (" + std::string(Commands::StateText(State)) + ") after " +
                                    std::to_string(W.Timeout / Millisecond) + " ms";
            return StopAndFail(Ctx, Why.c_str(), ExitFailed);
        }
        if (Next + PollInterval < Now)
            Next = Now; // a slow read: poll again one interval from now
    }
    Line(Ctx.Out, "state: %s (%d)", Commands::StateText(State), State);
    Line(Ctx.Out, "coordinate: %d", Commands::GetNc());
    if (Homing && State == 1)
        Line(Ctx.Out, "home coordinate: %d", Commands::GetNb());
    if (State == 2) {
        Ctx.Err << "velmorctl: " << Commands::StateText(State) << '\n';
        return ExitFailed;
    }
    return ExitOk;
}

// Opens the device, sends the command, waits if asked, closes the device.
template <typename Send>
int Motion(Context& Ctx, const WaitOptions& W, Send Command, bool Homing = false)
{
    Session Device;
    Command();
    return W.Wait ? WaitForEnd(Ctx, W, Homing) : ExitOk;
}

} // namespace

int Run(const std::vector<std::string>& Args, Context& Ctx)
{
    std::vector<std::string> P;
    const WaitOptions W = ParseMotion(Args, 1, P);
    const int32_t Dir = Direction(P[0]);
    return Motion(Ctx, W, [&] { Commands::StartD(Dir); });
}

int Stop(const std::vector<std::string>& Args, Context& Ctx)
{
    std::vector<std::string> P;
    const WaitOptions W = ParseMotion(Args, 0, P);
    return Motion(Ctx, W, [] { Commands::StartD(0); });
}

int Halt(const std::vector<std::string>& Args, Context& Ctx)
{
    std::vector<std::string> P;
    const WaitOptions W = ParseMotion(Args, 0, P);
    return Motion(Ctx, W, [] { Commands::Stop(); });
}

int Goto(const std::vector<std::string>& Args, Context& Ctx)
{
    std::vector<std::string> P;
    const WaitOptions W = ParseMotion(Args, 1, P);
    const int32_t N = Coordinate(P[0]);
    return Motion(Ctx, W, [&] { Commands::StartN(N); });
}

int MoveBy(const std::vector<std::string>& Args, Context& Ctx)
{
    std::vector<std::string> P;
    const WaitOptions W = ParseMotion(Args, 1, P);
    const int32_t N = Coordinate(P[0]);
    return Motion(Ctx, W, [&] { Commands::StartdN(N); });
}

int Zero(const std::vector<std::string>& Args, Context& Ctx)
{
    std::vector<std::string> P;
    const WaitOptions W = ParseMotion(Args, 0, P);
    return Motion(Ctx, W, [] { Commands::StartN(0); });
}

int ResetCoordinate(const std::vector<std::string>& Args, Context& Ctx)
{
    std::vector<std::string> P;
    const WaitOptions W = ParseMotion(Args, 0, P);
    return Motion(Ctx, W, [] { Commands::SetNc(0); });
}

int Home(const std::vector<std::string>& Args, Context& Ctx)
{
    std::vector<std::string> P;
    const WaitOptions W = ParseMotion(Args, 1, P);
    const int32_t Dir = Direction(P[0]);
    return Motion(Ctx, W, [&] { Commands::Home(Dir); }, true);
}

} // namespace Detail
} // namespace VelmorCtl
