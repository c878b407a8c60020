// velmor-gateway: owns one serial line of Modbus RTU slaves and serves it as
// Modbus TCP (MBAP) to several clients.
//
// - One transaction is on the line at a time. Its deadline comes from the
//   longest answer the request can legitimately have (never more than a
//   whole frame); a request that is not well formed for its function is
//   answered by the gateway without touching the line.
// - An answer is taken only when it fits the request on the line (address,
//   function or its exception, length, echoed fields); anything else is
//   dropped and said in the trace. After a deadline the line must stay
//   silent for a turnaround before the next request, so a late answer is
//   dropped, never forwarded.
// - Clients are served in turn, each with a bounded number of requests
//   queued; a request that waited too long for the line is answered 0x0B; a
//   client's requests go with it; a client that reads none of its answers
//   is no longer read from, then closed; idle clients are closed.
// - Reads of input registers are answered from the last answer to the same
//   read while it is young enough; a write to a unit forgets its answers.
// - A port that hangs up is reopened by its path; meanwhile every request is
//   answered 0x0B.
// One thread, one poll(); every wait bounded; every buffer limited.
#include "gateway/Gateway.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <deque>
#include <map>
#include <optional>
#include <vector>

#include "core/Endpoint.h"
#include "gateway/Mqtt.h"
#include "gateway/Pdu.h"
#include "link/Mbap.h"
#include "link/RtuFrame.h"
#include "link/ServeSocket.h"
#include "link/Trace.h"
#include "link/Transport.h"

namespace VelmorGateway {

namespace {

constexpr int64_t TurnaroundUs = 50000;
constexpr int64_t ReopenEveryUs = 500000;
constexpr int64_t RefusedLingerUs = 1000000;
constexpr size_t MaxRefused = 16;
// A client's unread answers beyond which it is no longer read from.
constexpr size_t OutLimit = 16 * 1024;
// Received bytes kept per client: two whole MBAP frames.
constexpr size_t InLimit = 2 * (Link::MbapHeaderSize + Link::MbapMaxLength);
constexpr size_t MaxCached = 256;
constexpr uint64_t PollClient = 0; // the gateway's own poll for MQTT

void Log(const std::string& Text) { std::fprintf(stderr, "velmor-gateway: %s\n", Text.c_str()); }

// The bits of one character on the line: start, 8 data, parity, stop.
int CharacterBits(const Options& O) { return 1 + 8 + (O.Line.Framing == Link::Parity::None ? 0 : 1) + O.Line.StopBits; }

struct Pending {
    uint64_t ClientId = 0;
    uint16_t Transaction = 0;
    uint8_t Unit = 0;
    Link::Frame Rtu; // address, PDU, CRC
    RequestCheck Check;
    int64_t Arrived = 0;
    const uint8_t* Pdu() const { return Rtu.data() + 1; }
    size_t PduSize() const { return Rtu.size() - 3; }
    std::string Key() const { return std::string(Rtu.begin(), Rtu.end() - 2); }
};

struct Client {
    int Fd = -1;
    std::string Peer;
    std::vector<uint8_t> In, Out;
    std::deque<Pending> Queue; // waiting for the line
    bool OnLine = false;       // one of its requests is on the line
    int64_t LastHeard = 0;
    int64_t OutSince = 0; // when Out last became non-empty or last drained some
    bool Broken = false;  // a send failed: closed at the end of the loop's pass
    size_t Outstanding() const { return Queue.size() + (OnLine ? 1 : 0); }
};

struct Refused {
    int Fd = -1;
    int64_t Since = 0;
    std::vector<uint8_t> In;
};

struct Cached {
    Link::Frame Rtu;
    int64_t At = 0;
    // The clients that had this answer: one asking again gets a new one, so
    // a lone watcher always reads the line.
    std::vector<uint64_t> Had;
};

std::string PeerText(const sockaddr_storage& A)
{
    char Text[INET6_ADDRSTRLEN] = "?";
    if (A.ss_family == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(A).sin_addr, Text, sizeof Text);
    else if (A.ss_family == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(A).sin6_addr, Text, sizeof Text);
    return Text;
}

class Gateway {
public:
    Gateway(const Options& O, std::unique_ptr<Link::Transport> Line, int Listener, Link::Trace& T, Publisher* Mqtt)
        : FOptions(O), FLine(std::move(Line)), FListener(Listener), FTrace(T), FMqtt(Mqtt),
          FGapUs(Link::FrameGapUs(O.Line.Baud))
    {
        if (!O.PollUnits.empty())
            FClients[PollClient].LastHeard = 0;
    }
    ~Gateway()
    {
        for (auto& [Id, C] : FClients)
            if (C.Fd >= 0)
                ::close(C.Fd);
        for (Refused& R : FRefused)
            ::close(R.Fd);
    }
    // Until StopFd is readable; false when poll() failed.
    bool Run(int StopFd);

private:
    void Accept(int64_t Now);
    void LogRefusal(int64_t Now, const std::string& Text);
    bool Allowed(const sockaddr_storage& A) const;
    void ServeRefused(int64_t Now, const std::vector<pollfd>& Fds, size_t From);
    void ReadClient(uint64_t Id, int64_t Now);
    // Takes the whole requests received from the client as far as its limits let it.
    void ParseIn(uint64_t Id, int64_t Now);
    void Take(uint64_t Id, Pending P, int64_t Now);
    void WriteClient(uint64_t Id, int64_t Now);
    void DropBroken();
    void DropClient(uint64_t Id, const std::string& Why);
    void Reply(const Pending& P, const Link::Frame& Rtu, const char* Direction = "tcp-tx");
    void Exception(const Pending& P, uint8_t Code, const std::string& Why);
    bool FromCache(const Pending& P, int64_t Now);
    void Remember(const Pending& P, const Link::Frame& Rtu, int64_t Now);
    void Forget(uint8_t Unit);
    void Expire(int64_t Now);
    std::optional<Pending> NextInTurn();
    void StartNext(int64_t Now);
    void ReadLine(int64_t Now);
    void Finish(int64_t Now, const Link::Frame* Answer, const std::string& Why);
    void LineGone(int64_t Now, const std::string& Why);
    void Reopen(int64_t Now);
    void Poll(int64_t Now);
    void Housekeeping(int64_t Now);
    int64_t Deadline(const Pending& P) const;
    bool WantsInput(const Client& C) const
    {
        return C.Outstanding() < static_cast<size_t>(FOptions.MaxPending) && C.Out.size() < OutLimit;
    }

    const Options& FOptions;
    std::unique_ptr<Link::Transport> FLine; // null while the port is gone
    int FListener;
    Link::Trace& FTrace;
    Publisher* FMqtt;
    int64_t FGapUs;
    std::map<uint64_t, Client> FClients;
    std::vector<Refused> FRefused;
    uint64_t FNextId = 1;
    uint64_t FLastServed = 0;
    std::optional<Pending> FOnLine;
    int64_t FDeadline = 0;
    int64_t FQuietFrom = 0; // the end of the last frame on the line
    int64_t FQuietFor = 0;  // the silence needed before the next request
    int64_t FLastByte = 0;
    int64_t FReopenAt = 0;
    int64_t FNextPoll = 0;
    uint64_t FDiscarded = 0;
    int64_t FRefusalLogged = 0;
    uint64_t FRefusalsUnsaid = 0;
    std::vector<uint8_t> FAnswer;
    std::map<std::string, Cached> FCache;
};

bool Gateway::Allowed(const sockaddr_storage& A) const
{
    if (FOptions.Allowed.empty())
        return true;
    const bool V6 = A.ss_family == AF_INET6;
    const uint8_t* Bytes = V6 ? reinterpret_cast<const sockaddr_in6&>(A).sin6_addr.s6_addr
                              : reinterpret_cast<const uint8_t*>(&reinterpret_cast<const sockaddr_in&>(A).sin_addr);
    return std::any_of(FOptions.Allowed.begin(), FOptions.Allowed.end(),
                       [&](const AllowRange& R) { return InRange(R, Bytes, V6); });
}

void Gateway::LogRefusal(int64_t Now, const std::string& Text)
{
    // One line a second at most, so that a flood of connections cannot
    // flood the log.
    if (FRefusalLogged != 0 && Now - FRefusalLogged < 1000000) {
        ++FRefusalsUnsaid;
        return;
    }
    Log(FRefusalsUnsaid ? Text + " (and " + std::to_string(FRefusalsUnsaid) + " more refused before)" : Text);
    FRefusalLogged = Now;
    FRefusalsUnsaid = 0;
}

void Gateway::Accept(int64_t Now)
{
    for (int Fd; (Fd = Link::AcceptClient(FListener)) >= 0;) {
        sockaddr_storage Peer{};
        socklen_t Len = sizeof Peer;
        ::getpeername(Fd, reinterpret_cast<sockaddr*>(&Peer), &Len);
        const std::string Who = PeerText(Peer);
        if (!Allowed(Peer)) {
            LogRefusal(Now, "refused a client from " + Who + ": not in --allow");
            ::close(Fd);
            continue;
        }
        const size_t Clients = FClients.size() - FClients.count(PollClient);
        if (Clients >= static_cast<size_t>(FOptions.MaxClients)) {
            LogRefusal(Now, "refused a client from " + Who + ": " + std::to_string(Clients) +
                                " clients already (--max-clients)");
            if (FRefused.size() < MaxRefused)
                FRefused.push_back({Fd, Now, {}}); // told with exception 0x0A to its first request
            else
                ::close(Fd);
            continue;
        }
        Client& C = FClients[FNextId++];
        C.Fd = Fd;
        C.Peer = Who;
        C.LastHeard = Now;
    }
}

void Gateway::ServeRefused(int64_t Now, const std::vector<pollfd>& Fds, size_t From)
{
    for (size_t I = 0; I < FRefused.size(); ++I) {
        Refused& R = FRefused[I];
        bool Done = Now - R.Since > RefusedLingerUs;
        if (!Done && From + I < Fds.size() && Fds[From + I].revents) {
            Done = !Link::ReceiveSome(R.Fd, R.In, InLimit);
            const Link::MbapFrame F = Link::PeekMbap(R.In.data(), R.In.size());
            if (F.Status == Link::MbapStatus::Ok && F.Size > Link::MbapHeaderSize) {
                const Link::Frame Rtu =
                    Link::BuildException(F.Unit, R.In[Link::MbapHeaderSize], GatewayPathUnavailable);
                std::vector<uint8_t> Out = Link::RtuToMbap(F.Transaction, Rtu.data(), Rtu.size());
                Link::SendPending(R.Fd, Out);
                Done = true;
            } else if (F.Status != Link::MbapStatus::Incomplete || R.In.size() >= InLimit) {
                Done = true;
            }
        }
        if (Done) {
            ::close(R.Fd);
            R.Fd = -1;
        }
    }
    FRefused.erase(std::remove_if(FRefused.begin(), FRefused.end(), [](const Refused& R) { return R.Fd < 0; }),
                   FRefused.end());
}

void Gateway::DropClient(uint64_t Id, const std::string& Why)
{
    auto It = FClients.find(Id);
    if (It == FClients.end() || Id == PollClient)
        return;
    if (!Why.empty())
        Log("closed the client from " + It->second.Peer + ": " + Why);
    ::close(It->second.Fd);
    // Its queued requests go with it; the one on the line finishes and its
    // answer is dropped.
    FClients.erase(It);
}

void Gateway::ReadClient(uint64_t Id, int64_t Now)
{
    Client& C = FClients[Id];
    if (C.Broken || !Link::ReceiveSome(C.Fd, C.In, InLimit)) {
        DropClient(Id, "");
        return;
    }
    C.LastHeard = Now;
    ParseIn(Id, Now);
}

void Gateway::ParseIn(uint64_t Id, int64_t Now)
{
    Client& C = FClients[Id];
    while (WantsInput(C)) {
        const Link::MbapFrame F = Link::PeekMbap(C.In.data(), C.In.size());
        if (F.Status == Link::MbapStatus::Incomplete)
            return;
        if (F.Status == Link::MbapStatus::Malformed || F.Size <= Link::MbapHeaderSize) {
            DropClient(Id, "not Modbus TCP");
            return;
        }
        FTrace.Frame("tcp-rx", C.In.data(), F.Size);
        Pending P;
        P.ClientId = Id;
        P.Transaction = F.Transaction;
        P.Unit = F.Unit;
        P.Rtu = Link::MbapToRtu(C.In.data(), F.Size);
        P.Arrived = Now;
        C.In.erase(C.In.begin(), C.In.begin() + static_cast<std::ptrdiff_t>(F.Size));
        Take(Id, std::move(P), Now);
        if (!FClients.count(Id))
            return;
    }
}

void Gateway::Take(uint64_t Id, Pending P, int64_t Now)
{
    P.Check = CheckRequest(P.Pdu(), P.PduSize());
    if (P.Unit == Link::Broadcast && !FOptions.AllowBroadcast)
        return Exception(P, GatewayPathUnavailable, "broadcast refused (--allow-broadcast)");
    if (P.Check.Exception)
        return Exception(P, P.Check.Exception, "not a well-formed request");
    if (FOptions.ReadOnly && P.Check.Writes)
        return Exception(P, IllegalFunction, "a write refused (--read-only)");
    if (!FLine)
        return Exception(P, GatewayNoAnswer, "the port is gone");
    // From the cache only when nothing of this client's is before it: its
    // calls keep their order (a read after its own write sees the write).
    Client& C = FClients[Id];
    if (C.Outstanding() == 0 && FromCache(P, Now))
        return;
    C.Queue.push_back(std::move(P));
}

void Gateway::WriteClient(uint64_t Id, int64_t Now)
{
    // Called while the clients are iterated over: a client whose send failed
    // is only marked here, and closed by DropBroken.
    Client& C = FClients[Id];
    const size_t Before = C.Out.size();
    if (C.Broken || !Link::SendPending(C.Fd, C.Out)) {
        C.Broken = true;
        C.Out.clear();
        return;
    }
    if (C.Out.size() != Before)
        C.OutSince = Now;
}

void Gateway::DropBroken()
{
    std::vector<uint64_t> Broken;
    for (const auto& [Id, C] : FClients)
        if (C.Broken)
            Broken.push_back(Id);
    for (uint64_t Id : Broken)
        DropClient(Id, "");
}

void Gateway::Reply(const Pending& P, const Link::Frame& Rtu, const char* Direction)
{
    const Link::Frame Mbap = Link::RtuToMbap(P.Transaction, Rtu.data(), Rtu.size());
    if (Mbap.empty())
        return;
    if (P.ClientId == PollClient) {
        if (!FMqtt)
            return;
        const bool Answered = Rtu.size() == 5 + 18 && Rtu[1] == 0x04;
        if (Answered) {
            std::vector<uint16_t> Words(9);
            for (size_t I = 0; I < Words.size(); ++I)
                Words[I] = static_cast<uint16_t>(Rtu[3 + 2 * I] << 8 | Rtu[4 + 2 * I]);
            FMqtt->Status(P.Unit, StatusJson(Words));
        }
        FMqtt->Available(P.Unit, Answered);
        return;
    }
    auto It = FClients.find(P.ClientId);
    if (It == FClients.end())
        return;
    FTrace.Frame(Direction, Mbap.data(), Mbap.size());
    Client& C = It->second;
    if (C.Out.empty())
        C.OutSince = Link::NowUs();
    C.Out.insert(C.Out.end(), Mbap.begin(), Mbap.end());
    WriteClient(P.ClientId, Link::NowUs());
}

void Gateway::Exception(const Pending& P, uint8_t Code, const std::string& Why)
{
    char Hex[8];
    std::snprintf(Hex, sizeof Hex, "0x%02X", Code);
    FTrace.Verdict(Why + ": exception " + Hex);
    Reply(P, Link::BuildException(P.Unit, P.Rtu.size() > 1 ? P.Rtu[1] : 0, Code));
}

bool Gateway::FromCache(const Pending& P, int64_t Now)
{
    if (!P.Check.Cacheable || FOptions.CacheMs <= 0)
        return false;
    auto It = FCache.find(P.Key());
    if (It == FCache.end() || Now - It->second.At > static_cast<int64_t>(FOptions.CacheMs) * 1000)
        return false;
    std::vector<uint64_t>& Had = It->second.Had;
    if (std::find(Had.begin(), Had.end(), P.ClientId) != Had.end())
        return false;
    Had.push_back(P.ClientId);
    FTrace.Verdict("from the cache, " + std::to_string((Now - It->second.At) / 1000) + " ms old");
    Reply(P, It->second.Rtu, "cache-tx");
    return true;
}

void Gateway::Remember(const Pending& P, const Link::Frame& Rtu, int64_t Now)
{
    if (!P.Check.Cacheable || FOptions.CacheMs <= 0 || Rtu.size() < 2 || (Rtu[1] & Link::ExceptionFlag))
        return;
    if (FCache.size() >= MaxCached)
        FCache.clear();
    Cached& Entry = FCache[P.Key()];
    Entry = {Rtu, Now, {P.ClientId}};
    // The same read waiting next from other clients takes this answer now
    // (once each: a client's second such read waits for a new answer; a
    // read behind another request of its client waits its turn).
    for (auto& [Id, C] : FClients) {
        if (C.OnLine || C.Queue.empty())
            continue;
        const Pending& Q = C.Queue.front();
        if (Q.Check.Cacheable && Q.Key() == P.Key() &&
            std::find(Entry.Had.begin(), Entry.Had.end(), Id) == Entry.Had.end()) {
            Entry.Had.push_back(Id);
            const Pending Same = Q;
            C.Queue.pop_front();
            FTrace.Verdict("the same read as the one just answered");
            Reply(Same, Rtu, "cache-tx");
        }
    }
}

void Gateway::Forget(uint8_t Unit)
{
    for (auto It = FCache.begin(); It != FCache.end();) {
        const uint8_t CachedUnit = static_cast<uint8_t>(It->first[0]);
        if (Unit == Link::Broadcast || CachedUnit == Unit)
            It = FCache.erase(It);
        else
            ++It;
    }
}

void Gateway::Expire(int64_t Now)
{
    const int64_t Limit = static_cast<int64_t>(FOptions.QueueMs) * 1000;
    for (auto& [Id, C] : FClients) {
        while (!C.Queue.empty() && Now - C.Queue.front().Arrived > Limit) {
            const Pending P = C.Queue.front();
            C.Queue.pop_front();
            Exception(P, GatewayNoAnswer,
                      "waited " + std::to_string((Now - P.Arrived) / 1000) + " ms for the line");
        }
    }
}

std::optional<Pending> Gateway::NextInTurn()
{
    // The first client after the one served last that has a request waiting.
    if (FClients.empty())
        return std::nullopt;
    auto Start = FClients.upper_bound(FLastServed);
    for (size_t N = 0; N < FClients.size(); ++N, ++Start) {
        if (Start == FClients.end())
            Start = FClients.begin();
        if (!Start->second.Queue.empty()) {
            Pending P = std::move(Start->second.Queue.front());
            Start->second.Queue.pop_front();
            FLastServed = Start->first;
            return P;
        }
    }
    return std::nullopt;
}

int64_t Gateway::Deadline(const Pending& P) const
{
    if (FOptions.TimeoutMs > 0)
        return static_cast<int64_t>(FOptions.TimeoutMs) * 1000;
    const size_t Answer = std::min(P.Check.AnswerMax, MaxRtuFrame);
    return Link::WireTimeUs(P.Rtu.size() + Answer, FOptions.Line.Baud, CharacterBits(FOptions)) + 3 * FGapUs +
           TurnaroundUs;
}

void Gateway::StartNext(int64_t Now)
{
    while (FLine && !FOnLine && Now >= FQuietFrom + FQuietFor) {
        std::optional<Pending> Next = NextInTurn();
        if (!Next)
            return;
        Pending& P = *Next;
        if (FromCache(P, Now))
            continue;
        size_t Dropped = 0;
        const Link::IoStatus Discarded = FLine->Discard(&Dropped);
        if (Discarded != Link::IoStatus::Ok) {
            if (FClients.count(P.ClientId))
                FClients[P.ClientId].Queue.push_front(std::move(P));
            return LineGone(Now, FLine->ErrorText());
        }
        if (Dropped > 0) {
            FTrace.Verdict("dropped " + std::to_string(Dropped) + " stray bytes");
            FQuietFrom = Link::NowUs();
            FQuietFor = FGapUs;
            if (FClients.count(P.ClientId))
                FClients[P.ClientId].Queue.push_front(std::move(P));
            return; // the silence starts again
        }
        const Link::IoStatus Sent = FLine->Send(P.Rtu.data(), P.Rtu.size(), Now + Deadline(P));
        if (Sent == Link::IoStatus::HangUp || Sent == Link::IoStatus::Error) {
            Exception(P, GatewayNoAnswer, "the port failed");
            return LineGone(Now, FLine->ErrorText());
        }
        if (Sent != Link::IoStatus::Ok) {
            // The port took no data in time: nothing was asked on the line.
            Exception(P, GatewayNoAnswer, "the port took no data");
            continue;
        }
        FTrace.Frame("line-tx", P.Rtu.data(), P.Rtu.size());
        FQuietFrom = Link::NowUs() + Link::WireTimeUs(P.Rtu.size(), FOptions.Line.Baud, CharacterBits(FOptions));
        FQuietFor = FGapUs;
        if (P.Check.Writes)
            Forget(P.Unit);
        if (P.Unit == Link::Broadcast) {
            // Carried out by every slave, answered by none: they get a
            // turnaround to carry it out before the next request.
            FQuietFor = std::max(FGapUs, TurnaroundUs);
            continue;
        }
        if (FClients.count(P.ClientId))
            FClients[P.ClientId].OnLine = true;
        FAnswer.clear();
        FDeadline = Now + Deadline(P);
        FOnLine = std::move(P);
    }
}

void Gateway::ReadLine(int64_t Now)
{
    uint8_t Buffer[Link::MaxFrameSize];
    size_t N = 0;
    const Link::IoStatus S = FLine->Receive(Buffer, sizeof Buffer, N, Now);
    if (S == Link::IoStatus::HangUp || S == Link::IoStatus::Error)
        return LineGone(Now, FLine->ErrorText());
    if (S != Link::IoStatus::Ok)
        return;
    FTrace.Frame("line-rx", Buffer, N);
    FQuietFrom = FLastByte = Link::NowUs();
    if (!FOnLine) {
        FTrace.Verdict("dropped " + std::to_string(N) + " bytes nobody asked for");
        return;
    }
    FAnswer.insert(FAnswer.end(), Buffer, Buffer + N);
    if (FAnswer.size() > 2 * Link::MaxFrameSize)
        FAnswer.erase(FAnswer.begin(), FAnswer.end() - Link::MaxFrameSize);
    const Pending& P = *FOnLine;
    while (true) {
        // Bytes before an answer's start (the slave's address and the
        // function or its exception) are noise.
        Link::Request Expect;
        Expect.Address = P.Unit;
        Expect.Function = P.Rtu[1];
        const size_t Noise = Link::NoiseBefore(Expect, FAnswer.data(), FAnswer.size());
        FAnswer.erase(FAnswer.begin(), FAnswer.begin() + static_cast<std::ptrdiff_t>(Noise));
        const size_t Need = AnswerSize(Expect.Function, FAnswer.data(), FAnswer.size());
        if (Need == 0 || Need == SIZE_MAX || FAnswer.size() < Need)
            return;
        const Link::Frame Whole(FAnswer.begin(), FAnswer.begin() + static_cast<std::ptrdiff_t>(Need));
        if (Link::CrcMatches(Whole.data(), Whole.size()) &&
            AnswerFits(P.Unit, P.Pdu(), P.PduSize(), Whole.data(), Whole.size())) {
            FAnswer.erase(FAnswer.begin(), FAnswer.begin() + static_cast<std::ptrdiff_t>(Need));
            return Finish(Now, &Whole, "");
        }
        // Not the answer to this request (a late one, a damaged one): it goes,
        // and the deadline still runs for the right one.
        ++FDiscarded;
        FTrace.Verdict(std::string(Link::CrcMatches(Whole.data(), Whole.size()) ? "not the answer to the request"
                                                                                 : "bad CRC") +
                       ": discarded (" + std::to_string(FDiscarded) + " so far)");
        FAnswer.erase(FAnswer.begin(), FAnswer.begin() + 1);
    }
}

void Gateway::Finish(int64_t Now, const Link::Frame* Answer, const std::string& Why)
{
    const Pending P = std::move(*FOnLine);
    FOnLine.reset();
    if (FClients.count(P.ClientId))
        FClients[P.ClientId].OnLine = false;
    if (Answer) {
        FTrace.Verdict("answer");
        FQuietFor = FGapUs;
        Reply(P, *Answer);
        Remember(P, *Answer, Now);
    } else {
        // Whatever the slave still sends belongs to this request: the line
        // must be silent for a turnaround before the next one.
        FQuietFor = std::max(FGapUs, TurnaroundUs);
        FQuietFrom = std::max(FQuietFrom, Now);
        Exception(P, GatewayNoAnswer, Why);
    }
    FAnswer.clear();
}

void Gateway::LineGone(int64_t Now, const std::string& Why)
{
    Log("the port " + FOptions.Port + " is gone (" + Why + "); answering 0x0B until it returns");
    FTrace.Verdict("the port is gone: " + Why);
    FLine.reset();
    FReopenAt = Now + ReopenEveryUs;
    if (FOnLine)
        Finish(Now, nullptr, "the port is gone");
    for (auto& [Id, C] : FClients)
        while (!C.Queue.empty()) {
            const Pending P = C.Queue.front();
            C.Queue.pop_front();
            Exception(P, GatewayNoAnswer, "the port is gone");
        }
}

void Gateway::Reopen(int64_t Now)
{
    if (FLine || Now < FReopenAt)
        return;
    Core::Result<std::unique_ptr<Link::Transport>> Opened =
        Link::OpenSerial(FOptions.Port, FOptions.Line.Baud, FOptions.Line.Framing, FOptions.Line.StopBits);
    if (!Opened) {
        FReopenAt = Now + ReopenEveryUs;
        return;
    }
    FLine = std::move(*Opened);
    FQuietFrom = Link::NowUs();
    FQuietFor = FGapUs;
    Log("the port " + FOptions.Port + " is back");
    FTrace.Verdict("the port is back");
}

void Gateway::Poll(int64_t Now)
{
    if (FOptions.PollUnits.empty() || Now < FNextPoll)
        return;
    FNextPoll = Now + static_cast<int64_t>(FOptions.PollMs) * 1000;
    Client& C = FClients[PollClient];
    for (uint8_t Unit : FOptions.PollUnits) {
        const bool Waiting = C.OnLine && FOnLine && FOnLine->ClientId == PollClient && FOnLine->Unit == Unit;
        if (Waiting || std::any_of(C.Queue.begin(), C.Queue.end(), [&](const Pending& Q) { return Q.Unit == Unit; }))
            continue;
        Pending P;
        P.ClientId = PollClient;
        P.Transaction = Unit;
        P.Unit = Unit;
        // The status block: input registers 0x0000..0x0008.
        const uint8_t Mbap[] = {0, Unit, 0, 0, 0, 6, Unit, 0x04, 0x00, 0x00, 0x00, 0x09};
        P.Rtu = Link::MbapToRtu(Mbap, sizeof Mbap);
        P.Arrived = Now;
        Take(PollClient, std::move(P), Now);
    }
}

void Gateway::Housekeeping(int64_t Now)
{
    const int64_t Idle = static_cast<int64_t>(FOptions.IdleSeconds) * 1000000;
    const int64_t Stall = Idle > 0 ? Idle : 10000000;
    std::vector<std::pair<uint64_t, std::string>> Closing;
    for (auto& [Id, C] : FClients) {
        if (Id == PollClient)
            continue;
        if (!C.Out.empty() && Now - C.OutSince > Stall)
            Closing.push_back({Id, "it read none of its answers for " + std::to_string(Stall / 1000000) + " s"});
        else if (Idle > 0 && C.Outstanding() == 0 && C.Out.empty() && Now - C.LastHeard > Idle)
            Closing.push_back({Id, "idle for " + std::to_string(FOptions.IdleSeconds) + " s"});
    }
    for (const auto& [Id, Why] : Closing)
        DropClient(Id, Why);
}

bool Gateway::Run(int StopFd)
{
    int64_t NextHousekeeping = 0;
    while (true) {
        const int64_t Now = Link::NowUs();
        Reopen(Now);
        // Requests held back in a client's buffer while it was at its limit.
        std::vector<uint64_t> Held;
        for (const auto& [Id, C] : FClients)
            if (!C.In.empty() && WantsInput(C))
                Held.push_back(Id);
        for (uint64_t Id : Held)
            if (FClients.count(Id))
                ParseIn(Id, Now);
        Poll(Now);
        Expire(Now);
        StartNext(Now);
        if (Now >= NextHousekeeping) {
            Housekeeping(Now);
            NextHousekeeping = Now + 100000;
        }
        DropBroken();
        // What is due: the deadline of the transaction on the line, the
        // silence that ends an answer of unknown size, the silence before
        // the next request, the queue's deadlines, the port's reopening, the
        // poll, the housekeeping.
        int64_t Due = NextHousekeeping;
        auto Consider = [&](bool When, int64_t At) {
            if (When && At < Due)
                Due = At;
        };
        bool Waiting = false;
        for (const auto& [Id, C] : FClients)
            if (!C.Queue.empty()) {
                Waiting = true;
                Consider(true, C.Queue.front().Arrived + static_cast<int64_t>(FOptions.QueueMs) * 1000 + 1);
            }
        Consider(bool(FOnLine), FDeadline);
        Consider(FOnLine && !FAnswer.empty(), FLastByte + FGapUs);
        Consider(FLine && !FOnLine && Waiting, FQuietFrom + FQuietFor);
        Consider(!FLine, FReopenAt);
        Consider(!FOptions.PollUnits.empty(), FNextPoll);
        std::vector<pollfd> Fds = {{StopFd, POLLIN, 0}, {FLine ? FLine->Descriptor() : -1, POLLIN, 0},
                                   {FListener, POLLIN, 0}};
        std::vector<uint64_t> Ids;
        for (auto& [Id, C] : FClients) {
            if (C.Fd < 0)
                continue;
            const short Events = static_cast<short>((WantsInput(C) ? POLLIN : 0) | (C.Out.empty() ? 0 : POLLOUT));
            Fds.push_back({C.Fd, Events, 0});
            Ids.push_back(Id);
        }
        const size_t RefusedFrom = Fds.size();
        for (const Refused& R : FRefused) {
            Fds.push_back({R.Fd, POLLIN, 0});
            Consider(true, R.Since + RefusedLingerUs + 1);
        }
        const int64_t Left = std::max<int64_t>(0, Due - Now);
        struct timespec Ts;
        Ts.tv_sec = static_cast<time_t>(Left / 1000000);
        Ts.tv_nsec = static_cast<long>(Left % 1000000) * 1000;
        const int Ready = ::ppoll(Fds.data(), Fds.size(), &Ts, nullptr);
        if (const int End = Link::StopOrFailure(Ready, Fds[0], "velmor-gateway"))
            return End > 0;
        const int64_t After = Link::NowUs();
        if (Ready > 0 && FLine && Fds[1].revents) {
            if ((Fds[1].revents & (POLLHUP | POLLERR)) && !(Fds[1].revents & POLLIN))
                LineGone(After, "hang-up");
            else
                ReadLine(After);
        }
        if (Ready > 0 && (Fds[2].revents & POLLIN))
            Accept(After);
        for (size_t I = 0; Ready > 0 && I < Ids.size(); ++I) {
            if (!FClients.count(Ids[I]))
                continue; // gone meanwhile
            const short Ev = Fds[3 + I].revents;
            if ((Ev & POLLOUT) || ((Ev & (POLLHUP | POLLERR)) && !FClients[Ids[I]].Out.empty()))
                WriteClient(Ids[I], After);
            if (FClients.count(Ids[I]) && (Ev & (POLLIN | POLLHUP | POLLERR)))
                ReadClient(Ids[I], After);
        }
        ServeRefused(After, Fds, RefusedFrom);
        if (FOnLine) {
            const size_t Need = AnswerSize(FOnLine->Rtu[1], FAnswer.data(), FAnswer.size());
            const bool Silent = !FAnswer.empty() && After - FLastByte >= FGapUs;
            if (Silent && Need == SIZE_MAX) {
                // An answer only the silence ends: taken when it checks.
                const Link::Frame Whole(FAnswer.begin(), FAnswer.end());
                if (Link::CrcMatches(Whole.data(), Whole.size()) &&
                    AnswerFits(FOnLine->Unit, FOnLine->Pdu(), FOnLine->PduSize(), Whole.data(), Whole.size()))
                    Finish(After, &Whole, "");
                else
                    Finish(After, nullptr, "bad CRC");
            } else if (After >= FDeadline) {
                Finish(After, nullptr, FAnswer.empty() ? "timeout" : "truncated");
            }
        }
    }
}

} // namespace

int Serve(const Options& O, int StopFd, const Link::ReadyFn& Ready)
{
    Link::Trace Trace;
    if (const Core::Status Traced = O.Line.TracePath.empty() ? Core::Status() : Trace.Open(O.Line.TracePath); !Traced) {
        Log(Traced.Text());
        return 1;
    }
    Core::Result<std::unique_ptr<Link::Transport>> Opened =
        Link::OpenSerial(O.Port, O.Line.Baud, O.Line.Framing, O.Line.StopBits);
    if (!Opened) {
        Log(Opened.Error());
        return 1;
    }
    if (!Link::IsLoopbackHost(O.Host))
        Log("warning: listening on " + Core::FormatEndpoint(O.Host, O.ListenPort) +
            " for other machines. Modbus TCP has no authentication: anyone who reaches this address can move "
            "the motor. Limit it with --allow ADDRESS/BITS, --read-only or a firewall.");
    const Core::Result<Link::Listener> Listener = Link::ListenTcp(O.Host, O.ListenPort, 64);
    if (!Listener) {
        Log(Listener.Error());
        return 1;
    }
    std::unique_ptr<Publisher> Mqtt;
    if (!O.MqttHost.empty()) {
        Core::Result<std::unique_ptr<Publisher>> Started = StartMqtt(O.MqttHost, O.MqttPort, O.LineName);
        if (!Started) {
            Log(Started.Error());
            ::close(Listener->Fd);
            return 1;
        }
        Mqtt = std::move(*Started);
    }
    Ready(Core::FormatEndpoint(O.Host, Listener->Port));
    const bool Ok = Gateway(O, std::move(*Opened), Listener->Fd, Trace, Mqtt.get()).Run(StopFd);
    ::close(Listener->Fd);
    return Ok ? 0 : 1;
}

} // namespace VelmorGateway
