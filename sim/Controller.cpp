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
    } else if (Now > FNow) {
        FMotion.Advance(static_cast<double>(Now - FNow) * 1e-9);
        FNow = Now;
    } else {
        FMotion.Advance(0);
    }
    return Now;
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

bool VirtualController::GetLastError(char** Text)
{
    if (!Text)
        return false;
    *Text = const_cast<char*>(FLastError.c_str());
    return true;
}

bool VirtualController::SetMode(int32_t Step, int32_t Decay)
{
    if (!Begin("VLM_SetMode") || Refuse(CheckStep(Step)) || Refuse(CheckDecay(Decay)))
        return false;
    FParams.Step = Step;
    FParams.Decay = Decay;
    return true;
}

bool VirtualController::SetIw(int32_t Current)
{
    if (!Begin("VLM_SetIw") || Refuse(CheckCurrent(Link::Reason::WorkingCurrent, Current)))
        return false;
    FParams.Iw = Current;
    return true;
}

bool VirtualController::SetIa(int32_t Current)
{
    if (!Begin("VLM_SetIa") || Refuse(CheckCurrent(Link::Reason::AccelerationCurrent, Current)))
        return false;
    FParams.Ia = Current;
    return true;
}

bool VirtualController::SetIh(int32_t Current)
{
    if (!Begin("VLM_SetIh") || Refuse(CheckCurrent(Link::Reason::HoldingCurrent, Current)))
        return false;
    FParams.Ih = Current;
    return true;
}

bool VirtualController::SetVm(int32_t Speed)
{
    if (!Begin("VLM_SetVm") || Refuse(CheckVm(Speed)))
        return false;
    Parameters P = FParams;
    P.Vm = Speed;
    Apply(P);
    return true;
}

bool VirtualController::SetVw(int32_t Speed)
{
    if (!Begin("VLM_SetVw") || Refuse(CheckVw(Speed)))
        return false;
    Parameters P = FParams;
    P.Vw = Speed;
    Apply(P);
    return true;
}

bool VirtualController::SetAw(int32_t Acceleration)
{
    if (!Begin("VLM_SetAw") || Refuse(CheckAw(Acceleration)))
        return false;
    Parameters P = FParams;
    P.Aw = Acceleration;
    Apply(P);
    return true;
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

bool VirtualController::SetCtrl(int32_t Word)
{
    if (!Begin("VLM_SetCtrl") || Refuse(CheckCtrl(Word)))
        return false;
    FParams.Ctrl = Word;
    return true;
}

bool VirtualController::SetNc(int32_t Coordinate)
{
    if (!Begin("VLM_SetNc"))
        return false;
    FMotion.SetCoordinate(Coordinate);
    return true;
}

bool VirtualController::StartD(int32_t Dir)
{
    if (!Begin("VLM_StartD"))
        return false;
    if (Refuse({Dir < -1 || Dir > 1 ? Link::Reason::Direction : Link::Reason::None, Dir}))
        return false;
    if (Dir == 0)
        FMotion.RampStop();
    else
        FMotion.Run(Dir);
    FMotion.Advance(0);
    return true;
}

bool VirtualController::StartN(int32_t N)
{
    if (!Begin("VLM_StartN"))
        return false;
    FMotion.MoveTo(N);
    FMotion.Advance(0);
    return true;
}

bool VirtualController::StartdN(int32_t Dn)
{
    if (!Begin("VLM_StartdN"))
        return false;
    FMotion.MoveTo(std::round(FMotion.Coordinate()) + Dn);
    FMotion.Advance(0);
    return true;
}

bool VirtualController::Home(int32_t Dir)
{
    if (!Begin("VLM_Home"))
        return false;
    if (Refuse({Dir != 1 && Dir != -1 ? Link::Reason::HomingDirection : Link::Reason::None, Dir}) ||
        Refuse({FParams.LimHome & InputEnabled ? Link::Reason::None : Link::Reason::HomingNeedsSensor, 0}))
        return false;
    FMotion.Home(Dir);
    FMotion.Advance(0);
    return true;
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
    std::string Error;
    if (!SaveParameters(FOptions.StatePath, FParams, Error))
        return Fail(Error, {Link::Reason::StoreFailed, 0});
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
