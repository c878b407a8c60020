#include "link/RtuClient.h"

#include "link/Mbap.h"

#include <algorithm>
#include <utility>

// The client's exchange on the line: the deadlines and the silence before a
// request, sending it, reading its answer out of what arrives, the retries,
// and what a failure does to the link.
namespace Link {

namespace {

// An RTU frame, or an MBAP one (its header is 4 bytes longer than an address and a CRC).
constexpr size_t BufferSize = MaxFrameSize + 8;

std::string Ms(int64_t Us) { return std::to_string((Us + 999) / 1000) + " ms"; }

int BitsPerCharacter(const LinkConfig& C)
{
    // Behind a gateway the framing is not ours to know: 11 bits, as 8E1.
    if (C.Type != LinkConfig::Kind::Serial)
        return 11;
    return 1 + 8 + (C.Parity == Parity::None ? 0 : 1) + C.StopBits;
}

} // namespace

int64_t RtuClient::DeadlineUs(size_t RequestBytes, size_t AnswerBytes) const
{
    return DeadlineUs(RequestBytes, AnswerBytes, TurnaroundUs);
}

int64_t RtuClient::DeadlineUs(size_t RequestBytes, size_t AnswerBytes, int64_t Turnaround) const
{
    // A scan's probe keeps its short deadline whatever timeout= says: a
    // generous timeout for a slow converter would make a scan of the line
    // take minutes.
    if (FConfig.TimeoutMs > 0 && Turnaround != ScanTurnaroundUs)
        return static_cast<int64_t>(FConfig.TimeoutMs) * 1000;
    return WireTimeUs(RequestBytes + AnswerBytes, FConfig.Baud, BitsPerCharacter(FConfig)) +
           3 * FrameGapUs(FConfig.Baud) + Turnaround + (ThroughGateway(FConfig) ? NetworkUs : 0) +
           (OverMbap() ? GatewayQueueUs : 0);
}

int64_t RtuClient::SilenceUs() const { return OverMbap() ? 0 : FrameGapUs(FConfig.Baud); }

std::string RtuClient::Where() const
{
    std::string Link = ThroughGateway(FConfig)
                           ? std::string(OverMbap() ? "modbus-tcp " : "tcp ") + (FConfig.Host.find(':') != std::string::npos ? "[" + FConfig.Host + "]"
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
    FShared.reset();
    FOpening = 0;
    FStatusFresh = false;
    return Fail(Text + "; the link is closed");
}

bool RtuClient::HangUp(SharedPort& Shared, const std::string& Text)
{
    Shared.Port.reset();
    Shared.Opening = 0;
    return Lose(Text);
}

bool RtuClient::WaitForSilence(SharedPort& Shared, const char* Name, int64_t UntilUs)
{
    const int64_t Silence = SilenceUs();
    while (Silence > 0) {
        const int64_t QuietAt = Shared.LineBusyUntil + Silence;
        // A line that never falls silent does not hold the request past its
        // own deadline.
        if (NowUs() >= QuietAt || NowUs() >= UntilUs)
            return true;
        uint8_t Sink[BufferSize];
        size_t N = 0;
        const IoStatus S = Shared.Port->Receive(Sink, sizeof Sink, N, std::min(QuietAt, UntilUs));
        if (S == IoStatus::Timeout)
            continue;
        if (S != IoStatus::Ok) {
            HangUp(Shared, std::string(Name) + ": " + Shared.Port->ErrorText());
            return false;
        }
        FTrace.Received(Sink, N);
        FTrace.Verdict("dropped " + std::to_string(N) + " bytes before the request");
        Shared.LineBusyUntil = NowUs();
    }
    return true;
}

Response RtuClient::ReadAnswer(SharedPort& Shared, const Request& R, int64_t UntilUs, IoStatus& S)
{
    uint8_t Buffer[BufferSize];
    size_t Have = 0, Skipped = 0;
    bool Damaged = false;
    Response Got;
    while (true) {
        size_t N = 0;
        S = Shared.Port->Receive(Buffer + Have, BufferSize - Have, N, UntilUs);
        if (S != IoStatus::Ok && S != IoStatus::Timeout)
            return Got;
        if (S == IoStatus::Ok) {
            FTrace.Received(Buffer + Have, N);
            Have += N;
            Shared.LineBusyUntil = NowUs();
        }
        const bool Ended = S == IoStatus::Timeout || Have == BufferSize;
        if (OverMbap()) {
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
                if (F.Transaction != Shared.Transaction) {
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
    if (!OverMbap() && (Got.Status == ResponseStatus::Ok || Got.Status == ResponseStatus::Exception) &&
        Have > Got.Used)
        FTrace.Verdict("ignored " + std::to_string(Have - Got.Used) + " bytes after the answer");
    return Got;
}

RtuClient::Result RtuClient::Transact(const char* Name, const Request& R, Tries T, Response& Out)
{
    const Frame Rtu = BuildRequest(R);
    // A scan's probe waits the wire time and a short turnaround; behind a
    // Modbus TCP gateway, whose own wait on its line is not ours to know, as
    // long as any request.
    const int64_t Deadline = DeadlineUs(Rtu.size(), ResponseSize(R),
                                        T == Tries::Scan && !OverMbap() ? ScanTurnaroundUs : TurnaroundUs);
    const int64_t WireUs = WireTimeUs(Rtu.size(), FConfig.Baud, BitsPerCharacter(FConfig));
    std::string Problems;
    // The whole transaction, its retry included, in one turn on the port.
    const std::shared_ptr<SharedPort> Shared = FShared;
    if (!Shared) {
        Fail(NotOpenText);
        return Result::Failed;
    }
    std::lock_guard<std::mutex> Turn(Shared->Turn);
    for (int Try = 0; Try < (T == Tries::Once || T == Tries::Scan ? 1 : 2); ++Try) {
        if (!IsOpen() || !Shared->Port) {
            Fail(NotOpenText);
            return Result::Failed;
        }
        Transport& Port = *Shared->Port;
        if (Try > 0)
            FTrace.Verdict("retry");
        size_t Dropped = 0;
        if (Port.Discard(&Dropped) != IoStatus::Ok) {
            HangUp(*Shared, std::string(Name) + ": " + Port.ErrorText());
            return Result::Failed;
        }
        if (Dropped > 0) {
            FTrace.Verdict("dropped " + std::to_string(Dropped) + " late bytes");
            Shared->LineBusyUntil = std::max(Shared->LineBusyUntil, NowUs());
        }
        const int64_t Until = NowUs() + Deadline;
        if (!WaitForSilence(*Shared, Name, Until))
            return Result::Failed;
        const Frame Bytes = OverMbap() ? RtuToMbap(++Shared->Transaction, Rtu.data(), Rtu.size()) : Rtu;
        ++FSent;
        IoStatus S = Port.Send(Bytes.data(), Bytes.size(), Until);
        FTrace.Sent(Bytes.data(), Bytes.size());
        // The last byte leaves the port a wire time after the write.
        Shared->LineBusyUntil = NowUs() + WireUs;
        Response Got;
        if (S == IoStatus::Ok)
            Got = ReadAnswer(*Shared, R, Until, S);
        if (S == IoStatus::HangUp || S == IoStatus::Error) {
            FTrace.Verdict("hang-up");
            HangUp(*Shared, std::string(Name) + ": " + Port.ErrorText());
            return Result::Failed;
        }
        // A Modbus gateway that got nothing from the line says so with
        // exception 0x0A or 0x0B: as a timeout here.
        const bool GatewaySilent = Got.Status == ResponseStatus::Exception && OverMbap() &&
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
        if (OverMbap() && Got.Status == ResponseStatus::Malformed)
            break;
    }
    const std::string Text = std::string(Name) + ": no valid answer from the controller at " + Where() + " (" +
                             Problems + ")";
    if (T == Tries::Once) {
        // The controller may have taken it: say so, and leave the link to
        // the next request to judge.
        FStatusFresh = false;
        Fail(Text + "; not sent again, the controller may have carried it out");
    } else if (T == Tries::Scan || T == Tries::Ident) {
        Fail(Text);
    } else if (T == Tries::Probe) {
        FShared.reset();
        FOpening = 0;
        Fail(Text);
    } else {
        Lose(Text);
    }
    return Result::Failed;
}

} // namespace Link
