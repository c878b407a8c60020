#include "link/RtuClient.h"

#include <algorithm>
#include <utility>

namespace Link {

RtuClient::RtuClient(LinkConfig Config, Clock Now) : FConfig(std::move(Config)), FNow(Now ? Now : NowUs) {}

RtuClient::~RtuClient() = default;

std::string RtuClient::ExceptionText(const char* Name, uint8_t Code)
{
    const std::string Call = std::string(Name) + ": ";
    if (Code == IllegalValue || Code == ServerDeviceFailure) {
        // The reason with the range the controller checked against; a
        // controller without the range registers refuses that read (0x02)
        // and is asked for the reason alone.
        Response Why;
        const uint8_t Address = static_cast<uint8_t>(FConfig.Address);
        Result Rr = Transact(Name, ReadRequest(Address, ReadInput, Input::Reason, Input::ReasonRangeCount),
                             Tries::Twice, Why);
        if (Rr == Result::Exception && Why.Code == IllegalAddress)
            Rr = Transact(Name, ReadRequest(Address, ReadInput, Input::Reason, Input::ReasonCount), Tries::Twice, Why);
        if (Rr == Result::Failed)
            return FLastError;
        if (Rr == Result::Ok && Why.Values.size() >= Input::ReasonCount && Why.Values[0] != 0) {
            if (Why.Values.size() == Input::ReasonRangeCount && Why.Values[3] == 1)
                return ReasonText(Why.Values[0], GetInt32(&Why.Values[1]), GetInt32(&Why.Values[4]),
                                  GetInt32(&Why.Values[6]));
            return ReasonText(Why.Values[0], GetInt32(&Why.Values[1]));
        }
        return Call + (Code == IllegalValue ? "the controller refused the request and gave no reason"
                                            : "the controller reports a device failure");
    }
    switch (Code) {
    case IllegalFunction:
        return Call + "the controller does not know this request (Modbus exception 1, illegal function)";
    case IllegalAddress:
        return Call + "the controller has no such register (Modbus exception 2, illegal data address)";
    case DeviceBusy:
        return Call + "the controller is busy (Modbus exception 6); try again";
    case GatewayPathUnavailable:
    case GatewayNoAnswer:
        return Call + "the gateway had no answer from the line (Modbus exception " + std::to_string(Code) + ")";
    default:
        return Call + "the controller answered with Modbus exception " + std::to_string(Code);
    }
}

bool RtuClient::Write(const char* Name, uint16_t Start, std::vector<uint16_t> Values, bool Repeatable)
{
    FStatusFresh = false;
    Response Got;
    Result R = Transact(Name, WriteRequest(static_cast<uint8_t>(FConfig.Address), Start, std::move(Values)),
                        Repeatable ? Tries::Twice : Tries::Once, Got);
    if (R == Result::Exception) {
        std::string Text = ExceptionText(Name, Got.Code);
        return Fail(Text);
    }
    return R == Result::Ok;
}

bool RtuClient::Command(const char* Name, uint16_t Code, int32_t Argument, bool Repeatable)
{
    return Write(Name, Holding::Command, CommandBlock(Code, Argument), Repeatable);
}

bool RtuClient::Read(const char* Name, int32_t* Out, int32_t Status::*Field)
{
    if (!IsOpen())
        return Fail(NotOpenText);
    if (!Out)
        return Fail(std::string(Name) + ": no place for the result (null pointer)");
    if (!FStatusFresh || FNow() - FStatusAt > FreshUs) {
        FStatusFresh = false;
        Response Got;
        Result R = Transact(
            Name, ReadRequest(static_cast<uint8_t>(FConfig.Address), ReadInput, Input::State, Input::StatusCount),
            Tries::Twice, Got);
        if (R == Result::Exception)
            return Fail(ExceptionText(Name, Got.Code));
        if (R == Result::Failed)
            return false;
        if (!UnpackStatus(Got.Values.data(), Got.Values.size(), FStatus))
            return Lose(std::string(Name) + ": the status block came back with " + std::to_string(Got.Values.size()) +
                        " registers");
        FStatusAt = FNow();
        FStatusFresh = true;
    }
    *Out = FStatus.*Field;
    return true;
}

bool RtuClient::ReadParameters(int32_t* Out)
{
    static constexpr const char* Name = "VLMS_ReadParameters";
    if (!IsOpen())
        return Fail(NotOpenText);
    if (!Out)
        return Fail(std::string(Name) + ": no place for the result (null pointer)");
    Response Got;
    Result R = Transact(Name,
                        ReadRequest(static_cast<uint8_t>(FConfig.Address), ReadHolding, Holding::Step,
                                    Holding::ParameterCount),
                        Tries::Twice, Got);
    if (R == Result::Exception)
        return Fail(ExceptionText(Name, Got.Code));
    if (R == Result::Failed)
        return false;
    if (Got.Values.size() != 2u * ParameterCount)
        return Fail(std::string(Name) + ": the parameters came back with " + std::to_string(Got.Values.size()) +
                    " registers");
    for (size_t I = 0; I < ParameterCount; ++I)
        Out[I] = GetInt32(&Got.Values[2 * I]);
    return true;
}

bool RtuClient::OpenDevice()
{
    FInfo.clear();
    if (!Join("VLM_OpenDevice"))
        return false;
    Response Got;
    Result R = Transact("VLM_OpenDevice",
                        ReadRequest(static_cast<uint8_t>(FConfig.Address), ReadInput, Input::Ident, Input::IdentCount),
                        Tries::Probe, Got);
    if (R == Result::Exception) {
        const std::string Text = "VLM_OpenDevice: the device at " + Where() +
                                 " answered the identification read with Modbus exception " +
                                 std::to_string(Got.Code) + "; is it a Velmor controller?";
        FShared.reset();
        FOpening = 0;
        return Fail(Text);
    }
    if (R == Result::Failed)
        return false;
    FInfo = std::string(OverMbap() ? "Modbus TCP " : "RTU ") + Where() + ": " + UnpackIdent(Got.Values.data(), Got.Values.size());
    return true;
}

bool RtuClient::Join(const char* Name)
{
    FShared.reset();
    FOpening = 0;
    FStatusFresh = false;
    if (!FConfig.TracePath.empty() && !FTrace.IsOpen()) {
        const Core::Status Traced = FTrace.Open(FConfig.TracePath);
        if (!Traced)
            return Fail(std::string(Name) + ": " + Traced.Text());
    }
    const int ConnectMs = static_cast<int>(std::max<int64_t>(100, DeadlineUs(0, 0) / 1000));
    // The port, or the one another client of this process has open there.
    uint64_t Opening = 0;
    Core::Result<std::shared_ptr<SharedPort>> Opened = AcquirePort(FConfig, ConnectMs, Opening);
    if (!Opened) {
        FTrace.Verdict("open failed: " + Opened.Error());
        return Fail(Opened.Error());
    }
    FShared = std::move(*Opened);
    FOpening = Opening;
    FTrace.Verdict("opened " + Where());
    return true;
}

bool RtuClient::OpenForScan()
{
    FInfo.clear();
    return Join("VLMS_Scan");
}

int64_t RtuClient::ScanDeadlineUs() const
{
    const Request R = ReadRequest(1, ReadInput, Input::State, 1);
    return DeadlineUs(BuildRequest(R).size(), ResponseSize(R),
                      OverMbap() ? TurnaroundUs : ScanTurnaroundUs);
}

RtuClient::Probe RtuClient::ProbeAt(uint8_t Address, std::string& Info)
{
    Info.clear();
    if (!IsOpen()) {
        Fail(NotOpenText);
        return Probe::Failed;
    }
    Response Got;
    const Result R = Transact("VLMS_Scan", ReadRequest(Address, ReadInput, Input::State, 1), Tries::Scan, Got);
    if (!IsOpen())
        return Probe::Failed; // the port hung up
    // A gateway that heard nothing on its line says so with an exception.
    if (R == Result::Failed ||
        (R == Result::Exception && OverMbap() && (Got.Code == GatewayPathUnavailable || Got.Code == GatewayNoAnswer)))
        return Probe::Absent;
    if (R == Result::Exception) {
        Info = "a device that answered with Modbus exception " + std::to_string(Got.Code) +
               " (not a Velmor controller?)";
        return Probe::Found;
    }
    const Result Named =
        Transact("VLMS_Scan", ReadRequest(Address, ReadInput, Input::Ident, Input::IdentCount), Tries::Ident, Got);
    if (!IsOpen())
        return Probe::Failed;
    if (Named == Result::Ok)
        Info = UnpackIdent(Got.Values.data(), Got.Values.size());
    else if (Named == Result::Exception)
        Info = "a device that answered the identification read with Modbus exception " + std::to_string(Got.Code);
    else
        Info = "a device that answered, then gave no identification (" + FLastError + ")";
    return Probe::Found;
}

bool RtuClient::CloseDevice()
{
    FShared.reset();
    FOpening = 0;
    FStatusFresh = false;
    return true;
}

bool RtuClient::GetInfo(char** Text)
{
    if (!IsOpen())
        return Fail(NotOpenText);
    if (!Text)
        return Fail("VLM_GetInfo: no place for the text (null pointer)");
    *Text = &FInfo[0];
    return true;
}

bool RtuClient::GetLastError(char** Text) { return HandOut(FLastError, Text); }

bool RtuClient::SetMode(int32_t Step, int32_t Decay)
{
    std::vector<uint16_t> V;
    AppendInt32(V, Step);
    AppendInt32(V, Decay);
    return Write("VLM_SetMode", Holding::Step, std::move(V));
}

namespace {
std::vector<uint16_t> One(int32_t Value)
{
    std::vector<uint16_t> V;
    AppendInt32(V, Value);
    return V;
}
} // namespace

bool RtuClient::SetIw(int32_t Current) { return Write("VLM_SetIw", Holding::Iw, One(Current)); }
bool RtuClient::SetIa(int32_t Current) { return Write("VLM_SetIa", Holding::Ia, One(Current)); }
bool RtuClient::SetIh(int32_t Current) { return Write("VLM_SetIh", Holding::Ih, One(Current)); }
bool RtuClient::SetVm(int32_t Speed) { return Write("VLM_SetVm", Holding::Vm, One(Speed)); }
bool RtuClient::SetVw(int32_t Speed) { return Write("VLM_SetVw", Holding::Vw, One(Speed)); }
bool RtuClient::SetAw(int32_t Acceleration) { return Write("VLM_SetAw", Holding::Aw, One(Acceleration)); }

bool RtuClient::SetLim(int32_t Backward, int32_t Forward, int32_t Home)
{
    std::vector<uint16_t> V;
    AppendInt32(V, Backward);
    AppendInt32(V, Forward);
    AppendInt32(V, Home);
    return Write("VLM_SetLim", Holding::LimBackward, std::move(V));
}

bool RtuClient::SetCtrl(int32_t Word) { return Write("VLM_SetCtrl", Holding::Ctrl, One(Word)); }

bool RtuClient::SetNc(int32_t Coordinate) { return Command("VLM_SetNc", Command::SetCoordinate, Coordinate); }
bool RtuClient::StartD(int32_t Dir) { return Command("VLM_StartD", Command::Run, Dir); }
bool RtuClient::StartN(int32_t N) { return Command("VLM_StartN", Command::GoTo, N); }
bool RtuClient::StartdN(int32_t Dn) { return Command("VLM_StartdN", Command::MoveBy, Dn, false); }
bool RtuClient::Home(int32_t Dir) { return Command("VLM_Home", Command::Home, Dir); }
bool RtuClient::Stop() { return Command("VLM_Stop", Command::Stop, 0); }
bool RtuClient::SavePar() { return Command("VLM_SavePar", Command::Save, 0); }

bool RtuClient::GetStat(int32_t* State) { return Read("VLM_GetStat", State, &Status::State); }
bool RtuClient::GetNc(int32_t* Coordinate) { return Read("VLM_GetNc", Coordinate, &Status::Nc); }
bool RtuClient::GetNb(int32_t* Coordinate) { return Read("VLM_GetNb", Coordinate, &Status::Nb); }
bool RtuClient::GetVc(int32_t* Speed) { return Read("VLM_GetVc", Speed, &Status::Vc); }
bool RtuClient::GetLim(int32_t* Word) { return Read("VLM_GetLim", Word, &Status::Lim); }
bool RtuClient::GetAdc(int32_t* Reading) { return Read("VLM_GetAdc", Reading, &Status::Adc); }

} // namespace Link
