// The motion commands, their --wait, and wait.
#include <cmath>
#include <ostream>

#include "core/DeviceState.h"
#include "device/Commands.h"
#include "settings/PanelSettings.h"
#include "velmorctl/Internal.h"

namespace VelmorCtl {
namespace Detail {

namespace {

constexpr int64_t PollInterval = 100 * Millisecond;

struct WaitOptions {
    bool Wait = false;
    bool Json = false;
    int64_t Timeout = 0; // 0: none
};

// What a motion is for, which decides how its rest is judged.
enum class Goal {
    Rest,   // stop, halt, reset-coordinate: any rest is the end asked for
    Free,   // run, wait: a limit switch is a failure, any other rest is not
    Target, // goto, zero, wait --target: the rest must be on the target
    Done,   // move-by: the controller must say "Operation done"
    Home,   // home: as Done, and the home coordinate is read
};

WaitOptions WaitFlags(const ParsedArgs& P, bool Always)
{
    WaitOptions W;
    W.Wait = Always || P.Has("--wait");
    W.Json = P.Has("--json");
    if (P.Has("--timeout")) {
        if (!W.Wait)
            throw UsageError{"--timeout goes with --wait"};
        W.Timeout = ParseSeconds("--timeout", P.Value("--timeout"));
    }
    if (W.Json && !W.Wait)
        throw UsageError{"--json goes with --wait"};
    return W;
}

// Parses "--wait [--timeout S] [--json]" around Count positionals.
WaitOptions ParseMotion(const std::vector<std::string>& Args, size_t Count, std::vector<std::string>& Positional)
{
    const ParsedArgs P = ParseArgs(Args, {{"--wait", false}, {"--timeout", true}, {"--json", false}});
    ExpectPositionals(P, Count, Count);
    Positional = P.Positional;
    return WaitFlags(P, false);
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

// A motion has ended (stopped, done, limit); any other code, unknown ones
// included, is still under way. A tripped limit switch shows its state while
// the motor still ramps down, so rest also needs a speed of 0.
bool AtRest(int32_t State, int32_t Speed) { return Core::StateEnded(State) && Speed == 0; }

struct Waiter {
    Context& Ctx;
    const WaitOptions& W;
    Goal G;
    int32_t Target;
    int64_t Start;

    bool StopSent = false;
    int Code = ExitOk;
    std::string Reason = {};

    // Sends the stop of the panel's stop button. False when it failed: the
    // failure is said and the code set.
    bool SendStop(const std::string& Why, int IfSent)
    {
        try {
            Commands::StartD(0);
        } catch (const EHardwareException& E) {
            Ctx.Err << "velmorctl: " << Why << "; the stop (VLM_StartD(0)) failed: " << E.Message()
                    << "; the motor may still be moving\n";
            Code = ExitLinkLost;
            Reason = "link lost";
            return false;
        }
        Ctx.Err << "velmorctl: " << Why << "; stop sent (VLM_StartD(0))\n";
        StopSent = true;
        Code = IfSent;
        return true;
    }

    // A read failed while waiting: the motor's motion can no longer be
    // seen. One stop is tried when none was sent yet.
    int LinkLost(const std::string& Text)
    {
        if (StopSent) {
            Ctx.Err << "velmorctl: the link was lost while the motor came to rest: " << Text
                    << "; the stop was sent, the motor may still be moving\n";
        } else {
            bool Sent = false;
            try {
                Commands::StartD(0);
                Sent = true;
            } catch (const EHardwareException&) {
            }
            if (Sent)
                Ctx.Err << "velmorctl: the link failed during the wait: " << Text
                        << "; stop sent (VLM_StartD(0)), the motor may still be moving until it has ramped down\n";
            else
                Ctx.Err << "velmorctl: the link was lost during the wait: " << Text
                        << "; the motor may still be moving and no stop could be sent\n";
        }
        if (W.Json)
            Line(Ctx.Out,
                 "{\"state\":null,\"state_code\":null,\"coordinate\":null,\"target\":%s,\"on_target\":null,"
                 "\"elapsed_s\":%.3f,\"reason\":\"link lost\"}",
                 G == Goal::Target ? std::to_string(Target).c_str() : "null",
                 static_cast<double>(Ctx.Now() - Start) / Second);
        return ExitLinkLost;
    }

    int Run()
    {
        int64_t Next = Ctx.Now();
        int32_t State = 0;
        bool Polled = false;
        int Calm = 0;
        for (;;) {
            Next += PollInterval;
            while (!Ctx.Signal() && Ctx.Now() < Next)
                Ctx.SleepUntil(Next);
            if (!StopSent) {
                if (const int N = Ctx.Signal()) {
                    Reason = "signal";
                    if (!SendStop("interrupted (" + SignalName(N) + ")", ExitSignal + N))
                        return ExitLinkLost;
                } else if (W.Timeout > 0 && Ctx.Now() - Start >= W.Timeout) {
                    Reason = "timeout";
                    const std::string How = Polled ? " (" + std::string(Commands::StateText(State)) + ")" : "";
                    if (!SendStop("still moving" + How + " after " + std::to_string(W.Timeout / Millisecond) +
                                      " ms",
                                  ExitTimeout))
                        return ExitLinkLost;
                }
            }
            int32_t Speed = 0;
            try {
                State = Commands::GetStat();
                Speed = Commands::GetVc();
                Polled = true;
            } catch (const EHardwareException& E) {
                return LinkLost(E.Message());
            }
            // At rest in two reads one poll apart: a single read of rest may
            // fall between a stop and the next command of a sequence.
            Calm = AtRest(State, Speed) ? Calm + 1 : 0;
            if (Calm == 2)
                break;
            const int64_t Now = Ctx.Now();
            if (Next + PollInterval < Now)
                Next = Now; // a slow read: poll again one interval from now
        }
        int32_t Nc = 0, Nb = 0;
        try {
            Nc = Commands::GetNc();
            if (G == Goal::Home && State == Core::StateDone)
                Nb = Commands::GetNb();
        } catch (const EHardwareException& E) {
            return LinkLost(E.Message());
        }
        const double Elapsed = static_cast<double>(Ctx.Now() - Start) / Second;
        const bool OnTarget = G == Goal::Target && Nc == Target;

        if (!StopSent) {
            const bool Limit = State == Core::StateLimit;
            switch (G) {
            case Goal::Rest:
                Reason = "done";
                break;
            case Goal::Free:
                Reason = Limit ? "limit" : State == Core::StateStopped ? "stopped" : "done";
                break;
            case Goal::Target:
                // A limit switch ends the motion even when its ramp happens
                // to stop on the target.
                Reason = Limit ? "limit" : OnTarget ? "done" : "short of target";
                break;
            case Goal::Done:
            case Goal::Home:
                Reason = State == Core::StateDone ? "done" : Limit ? "limit" : "short of target";
                break;
            }
            Code = Reason == "limit" ? ExitLimit : Reason == "short of target" ? ExitRefused : ExitOk;
        }

        const char* Text = Commands::StateText(State);
        if (W.Json) {
            std::string Extra;
            if (G == Goal::Home && State == Core::StateDone)
                Extra = ",\"home_coordinate\":" + std::to_string(Nb);
            Line(Ctx.Out,
                 "{\"state\":%s,\"state_code\":%d,\"coordinate\":%d,\"target\":%s,\"on_target\":%s,"
                 "\"elapsed_s\":%.3f,\"reason\":%s%s}",
                 JsonString(Text).c_str(), State, Nc, G == Goal::Target ? std::to_string(Target).c_str() : "null",
                 G == Goal::Target ? (OnTarget ? "true" : "false") : "null", Elapsed, JsonString(Reason).c_str(),
                 Extra.c_str());
        } else {
            Line(Ctx.Out, "state: %s (%d)", Text, State);
            Line(Ctx.Out, "coordinate: %d", Nc);
            if (G == Goal::Target)
                Line(Ctx.Out, "target: %d (%s)", Target, OnTarget ? "reached" : "not reached");
            if (G == Goal::Home && State == Core::StateDone)
                Line(Ctx.Out, "home coordinate: %d", Nb);
        }
        if (Reason == "limit")
            Ctx.Err << "velmorctl: " << Text << ": a limit switch stopped the motion at " << Nc << '\n';
        else if (Reason == "short of target")
            Ctx.Err << "velmorctl: the motor came to rest at " << Nc << " (" << Text << ") short of its target\n";
        return Code;
    }
};

// Opens the device, sends the command, waits if asked, closes the device.
template <typename Send>
int Motion(Context& Ctx, const WaitOptions& W, Goal G, int32_t Target, Send Command)
{
    Session Device(Ctx);
    const int64_t Start = Ctx.Now();
    Command();
    if (!W.Wait)
        return ExitOk;
    Waiter Wt{Ctx, W, G, Target, Start};
    return Wt.Run();
}

// A motion command without an argument.
int Plain(const std::vector<std::string>& Args, Context& Ctx, Goal G, void (*Call)())
{
    std::vector<std::string> P;
    const WaitOptions W = ParseMotion(Args, 0, P);
    return Motion(Ctx, W, G, 0, Call);
}

// A motion command with one argument, read by Read (a direction or a
// coordinate); with Aimed, --wait aims at the coordinate given.
int WithArgument(const std::vector<std::string>& Args, Context& Ctx, int32_t (*Read)(const std::string&), Goal G,
                 bool Aimed, void (*Call)(int32_t))
{
    std::vector<std::string> P;
    const WaitOptions W = ParseMotion(Args, 1, P);
    const int32_t N = Read(P[0]);
    return Motion(Ctx, W, G, Aimed ? N : 0, [&] { Call(N); });
}

using Words = std::vector<std::string>;

} // namespace

int Run(const Words& A, Context& Ctx) { return WithArgument(A, Ctx, Direction, Goal::Free, false, Commands::StartD); }
int Stop(const Words& A, Context& Ctx) { return Plain(A, Ctx, Goal::Rest, [] { Commands::StartD(0); }); }
int Halt(const Words& A, Context& Ctx) { return Plain(A, Ctx, Goal::Rest, Commands::Stop); }
int Goto(const Words& A, Context& Ctx)
{
    return WithArgument(A, Ctx, Coordinate, Goal::Target, true, Commands::StartN);
}
int MoveBy(const Words& A, Context& Ctx)
{
    return WithArgument(A, Ctx, Coordinate, Goal::Done, false, Commands::StartdN);
}
int Zero(const Words& A, Context& Ctx) { return Plain(A, Ctx, Goal::Target, [] { Commands::StartN(0); }); }
int ResetCoordinate(const Words& A, Context& Ctx) { return Plain(A, Ctx, Goal::Rest, [] { Commands::SetNc(0); }); }
int Home(const Words& A, Context& Ctx) { return WithArgument(A, Ctx, Direction, Goal::Home, false, Commands::Home); }

int Wait(const std::vector<std::string>& Args, Context& Ctx)
{
    const ParsedArgs P = ParseArgs(Args, {{"--target", true}, {"--timeout", true}, {"--json", false}});
    ExpectPositionals(P, 0, 0);
    const WaitOptions W = WaitFlags(P, true);
    const bool HasTarget = P.Has("--target");
    const int32_t Target = HasTarget ? Coordinate(P.Value("--target")) : 0;
    return Motion(Ctx, W, HasTarget ? Goal::Target : Goal::Free, Target, [] {});
}

} // namespace Detail
} // namespace VelmorCtl
