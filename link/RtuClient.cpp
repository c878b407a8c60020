#include "link/RtuClient.h"

#include "link/Mbap.h"

#include <algorithm>
#include <utility>

namespace Link {

namespace {

// An RTU frame, or an MBAP one (its header is 4 bytes longer than an address and a CRC).
constexpr size_t BufferSize = MaxFrameSize + 8;

std::string Ms(int64_t Us) { return std::to_string((Us + 999) / 1000) + " ms"; }

} // namespace

RtuClient::RtuClient(LinkConfig Config, Clock Now) : FConfig(std::move(Config)), FNow(Now ? Now : NowUs) {}

RtuClient::~RtuClient() = default;

namespace {

int BitsPerCharacter(const LinkConfig& C)
{
    // Behind a gateway the framing is not ours to know: 11 bits, as 8E1.
    if (C.Type != LinkConfig::Kind::Serial)
        return 11;
    return 1 + 8 + (C.Parity == Parity::None ? 0 : 1) + C.StopBits;
}

bool Mbap(const LinkConfig& C) { return C.Type == LinkConfig::Kind::ModbusTcp; }

} // namespace

int64_t RtuClient::DeadlineUs(size_t RequestBytes, size_t AnswerBytes) const
{
    if (FConfig.TimeoutMs > 0)
        return static_cast<int64_t>(FConfig.TimeoutMs) * 1000;
    return WireTimeUs(RequestBytes + AnswerBytes, FConfig.Baud, BitsPerCharacter(FConfig)) +
           3 * FrameGapUs(FConfig.Baud) + TurnaroundUs + (ThroughGateway(FConfig) ? NetworkUs : 0);
}

int64_t RtuClient::SilenceUs() const { return Mbap(FConfig) ? 0 : FrameGapUs(FConfig.Baud); }

std::string RtuClient::Where() const
{
    std::string Link = ThroughGateway(FConfig)
                           ? std::string(Mbap(FConfig) ? "modbus-tcp " : "tcp ") + (FConfig.Host.find(':') != std::string::npos ? "[" + FConfig.Host + "]"
                                                                                     : FConfig.Host) +
                                 ":" + std::to_string(FConfig.Port)
                           : FConfig.Path;
    return Link + " " + std::to_string(FConfig.Baud) + " #" + std::to_string(FConfig.Address);
}

bool RtuClient::Fail(const std::string& Text)
{
    FLastError = Text;
    return false;
}

bool RtuClient::Lose(const std::string& Text)
{
    FPort.reset();
    FStatusFresh = false;
    return Fail(Text + "; the link is closed");
}

bool RtuClient::WaitForSilence(const char* Name, int64_t UntilUs)
{
    const int64_t Silence = SilenceUs();
    while (Silence > 0) {
        const int64_t QuietAt = FLineBusyUntil + Silence;
        // A line that never falls silent does not hold the request past its
        // own deadline.
        if (NowUs() >= QuietAt || NowUs() >= UntilUs)
            return true;
        uint8_t Sink[BufferSize];
        size_t N = 0;
        const IoStatus S = FPort->Receive(Sink, sizeof Sink, N, std::min(QuietAt, UntilUs));
        if (S == IoStatus::Timeout)
            continue;
        if (S != IoStatus::Ok) {
            Lose(std::string(Name) + ": " + FPort->ErrorText());
            return false;
        }
        FTrace.Received(Sink, N);
        FTrace.Verdict("dropped " + std::to_string(N) + " bytes before the request");
        FLineBusyUntil = NowUs();
    }
    return true;
}

Response RtuClient::ReadAnswer(const Request& R, int64_t UntilUs, IoStatus& S)
{
    uint8_t Buffer[BufferSize];
    size_t Have = 0, Skipped = 0;
    bool Damaged = false;
    Response Got;
    while (true) {
        size_t N = 0;
        S = FPort->Receive(Buffer + Have, BufferSize - Have, N, UntilUs);
        if (S != IoStatus::Ok && S != IoStatus::Timeout)
            return Got;
        if (S == IoStatus::Ok) {
            FTrace.Received(Buffer + Have, N);
            Have += N;
            FLineBusyUntil = NowUs();
        }
        const bool Ended = S == IoStatus::Timeout || Have == BufferSize;
        if (Mbap(FConfig)) {
            // Whole frames of other transactions (a late answer to a request
            // given up on) are passed over; anything not MBAP loses the
            // stream.
            while (true) {
                const MbapFrame F = PeekMbap(Buffer, Have);
                if (F.Status == MbapStatus::Malformed) {
                    Got.Status = ResponseStatus::Malformed;
                    return Got;
                }
                if (F.Status == MbapStatus::Incomplete) {
                    Got.Status = Ended ? (Have ? ResponseStatus::Truncated : ResponseStatus::NoAnswer)
                                       : ResponseStatus::Incomplete;
                    break;
                }
                if (F.Transaction != FTransaction) {
                    FTrace.Verdict("skipped an answer to transaction " + std::to_string(F.Transaction));
                    std::copy(Buffer + F.Size, Buffer + Have, Buffer);
                    Have -= F.Size;
                    continue;
                }
                const Frame Rtu = MbapToRtu(Buffer, F.Size);
                Got = ParseResponse(R, Rtu.data(), Rtu.size(), true);
                break;
            }
        } else {
            while (true) {
                const size_t Noise = NoiseBefore(R, Buffer, Have);
                if (Noise > 0) {
                    std::copy(Buffer + Noise, Buffer + Have, Buffer);
                    Have -= Noise;
                    Skipped += Noise;
                }
                Got = ParseResponse(R, Buffer, Have, Ended);
                // A bad CRC where another start follows in the buffer: the
                // first was noise that looked like a start.
                if (Got.Status == ResponseStatus::BadCrc && Have > 1 &&
                    NoiseBefore(R, Buffer + 1, Have - 1) < Have - 1) {
                    Damaged = true;
                    std::copy(Buffer + 1, Buffer + Have, Buffer);
                    --Have;
                    ++Skipped;
                    continue;
                }
                break;
            }
            if (Damaged && (Got.Status == ResponseStatus::NoAnswer || Got.Status == ResponseStatus::Truncated))
                Got.Status = ResponseStatus::BadCrc;
        }
        if (Got.Status != ResponseStatus::Incomplete || S == IoStatus::Timeout)
            break;
    }
    if (Skipped > 0)
        FTrace.Verdict("skipped " + std::to_string(Skipped) + " bytes before the answer");
    if (!Mbap(FConfig) && (Got.Status == ResponseStatus::Ok || Got.Status == ResponseStatus::Exception) &&
        Have > Got.Used)
        FTrace.Verdict("ignored " + std::to_string(Have - Got.Used) + " bytes after the answer");
    return Got;
}

RtuClient::Result RtuClient::Transact(const char* Name, const Request& R, Tries T, Response& Out)
{
    const Frame Rtu = BuildRequest(R);
    const int64_t Deadline = DeadlineUs(Rtu.size(), ResponseSize(R));
    const int64_t WireUs = WireTimeUs(Rtu.size(), FConfig.Baud, BitsPerCharacter(FConfig));
    std::string Problems;
    for (int Try = 0; Try < (T == Tries::Once ? 1 : 2); ++Try) {
        if (!FPort) {
            Fail(NotOpenText);
            return Result::Failed;
        }
        if (Try > 0)
            FTrace.Verdict("retry");
        size_t Dropped = 0;
        if (FPort->Discard(&Dropped) != IoStatus::Ok) {
            Lose(std::string(Name) + ": " + FPort->ErrorText());
            return Result::Failed;
        }
        if (Dropped > 0) {
            FTrace.Verdict("dropped " + std::to_string(Dropped) + " late bytes");
            FLineBusyUntil = std::max(FLineBusyUntil, NowUs());
        }
        const int64_t Until = NowUs() + Deadline;
        if (!WaitForSilence(Name, Until))
            return Result::Failed;
        const Frame Bytes = Mbap(FConfig) ? RtuToMbap(++FTransaction, Rtu.data(), Rtu.size()) : Rtu;
        ++FSent;
        IoStatus S = FPort->Send(Bytes.data(), Bytes.size(), Until);
        FTrace.Sent(Bytes.data(), Bytes.size());
        // The last byte leaves the port a wire time after the write.
        FLineBusyUntil = NowUs() + WireUs;
        Response Got;
        if (S == IoStatus::Ok)
            Got = ReadAnswer(R, Until, S);
        if (S == IoStatus::HangUp || S == IoStatus::Error) {
            FTrace.Verdict("hang-up");
            Lose(std::string(Name) + ": " + FPort->ErrorText());
            return Result::Failed;
        }
        // A Modbus gateway that got nothing from the line says so with
        // exception 0x0A or 0x0B: as a timeout here.
        const bool GatewaySilent = Got.Status == ResponseStatus::Exception && Mbap(FConfig) &&
                                   (Got.Code == GatewayPathUnavailable || Got.Code == GatewayNoAnswer);
        if (!GatewaySilent && (Got.Status == ResponseStatus::Ok || Got.Status == ResponseStatus::Exception)) {
            FTrace.Verdict(Got.Status == ResponseStatus::Ok ? "answer" : "exception " + std::to_string(Got.Code));
            const Result Done = Got.Status == ResponseStatus::Ok ? Result::Ok : Result::Exception;
            Out = std::move(Got);
            return Done;
        }
        std::string Problem = GatewaySilent ? "the gateway had no answer from the line (Modbus exception " +
                                                  std::to_string(Got.Code) + ")"
                              : Got.Status == ResponseStatus::NoAnswer ? "no answer within " + Ms(Deadline)
                                                                       : StatusText(Got.Status);
        FTrace.Verdict(Got.Status == ResponseStatus::NoAnswer ? "timeout" : Problem);
        Problems += (Problems.empty() ? "" : ", then ") + Problem;
        // A broken MBAP stream cannot carry a second try.
        if (Mbap(FConfig) && Got.Status == ResponseStatus::Malformed)
            break;
    }
    const std::string Text = std::string(Name) + ": no valid answer from the controller at " + Where() + " (" +
                             Problems + ")";
    if (T == Tries::Once) {
        // The controller may have taken it: say so, and leave the link to
        // the next request to judge.
        FStatusFresh = false;
        Fail(Text + "; not sent again, the controller may have carried it out");
    } else if (T == Tries::Probe) {
        FPort.reset();
        Fail(Text);
    } else {
        Lose(Text);
    }
    return Result::Failed;
}

std::string RtuClient::ExceptionText(const char* Name, uint8_t Code)
{
    const std::string Call = std::string(Name) + ": ";
    if (Code == IllegalValue || Code == DeviceFailure) {
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

template <class Pick>
bool RtuClient::Read(const char* Name, int32_t* Out, Pick Value)
{
    if (!FPort)
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
    *Out = Value(FStatus);
    return true;
}

bool RtuClient::ReadParameters(int32_t (&Out)[12])
{
    Response Got;
    Result R = Transact("ReadParameters",
                        ReadRequest(static_cast<uint8_t>(FConfig.Address), ReadHolding, Holding::Step,
                                    Holding::ParameterCount),
                        Tries::Twice, Got);
    if (R == Result::Exception)
        return Fail(ExceptionText("ReadParameters", Got.Code));
    if (R == Result::Failed)
        return false;
    if (Got.Values.size() != 2u * 12u)
        return Fail("ReadParameters: the parameters came back with " + std::to_string(Got.Values.size()) +
                    " registers");
    for (size_t I = 0; I < 12; ++I)
        Out[I] = GetInt32(&Got.Values[2 * I]);
    return true;
}

bool RtuClient::OpenDevice()
{
    FPort.reset();
    FStatusFresh = false;
    FInfo.clear();
    if (!FConfig.TracePath.empty() && !FTrace.IsOpen()) {
        const Core::Status Traced = FTrace.Open(FConfig.TracePath);
        if (!Traced)
            return Fail("VLM_OpenDevice: " + Traced.Text());
    }
    const int ConnectMs = static_cast<int>(std::max<int64_t>(100, DeadlineUs(0, 0) / 1000));
    Core::Result<std::unique_ptr<Transport>> Opened =
        ThroughGateway(FConfig) ? OpenTcp(FConfig.Host, FConfig.Port, ConnectMs)
                                : OpenSerial(FConfig.Path, FConfig.Baud, FConfig.Parity, FConfig.StopBits);
    if (!Opened) {
        FTrace.Verdict("open failed: " + Opened.Error());
        return Fail(Opened.Error());
    }
    FPort = std::move(*Opened);
    FTrace.Verdict("opened " + Where());
    FLineBusyUntil = NowUs();
    Response Got;
    Result R = Transact("VLM_OpenDevice",
                        ReadRequest(static_cast<uint8_t>(FConfig.Address), ReadInput, Input::Ident, Input::IdentCount),
                        Tries::Probe, Got);
    if (R == Result::Exception) {
        const std::string Text = "VLM_OpenDevice: the device at " + Where() +
                                 " answered the identification read with Modbus exception " +
                                 std::to_string(Got.Code) + "; is it a Velmor controller?";
        FPort.reset();
        return Fail(Text);
    }
    if (R == Result::Failed)
        return false;
    FInfo = std::string(Mbap(FConfig) ? "Modbus TCP " : "RTU ") + Where() + ": " + UnpackIdent(Got.Values.data(), Got.Values.size());
    return true;
}

bool RtuClient::CloseDevice()
{
    FPort.reset();
    FStatusFresh = false;
    return true;
}

bool RtuClient::GetInfo(char** Text)
{
    if (!FPort)
        return Fail(NotOpenText);
    if (!Text)
        return Fail("VLM_GetInfo: no place for the text (null pointer)");
    *Text = &FInfo[0];
    return true;
}

bool RtuClient::GetLastError(char** Text)
{
    if (!Text)
        return false;
    *Text = &FLastError[0];
    return true;
}

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

bool RtuClient::GetStat(int32_t* State)
{
    return Read("VLM_GetStat", State, [](const Status& S) { return S.State; });
}
bool RtuClient::GetNc(int32_t* Coordinate)
{
    return Read("VLM_GetNc", Coordinate, [](const Status& S) { return S.Nc; });
}
bool RtuClient::GetNb(int32_t* Coordinate)
{
    return Read("VLM_GetNb", Coordinate, [](const Status& S) { return S.Nb; });
}
bool RtuClient::GetVc(int32_t* Speed)
{
    return Read("VLM_GetVc", Speed, [](const Status& S) { return S.Vc; });
}
bool RtuClient::GetLim(int32_t* Word)
{
    return Read("VLM_GetLim", Word, [](const Status& S) { return S.Lim; });
}
bool RtuClient::GetAdc(int32_t* Reading)
{
    return Read("VLM_GetAdc", Reading, [](const Status& S) { return S.Adc; });
}

} // namespace Link
