#include "sim/Controller.h"

#include <cmath>
#include <limits>

#include "sim/Storage.h"

namespace Sim {

namespace {

// The device text handed out; the caller only reads it.
char InfoBuffer[] = "Virtual controller VLM-1 (simulated)";

int32_t ToInt32(double V)
{
    if (std::isnan(V))
        return 0;
    if (V >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    if (V <= static_cast<double>(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(std::lround(V));
}

Drive DriveOf(const Parameters& P)
{
    Drive D;
    D.Vm = P.Vm;
    D.Vw = P.Vw;
    D.Aw = P.Aw;
    D.LimBackward = P.LimBackward;
    D.LimForward = P.LimForward;
    D.LimHome = P.LimHome;
    return D;
}

} // namespace

Options Options::FromEnvironment()
{
    Options O;
    O.StatePath = DefaultStatePath();
    O.ControlPath = DefaultControlPath(O.StatePath);
    return O;
}

VirtualController::VirtualController(Options Opts)
    : FOptions(std::move(Opts)), FControl(FOptions.ControlPath), FMotion(FOptions.Axis)
{
    if (!FOptions.Now)
        FOptions.Now = SteadyNow;
    // Power-on: the parameters stored in the EEPROM.
    if (!LoadParameters(FOptions.StatePath, FParams))
        FParams = Parameters();
    FMotion.SetDrive(DriveOf(FParams));
}

int32_t VirtualController::SupplyReading(int64_t NowNs)
{
    static const int32_t Ripple[4] = {240, 241, 240, 239};
    int64_t Quarter = NowNs / 250000000;
    if (NowNs < 0 && Quarter * 250000000 != NowNs)
        --Quarter;
    return Ripple[((Quarter % 4) + 4) % 4];
}

bool VirtualController::Fail(const std::string& Text, Refusal Why)
{
    FLastError = Text;
    FLastRefusal = Why;
    return false;
}

int64_t VirtualController::MoveOn()
{
    const int64_t Now = FOptions.Now();
    if (!FStarted) {
        FStarted = true;
        FNow = Now;
        FHeardAt = Now;
    } else if (Now > FNow) {
        // The watchdog runs out at its instant, however late the model
        // learns of it: the motion up to then, the ramp down from there.
        const int64_t Expiry = FHeardAt + static_cast<int64_t>(FWatchdogMs) * 1000000;
        const auto Moving = [this] {
            const int32_t S = FMotion.State();
            return FMotion.Moving() || S == StateRotating || S == StatePositioning ||
                   S == Core::StateEncoderPositioning || S == StateHoming;
        };
        if (FWatchdogMs > 0 && !FWatchdogSpent && Expiry <= Now && Moving()) {
            if (Expiry > FNow) {
                FMotion.Advance(static_cast<double>(Expiry - FNow) * 1e-9);
                FNow = Expiry;
            }
            if (Moving()) {
                FMotion.RampStop();
                FMotion.Advance(0);
                FWatchdogSpent = true;
                FWatchdogStopped = true;
            }
        }
        FMotion.Advance(static_cast<double>(Now - FNow) * 1e-9);
        FNow = Now;
    } else {
        FMotion.Advance(0);
    }
    return Now;
}

bool VirtualController::SetWatchdog(int32_t Ms)
{
    if (Ms < 0 || Ms > 65535)
        return Fail("Watchdog time " + std::to_string(Ms) + " ms is out of range 0..65535", {});
    Heard();
    FWatchdogMs = Ms;
    return true;
}

void VirtualController::Heard()
{
    MoveOn();
    FHeardAt = FNow;
    FWatchdogSpent = false;
}

bool VirtualController::TakeWatchdogStop()
{
    const bool Stopped = FWatchdogStopped;
    FWatchdogStopped = false;
    return Stopped;
}

bool VirtualController::LinkUp()
{
    FControl.Poll(MoveOn());
    return !FControl.LinkDown();
}

bool VirtualController::Begin(const char* Name, bool NeedLink, bool NeedOpen)
{
    const int64_t Now = MoveOn();
    FControl.Poll(Now);
    if (NeedLink && FControl.LinkDown())
        return Fail(LinkDownText, {});
    if (const std::string* Text = FControl.Failure(Name))
        return Fail(*Text);
    if (NeedOpen && !FOpen)
        return Fail(NotOpenText, {});
    return true;
}

void VirtualController::Apply(const Parameters& P)
{
    FParams = P;
    FMotion.SetDrive(DriveOf(P));
    FMotion.Advance(0);
}

bool VirtualController::OpenDevice()
{
    if (!Begin("VLM_OpenDevice", true, false))
        return false;
    FOpen = true;
    return true;
}

bool VirtualController::CloseDevice()
{
    if (!Begin("VLM_CloseDevice", false, false))
        return false;
    FOpen = false;
    return true;
}

bool VirtualController::GetInfo(char** Text)
{
    if (!Begin("VLM_GetInfo"))
        return false;
    if (!Text)
        return Fail("VLM_GetInfo: no place for the text (null pointer)");
    *Text = InfoBuffer;
    return true;
}

bool VirtualController::GetLastError(char** Text) { return HandOut(FLastError, Text); }

bool VirtualController::SetMode(int32_t Step, int32_t Decay)
{
    if (!Begin("VLM_SetMode") || Refuse(CheckStep(Step)) || Refuse(CheckDecay(Decay)))
        return false;
    FParams.Step = Step;
    FParams.Decay = Decay;
    return true;
}

bool VirtualController::Set(const char* Name, const Refusal& Why, int32_t Parameters::*Field, int32_t Value,
                            bool ToDrive)
{
    if (!Begin(Name) || Refuse(Why))
        return false;
    Parameters P = FParams;
    P.*Field = Value;
    if (ToDrive)
        Apply(P);
    else
        FParams = P;
    return true;
}

bool VirtualController::SetIw(int32_t Current)
{
    return Set("VLM_SetIw", CheckCurrent(Link::Reason::WorkingCurrent, Current), &Parameters::Iw, Current);
}

bool VirtualController::SetIa(int32_t Current)
{
    return Set("VLM_SetIa", CheckCurrent(Link::Reason::AccelerationCurrent, Current), &Parameters::Ia, Current);
}

bool VirtualController::SetIh(int32_t Current)
{
    return Set("VLM_SetIh", CheckCurrent(Link::Reason::HoldingCurrent, Current), &Parameters::Ih, Current);
}

bool VirtualController::SetVm(int32_t Speed) { return Set("VLM_SetVm", CheckVm(Speed), &Parameters::Vm, Speed, true); }
bool VirtualController::SetVw(int32_t Speed) { return Set("VLM_SetVw", CheckVw(Speed), &Parameters::Vw, Speed, true); }

bool VirtualController::SetAw(int32_t Acceleration)
{
    return Set("VLM_SetAw", CheckAw(Acceleration), &Parameters::Aw, Acceleration, true);
}

bool VirtualController::SetLim(int32_t Backward, int32_t Forward, int32_t Home)
{
    if (!Begin("VLM_SetLim") || Refuse(CheckInputWord(Link::Reason::BackwardLimitWord, Backward)) ||
        Refuse(CheckInputWord(Link::Reason::ForwardLimitWord, Forward)) || Refuse(CheckInputWord(Link::Reason::HomeSensorWord, Home)))
        return false;
    Parameters P = FParams;
    P.LimBackward = Backward;
    P.LimForward = Forward;
    P.LimHome = Home;
    Apply(P);
    return true;
}

bool VirtualController::SetCtrl(int32_t Word) { return Set("VLM_SetCtrl", CheckCtrl(Word), &Parameters::Ctrl, Word); }

bool VirtualController::SetNc(int32_t Coordinate)
{
    if (!Begin("VLM_SetNc"))
        return false;
    FMotion.SetCoordinate(Coordinate);
    return true;
}

template <class Fn>
bool VirtualController::Move(const char* Name, Fn Start, const Refusal& Why)
{
    if (!Begin(Name) || Refuse(Why))
        return false;
    Start();
    FMotion.Advance(0);
    return true;
}

bool VirtualController::StartD(int32_t Dir)
{
    const Refusal Why{Dir < -1 || Dir > 1 ? Link::Reason::Direction : Link::Reason::None, Dir};
    return Move("VLM_StartD", [&] { Dir == 0 ? FMotion.RampStop() : FMotion.Run(Dir); }, Why);
}

bool VirtualController::StartN(int32_t N)
{
    return Move("VLM_StartN", [&] { FMotion.MoveTo(N); });
}

bool VirtualController::StartdN(int32_t Dn)
{
    return Move("VLM_StartdN", [&] { FMotion.MoveTo(std::round(FMotion.Coordinate()) + Dn); });
}

bool VirtualController::Home(int32_t Dir)
{
    const Refusal Why = Dir != 1 && Dir != -1 ? Refusal{Link::Reason::HomingDirection, Dir}
                        : FParams.LimHome & InputEnabled ? Refusal{}
                                                         : Refusal{Link::Reason::HomingNeedsSensor, 0};
    return Move("VLM_Home", [&] { FMotion.Home(Dir); }, Why);
}

bool VirtualController::Stop()
{
    if (!Begin("VLM_Stop"))
        return false;
    FMotion.Halt();
    return true;
}

bool VirtualController::SavePar()
{
    if (!Begin("VLM_SavePar"))
        return false;
    if (const Core::Status Saved = SaveParameters(FOptions.StatePath, FParams); !Saved)
        return Fail(Saved.Text(), {Link::Reason::StoreFailed, 0});
    return true;
}

template <class Fn>
bool VirtualController::Read(const char* Name, int32_t* Out, Fn Value)
{
    if (!Begin(Name))
        return false;
    if (!Out)
        return Fail(std::string(Name) + ": no place for the result (null pointer)");
    *Out = Value();
    return true;
}

bool VirtualController::GetStat(int32_t* State)
{
    return Read("VLM_GetStat", State, [this] { return FMotion.State(); });
}

bool VirtualController::GetNc(int32_t* Coordinate)
{
    return Read("VLM_GetNc", Coordinate, [this] { return ToInt32(FMotion.Coordinate()); });
}

bool VirtualController::GetNb(int32_t* Coordinate)
{
    return Read("VLM_GetNb", Coordinate, [this] { return ToInt32(FMotion.HomeCoordinate()); });
}

bool VirtualController::GetVc(int32_t* Speed)
{
    return Read("VLM_GetVc", Speed, [this] { return ToInt32(FMotion.Velocity()); });
}

bool VirtualController::GetLim(int32_t* Word)
{
    return Read("VLM_GetLim", Word, [this] { return FMotion.Inputs(); });
}

bool VirtualController::GetAdc(int32_t* Reading)
{
    return Read("VLM_GetAdc", Reading, [this] { return SupplyReading(FNow); });
}

} // namespace Sim
