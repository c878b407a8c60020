#include "linesim/Server.h"

#include "link/Registers.h"

namespace LineSim {

namespace {

using Link::Frame;
using Link::Request;

// The parameters in register order, two registers each from 0x0000.
int32_t Sim::Parameters::*const Fields[] = {
    &Sim::Parameters::Step,        &Sim::Parameters::Decay,      &Sim::Parameters::Iw,
    &Sim::Parameters::Ia,          &Sim::Parameters::Ih,         &Sim::Parameters::Vm,
    &Sim::Parameters::Vw,          &Sim::Parameters::Aw,         &Sim::Parameters::LimBackward,
    &Sim::Parameters::LimForward,  &Sim::Parameters::LimHome,    &Sim::Parameters::Ctrl,
};
constexpr unsigned FieldCount = sizeof(Fields) / sizeof(Fields[0]);
static_assert(2 * FieldCount == Link::Holding::ParameterCount, "every parameter register has its field");

// The setter a parameter goes through: step and decay together, the three
// limit words together, the others one by one.
int GroupOf(unsigned Field)
{
    if (Field <= 1)
        return 0;
    if (Field >= 8 && Field <= 10)
        return 8;
    return static_cast<int>(Field);
}

bool Within(const Request& R, uint32_t Low, uint32_t End)
{
    return R.Start >= Low && static_cast<uint32_t>(R.Start) + R.Count <= End;
}

std::vector<uint16_t> Slice(const std::vector<uint16_t>& Block, uint16_t BlockStart, const Request& R)
{
    const auto From = Block.begin() + (R.Start - BlockStart);
    return std::vector<uint16_t>(From, From + R.Count);
}

} // namespace

Frame Server::Handle(const Link::ParsedRequest& P)
{
    if (P.Status == Link::RequestStatus::Incomplete || P.Status == Link::RequestStatus::BadCrc ||
        P.Status == Link::RequestStatus::Garbage)
        return {};
    const Request& R = P.Req;
    const bool Broadcast = R.Address == Link::Broadcast;
    if (!Broadcast && R.Address != FAddress)
        return {};
    // A cut link: the controller hears nothing.
    if (!FDevice.LinkUp() || (!FDevice.IsOpen() && !FDevice.OpenDevice()))
        return {};
    // A request to this controller restarts the watchdog's count (a
    // broadcast does not: nobody answers it, it proves no master alive); a
    // watchdog that ran out before it leaves its reason for the master.
    if (!Broadcast)
        FDevice.Heard();
    if (FDevice.TakeWatchdogStop()) {
        FReason = static_cast<uint16_t>(Link::Reason::WatchdogExpired);
        FReasonValue = FDevice.Watchdog();
        FRangeGiven = false;
    }
    Frame Answer;
    bool Silent = false;
    if (P.Status == Link::RequestStatus::UnknownFunction)
        Answer = Exception(R, Link::IllegalFunction);
    else if (P.Status == Link::RequestStatus::BadCount)
        Answer = Refuse(R, Link::Reason::BadCount, R.Count);
    else
        Answer = Serve(R, Silent);
    if (Broadcast || Silent)
        return {};
    return Answer;
}

Frame Server::Serve(const Request& R, bool& Silent)
{
    switch (R.Function) {
    case Link::ReadInput: return ReadInputs(R, Silent);
    case Link::ReadHolding: return ReadHoldings(R);
    case Link::WriteMultiple:
        if (R.Start == Link::Holding::Command && R.Count == Link::Holding::CommandCount)
            return RunCommand(R, Silent);
        if (R.Start == Link::Holding::Watchdog && R.Count == 1) {
            if (!FDevice.SetWatchdog(R.Values[0]))
                return Refused(R, Silent);
            return Link::BuildWriteResponse(FAddress, R.Start, R.Count);
        }
        if (Within(R, 0, Link::Holding::ParameterCount) && R.Start % 2 == 0 && R.Count % 2 == 0)
            return WriteParameters(R, Silent);
        return Exception(R, Link::IllegalAddress);
    }
    return Exception(R, Link::IllegalFunction);
}

Frame Server::ReadInputs(const Request& R, bool& Silent)
{
    if (Within(R, 0, Link::Input::StatusCount)) {
        // Every value at the same instant: the clock is read once per request.
        Link::Status S;
        if (!FDevice.GetStat(&S.State) || !FDevice.GetNc(&S.Nc) || !FDevice.GetNb(&S.Nb) ||
            !FDevice.GetVc(&S.Vc) || !FDevice.GetLim(&S.Lim) || !FDevice.GetAdc(&S.Adc))
            return Refused(R, Silent);
        return Link::BuildReadResponse(FAddress, R.Function, Slice(Link::PackStatus(S), 0, R));
    }
    if (Within(R, Link::Input::Reason, Link::Input::Reason + Link::Input::ReasonRangeCount)) {
        std::vector<uint16_t> Block{FReason};
        Link::AppendInt32(Block, FReasonValue);
        Block.push_back(FRangeGiven ? 1 : 0);
        Link::AppendInt32(Block, FRangeGiven ? FLow : 0);
        Link::AppendInt32(Block, FRangeGiven ? FHigh : 0);
        return Link::BuildReadResponse(FAddress, R.Function, Slice(Block, Link::Input::Reason, R));
    }
    if (Within(R, Link::Input::Ident, Link::Input::Ident + Link::Input::IdentCount)) {
        char* Text = nullptr;
        if (!FDevice.GetInfo(&Text))
            return Refused(R, Silent);
        return Link::BuildReadResponse(FAddress, R.Function, Slice(Link::PackIdent(Text), Link::Input::Ident, R));
    }
    return Exception(R, Link::IllegalAddress);
}

Frame Server::ReadHoldings(const Request& R)
{
    if (Within(R, 0, Link::Holding::ParameterCount)) {
        std::vector<uint16_t> Block;
        const Sim::Parameters& P = FDevice.Params();
        for (auto Field : Fields)
            Link::AppendInt32(Block, P.*Field);
        return Link::BuildReadResponse(FAddress, R.Function, Slice(Block, 0, R));
    }
    if (R.Start == Link::Holding::Watchdog && R.Count == 1)
        return Link::BuildReadResponse(FAddress, R.Function,
                                       {static_cast<uint16_t>(FDevice.Watchdog())});
    if (Within(R, Link::Holding::Command, Link::Holding::Command + Link::Holding::CommandCount))
        return Link::BuildReadResponse(FAddress, R.Function,
                                       Slice(Link::CommandBlock(FLastCommand, FLastArgument), Link::Holding::Command, R));
    return Exception(R, Link::IllegalAddress);
}

Frame Server::WriteParameters(const Request& R, bool& Silent)
{
    // The values as they will be: those written over those held.
    Sim::Parameters P = FDevice.Params();
    const unsigned First = R.Start / 2, Count = R.Count / 2;
    for (unsigned I = 0; I < Count; ++I)
        P.*Fields[First + I] = Link::GetInt32(&R.Values[2 * I]);
    // Each setter once, in address order; a refusal stops there.
    int Done = -1;
    for (unsigned I = First; I < First + Count; ++I) {
        const int Group = GroupOf(I);
        if (Group == Done)
            continue;
        Done = Group;
        bool Ok = true;
        switch (Group) {
        case 0: Ok = FDevice.SetMode(P.Step, P.Decay); break;
        case 2: Ok = FDevice.SetIw(P.Iw); break;
        case 3: Ok = FDevice.SetIa(P.Ia); break;
        case 4: Ok = FDevice.SetIh(P.Ih); break;
        case 5: Ok = FDevice.SetVm(P.Vm); break;
        case 6: Ok = FDevice.SetVw(P.Vw); break;
        case 7: Ok = FDevice.SetAw(P.Aw); break;
        case 8: Ok = FDevice.SetLim(P.LimBackward, P.LimForward, P.LimHome); break;
        default: Ok = FDevice.SetCtrl(P.Ctrl); break;
        }
        if (!Ok)
            return Refused(R, Silent);
    }
    return Link::BuildWriteResponse(FAddress, R.Start, R.Count);
}

Frame Server::RunCommand(const Request& R, bool& Silent)
{
    const uint16_t Code = R.Values[0];
    const int32_t Argument = Link::GetInt32(&R.Values[1]);
    bool Ok = false;
    switch (Code) {
    case Link::Command::SetCoordinate: Ok = FDevice.SetNc(Argument); break;
    case Link::Command::Run: Ok = FDevice.StartD(Argument); break;
    case Link::Command::GoTo: Ok = FDevice.StartN(Argument); break;
    case Link::Command::MoveBy: Ok = FDevice.StartdN(Argument); break;
    case Link::Command::Home: Ok = FDevice.Home(Argument); break;
    case Link::Command::Stop: Ok = FDevice.Stop(); break;
    case Link::Command::Save: Ok = FDevice.SavePar(); break;
    default: return Refuse(R, Link::Reason::UnknownCommand, Code);
    }
    if (!Ok)
        return Refused(R, Silent);
    FLastCommand = Code;
    FLastArgument = Argument;
    return Link::BuildWriteResponse(FAddress, R.Start, R.Count);
}

Frame Server::Refused(const Request& R, bool& Silent)
{
    const Sim::Refusal& Why = FDevice.LastRefusal();
    if (!Why) {
        Silent = true;
        return {};
    }
    return Refuse(R, Why.Code, Why.Value);
}

Frame Server::Refuse(const Request& R, Link::Reason Why, int32_t Value)
{
    FReason = static_cast<uint16_t>(Why);
    FReasonValue = Value;
    FRangeGiven = Link::ReasonRange(Why, FLow, FHigh);
    return Exception(R, Link::ExceptionFor(Why));
}

Frame Server::Exception(const Request& R, uint8_t Code) const
{
    return Link::BuildException(FAddress, R.Function, Code);
}

} // namespace LineSim
