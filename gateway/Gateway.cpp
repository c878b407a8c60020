// velmor-gateway: owns one serial line of Modbus RTU slaves and serves it as
// Modbus TCP (MBAP) to any number of clients. One transaction is on the line
// at a time, in the order the requests arrived; each answer goes back to its
// own client under its own transaction id; the unit id is passed through as
// the RTU address, so any slave on the line is reached, not only a Velmor
// controller. A slave that does not answer within the line's deadline gives
// its client exception 0x0B (gateway target device failed to respond).
// One thread, one poll(); every wait bounded.
#include "gateway/Gateway.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <deque>
#include <map>
#include <vector>

#include "core/Endpoint.h"
#include "link/Mbap.h"
#include "link/RtuFrame.h"
#include "link/ServeSocket.h"
#include "link/Trace.h"
#include "link/Transport.h"

namespace VelmorGateway {

namespace {

constexpr int64_t TurnaroundUs = 50000;
constexpr size_t MaxClients = 64;
constexpr size_t MaxQueued = 4 * MaxClients;

// The size of a whole RTU answer to function Function from its first bytes,
// 0 while it cannot be told yet, SIZE_MAX for a function whose answer is
// only ended by the line's silence.
size_t AnswerSize(uint8_t Function, const uint8_t* Data, size_t Size)
{
    if (Size < 2)
        return 0;
    if (Data[1] & Link::ExceptionFlag)
        return Link::ExceptionSize;
    switch (Function) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x17: return Size < 3 ? 0 : 5u + Data[2];
    case 0x05:
    case 0x06:
    case 0x0F:
    case 0x10: return 8;
    default: return SIZE_MAX;
    }
}

// The bits of one character on the line: start, 8 data, parity, stop.
int CharacterBits(const Options& O)
{
    return 1 + 8 + (O.Line.Framing == Link::Parity::None ? 0 : 1) + O.Line.StopBits;
}

// The deadline of a transaction on the line when no --timeout is given.
int64_t LineDeadlineUs(const Options& O, const Link::Frame& Request)
{
    if (O.TimeoutMs > 0)
        return static_cast<int64_t>(O.TimeoutMs) * 1000;
    size_t Answer = Link::MaxFrameSize;
    const uint8_t F = Request.size() > 1 ? Request[1] : 0;
    if ((F == 0x03 || F == 0x04) && Request.size() >= 6)
        Answer = 5u + 2u * static_cast<size_t>(Request[4] << 8 | Request[5]);
    else if (F == 0x05 || F == 0x06 || F == 0x0F || F == 0x10)
        Answer = 8;
    return Link::WireTimeUs(Request.size() + Answer, O.Line.Baud, CharacterBits(O)) +
           3 * Link::FrameGapUs(O.Line.Baud) + TurnaroundUs;
}

struct Client {
    int Fd = -1;
    std::vector<uint8_t> In, Out;
};

struct Pending {
    uint64_t ClientId = 0;
    uint16_t Transaction = 0;
    uint8_t Unit = 0;
    Link::Frame Rtu;
};

class Gateway {
public:
    Gateway(const Options& O, Link::Transport& Line, int Listener, Link::Trace& T)
        : FOptions(O), FLine(Line), FListener(Listener), FTrace(T), FGapUs(Link::FrameGapUs(O.Line.Baud))
    {
    }
    // Until StopFd is readable; false when the line failed.
    bool Run(int StopFd);

private:
    void Accept();
    void ReadClient(uint64_t Id);
    void WriteClient(uint64_t Id);
    void DropClient(uint64_t Id);
    void Reply(const Pending& P, const Link::Frame& Mbap);
    void Exception(const Pending& P, uint8_t Code);
    // Puts the next request on the line when it is free and silent.
    bool StartNext(int64_t Now);
    // The line's bytes for the transaction on it; false on a hang-up.
    bool ReadLine(int64_t Now);
    void Finish(int64_t Now, bool TimedOut);

    const Options& FOptions;
    Link::Transport& FLine;
    int FListener;
    Link::Trace& FTrace;
    int64_t FGapUs;
    std::map<uint64_t, Client> FClients;
    uint64_t FNextId = 1;
    std::deque<Pending> FQueue;
    bool FBusy = false; // FQueue.front() is on the line
    int64_t FDeadline = 0;
    int64_t FQuietFrom = 0; // the end of the last frame on the line
    int64_t FLastByte = 0;
    std::vector<uint8_t> FAnswer;
};

void Gateway::Accept()
{
    for (int Fd; (Fd = Link::AcceptClient(FListener)) >= 0;) {
        if (FClients.size() >= MaxClients)
            ::close(Fd);
        else
            FClients[FNextId++].Fd = Fd;
    }
}

void Gateway::DropClient(uint64_t Id)
{
    auto It = FClients.find(Id);
    if (It == FClients.end())
        return;
    ::close(It->second.Fd);
    FClients.erase(It);
    // Its requests not yet on the line go; the one on the line finishes and
    // its answer is dropped.
    for (auto Q = FQueue.begin(); Q != FQueue.end();) {
        if (Q->ClientId == Id && !(FBusy && Q == FQueue.begin()))
            Q = FQueue.erase(Q);
        else
            ++Q;
    }
}

void Gateway::ReadClient(uint64_t Id)
{
    Client& C = FClients[Id];
    if (!Link::ReceiveAvailable(C.Fd, C.In)) {
        DropClient(Id);
        return;
    }
    while (true) {
        const Link::MbapFrame F = Link::PeekMbap(C.In.data(), C.In.size());
        if (F.Status == Link::MbapStatus::Incomplete)
            return;
        if (F.Status == Link::MbapStatus::Malformed || FQueue.size() >= MaxQueued) {
            // Not Modbus TCP, or a client flooding the queue: it goes.
            DropClient(Id);
            return;
        }
        FTrace.Frame("tcp-rx", C.In.data(), F.Size);
        Pending P;
        P.ClientId = Id;
        P.Transaction = F.Transaction;
        P.Unit = F.Unit;
        P.Rtu = Link::MbapToRtu(C.In.data(), F.Size);
        C.In.erase(C.In.begin(), C.In.begin() + static_cast<std::ptrdiff_t>(F.Size));
        FQueue.push_back(std::move(P));
    }
}

void Gateway::WriteClient(uint64_t Id)
{
    Client& C = FClients[Id];
    if (!Link::SendPending(C.Fd, C.Out))
        DropClient(Id);
}

void Gateway::Reply(const Pending& P, const Link::Frame& Mbap)
{
    auto It = FClients.find(P.ClientId);
    if (It == FClients.end() || Mbap.empty())
        return;
    FTrace.Frame("tcp-tx", Mbap.data(), Mbap.size());
    It->second.Out.insert(It->second.Out.end(), Mbap.begin(), Mbap.end());
    WriteClient(P.ClientId);
}

void Gateway::Exception(const Pending& P, uint8_t Code)
{
    Link::Frame Rtu = Link::BuildException(P.Unit, P.Rtu.size() > 1 ? P.Rtu[1] : 0, Code);
    Reply(P, Link::RtuToMbap(P.Transaction, Rtu.data(), Rtu.size()));
}

bool Gateway::StartNext(int64_t Now)
{
    while (!FBusy && !FQueue.empty() && Now >= FQuietFrom + FGapUs) {
        Pending& P = FQueue.front();
        size_t Dropped = 0;
        if (FLine.Discard(&Dropped) != Link::IoStatus::Ok)
            return false;
        if (Dropped > 0) {
            FTrace.Verdict("dropped " + std::to_string(Dropped) + " stray bytes");
            FQuietFrom = Now;
            return true; // the silence starts again
        }
        const Link::IoStatus Sent = FLine.Send(P.Rtu.data(), P.Rtu.size(), Now + LineDeadlineUs(FOptions, P.Rtu));
        if (Sent == Link::IoStatus::HangUp || Sent == Link::IoStatus::Error)
            return false;
        if (Sent != Link::IoStatus::Ok) {
            // The port took no data in time: nothing was asked on the line.
            FTrace.Verdict("the port took no data: exception 0x0B");
            Exception(P, Link::GatewayNoAnswer);
            FQueue.pop_front();
            continue;
        }
        FTrace.Frame("line-tx", P.Rtu.data(), P.Rtu.size());
        FQuietFrom = Link::NowUs() + Link::WireTimeUs(P.Rtu.size(), FOptions.Line.Baud, CharacterBits(FOptions));
        if (P.Unit == Link::Broadcast) {
            // Carried out by every slave, answered by none.
            FQueue.pop_front();
            continue;
        }
        FBusy = true;
        FAnswer.clear();
        FDeadline = Now + LineDeadlineUs(FOptions, P.Rtu);
    }
    return true;
}

bool Gateway::ReadLine(int64_t Now)
{
    uint8_t Buffer[Link::MaxFrameSize];
    size_t N = 0;
    const Link::IoStatus S = FLine.Receive(Buffer, sizeof Buffer, N, Now);
    if (S == Link::IoStatus::HangUp || S == Link::IoStatus::Error)
        return false;
    if (S != Link::IoStatus::Ok)
        return true;
    FTrace.Frame("line-rx", Buffer, N);
    FQuietFrom = FLastByte = Link::NowUs();
    if (!FBusy) {
        FTrace.Verdict("dropped " + std::to_string(N) + " bytes nobody asked for");
        return true;
    }
    FAnswer.insert(FAnswer.end(), Buffer, Buffer + N);
    if (FAnswer.size() > Link::MaxFrameSize)
        FAnswer.erase(FAnswer.begin(), FAnswer.end() - Link::MaxFrameSize);
    // Bytes before the answer's start (the slave's address and the
    // function or its exception) are noise.
    Link::Request Expect;
    Expect.Address = FQueue.front().Unit;
    Expect.Function = FQueue.front().Rtu[1];
    const size_t Noise = Link::NoiseBefore(Expect, FAnswer.data(), FAnswer.size());
    FAnswer.erase(FAnswer.begin(), FAnswer.begin() + static_cast<std::ptrdiff_t>(Noise));
    const size_t Need = AnswerSize(Expect.Function, FAnswer.data(), FAnswer.size());
    if (Need != 0 && Need != SIZE_MAX && FAnswer.size() >= Need)
        Finish(Now, false);
    return true;
}

void Gateway::Finish(int64_t Now, bool TimedOut)
{
    (void)Now;
    const Pending P = FQueue.front();
    FQueue.pop_front();
    FBusy = false;
    const size_t Need = AnswerSize(P.Rtu[1], FAnswer.data(), FAnswer.size());
    const size_t Size = Need == 0 || Need == SIZE_MAX ? FAnswer.size() : std::min(Need, FAnswer.size());
    if (Size >= 4 && Link::CrcMatches(FAnswer.data(), Size)) {
        FTrace.Verdict("answer");
        Reply(P, Link::RtuToMbap(P.Transaction, FAnswer.data(), Size));
    } else {
        FTrace.Verdict(FAnswer.empty() ? "timeout: exception 0x0B" : TimedOut ? "truncated: exception 0x0B"
                                                                              : "bad CRC: exception 0x0B");
        Exception(P, Link::GatewayNoAnswer);
    }
    FAnswer.clear();
}

bool Gateway::Run(int StopFd)
{
    while (true) {
        const int64_t Now = Link::NowUs();
        if (!StartNext(Now)) {
            std::fprintf(stderr, "velmor-gateway: %s\n", FLine.ErrorText().c_str());
            return false;
        }
        // What is due: the deadline of the transaction on the line, the
        // silence that ends an answer of unknown size, the silence before
        // the next request.
        int64_t Due = -1;
        auto Consider = [&](bool When, int64_t At) {
            if (When && (Due < 0 || At < Due))
                Due = At;
        };
        Consider(FBusy, FDeadline);
        Consider(FBusy && !FAnswer.empty(), FLastByte + FGapUs);
        Consider(!FBusy && !FQueue.empty(), FQuietFrom + FGapUs);
        std::vector<pollfd> Fds = {{StopFd, POLLIN, 0}, {FLine.Descriptor(), POLLIN, 0}, {FListener, POLLIN, 0}};
        std::vector<uint64_t> Ids;
        for (auto& [Id, C] : FClients) {
            Fds.push_back({C.Fd, static_cast<short>(POLLIN | (C.Out.empty() ? 0 : POLLOUT)), 0});
            Ids.push_back(Id);
        }
        struct timespec Ts, *Wait = nullptr;
        if (Due >= 0) {
            const int64_t Left = std::max<int64_t>(0, Due - Now);
            Ts.tv_sec = static_cast<time_t>(Left / 1000000);
            Ts.tv_nsec = static_cast<long>(Left % 1000000) * 1000;
            Wait = &Ts;
        }
        const int Ready = ::ppoll(Fds.data(), Fds.size(), Wait, nullptr);
        if (const int End = Link::StopOrFailure(Ready, Fds[0], "velmor-gateway"))
            return End > 0;
        const int64_t After = Link::NowUs();
        if (Ready > 0 && Fds[1].revents) {
            if ((Fds[1].revents & (POLLHUP | POLLERR)) && !(Fds[1].revents & POLLIN)) {
                std::fprintf(stderr, "velmor-gateway: the port %s hung up\n", FOptions.Port.c_str());
                return false;
            }
            if (!ReadLine(After)) {
                std::fprintf(stderr, "velmor-gateway: %s\n", FLine.ErrorText().c_str());
                return false;
            }
        }
        if (Ready > 0 && (Fds[2].revents & POLLIN))
            Accept();
        for (size_t I = 0; Ready > 0 && I < Ids.size(); ++I) {
            if (!FClients.count(Ids[I]))
                continue; // gone meanwhile
            const short Ev = Fds[3 + I].revents;
            if (Ev & (POLLIN | POLLHUP | POLLERR))
                ReadClient(Ids[I]);
            if ((Ev & POLLOUT) && FClients.count(Ids[I]))
                WriteClient(Ids[I]);
        }
        if (FBusy) {
            const size_t Need = AnswerSize(FQueue.front().Rtu[1], FAnswer.data(), FAnswer.size());
            const bool Silent = !FAnswer.empty() && After - FLastByte >= FGapUs;
            if (After >= FDeadline || (Silent && Need == SIZE_MAX))
                Finish(After, After >= FDeadline);
        }
    }
}

} // namespace

int Serve(const Options& O, int StopFd, const Link::ReadyFn& Ready)
{
    Link::Trace Trace;
    if (const Core::Status Traced = O.Line.TracePath.empty() ? Core::Status() : Trace.Open(O.Line.TracePath); !Traced) {
        std::fprintf(stderr, "velmor-gateway: %s\n", Traced.Text().c_str());
        return 1;
    }
    Core::Result<std::unique_ptr<Link::Transport>> Opened =
        Link::OpenSerial(O.Port, O.Line.Baud, O.Line.Framing, O.Line.StopBits);
    if (!Opened) {
        std::fprintf(stderr, "velmor-gateway: %s\n", Opened.Error().c_str());
        return 1;
    }
    std::unique_ptr<Link::Transport> Line = std::move(*Opened);
    const Core::Result<Link::Listener> Listener = Link::ListenTcp(O.Host, O.ListenPort, 16);
    if (!Listener) {
        std::fprintf(stderr, "velmor-gateway: %s\n", Listener.Error().c_str());
        return 1;
    }
    Ready(Core::FormatEndpoint(O.Host, Listener->Port));
    const bool Ok = Gateway(O, *Line, Listener->Fd, Trace).Run(StopFd);
    ::close(Listener->Fd);
    return Ok ? 0 : 1;
}

} // namespace VelmorGateway
