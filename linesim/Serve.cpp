// velmor-sim's loops: one thread, one poll(). Bytes to frames, frames to the
// server, answers back with the faults played on them.
#include "linesim/Serve.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "link/Mbap.h"
#include "link/RtuFrame.h"
#include "link/ServeSocket.h"
#include "link/Trace.h"
#include "linesim/Server.h"
#include "sim/Storage.h"

namespace LineSim {

namespace {

// One controller on the line: its model and its side of the protocol.
struct Unit {
    std::unique_ptr<Sim::VirtualController> Device;
    std::unique_ptr<Server> Answers;
};

// What both loops serve with.
struct Serving {
    Line& Port;
    std::vector<Unit>& Units; // the first is the one the line's faults are read for
    int64_t& Clock;           // the models' time: set as each request is handled
    Link::Trace& Trace;
    FaultPlay Faults;

    Sim::VirtualController& First() { return *Units.front().Device; }
    uint8_t FirstAddress() const { return Units.front().Answers->Address(); }
    // The controller at Address, or null.
    Server* At(uint8_t Address)
    {
        for (Unit& U : Units)
            if (U.Answers->Address() == Address)
                return U.Answers.get();
        return nullptr;
    }
    // Whether a request was heard by a controller of this line (its address
    // or a broadcast).
    bool Ours(const Link::ParsedRequest& P)
    {
        const bool Heard = P.Status == Link::RequestStatus::Ok || P.Status == Link::RequestStatus::BadCount ||
                           P.Status == Link::RequestStatus::UnknownFunction;
        return Heard && (P.Req.Address == Link::Broadcast || At(P.Req.Address));
    }
    // The answer of the controller addressed; a broadcast is carried out by
    // every controller and answered by none.
    Link::Frame Handle(const Link::ParsedRequest& P)
    {
        if (P.Req.Address == Link::Broadcast && Ours(P)) {
            for (Unit& U : Units)
                U.Answers->Handle(P);
            return {};
        }
        Server* S = At(P.Req.Address);
        return S ? S->Handle(P) : Link::Frame();
    }
};

// On a line (a pseudo-terminal, a serial port, RTU over TCP): one request at
// a time, a frame ended by the line's silence.
class RtuLoop {
public:
    RtuLoop(Serving& S, int64_t GapNs) : F(S), FGapNs(GapNs) {}

    // Until StopFd is readable; false on an error that ends the program.
    bool Run(int StopFd);

private:
    void Received(int64_t Now);
    void Frames(int64_t Now, bool Ended);
    void Answer(int64_t Now, const Link::ParsedRequest& P);
    void Flush();
    void HangUp(int64_t Now, int32_t Ms);
    // Forgets the bytes of a client or port that went away.
    void Forget();

    Serving& F;
    int64_t FGapNs;
    Link::Frame FIn, FOut;
    int64_t FLastByte = 0;
    bool FLate = false; // FOut waits for FSendAt
    int64_t FSendAt = 0;
    bool FDown = false; // hung up, back at FReplugAt
    int64_t FReplugAt = 0;
};

void RtuLoop::Forget()
{
    FIn.clear();
    FOut.clear();
    FLate = false;
}

void RtuLoop::Flush()
{
    while (!FOut.empty() && F.Port.DataFd() >= 0) {
        const ssize_t N = ::write(F.Port.DataFd(), FOut.data(), FOut.size());
        if (N > 0) {
            FOut.erase(FOut.begin(), FOut.begin() + N);
            continue;
        }
        if (N < 0 && errno == EINTR)
            continue;
        if (N < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return; // poll() says when there is room
        // The client went away (TCP) or the port failed: the answer is lost.
        FOut.clear();
        if (F.Port.IsTcp())
            F.Port.DropData();
    }
    if (F.Port.DataFd() < 0)
        FOut.clear();
}

void RtuLoop::HangUp(int64_t Now, int32_t Ms)
{
    std::fprintf(stderr, "velmor-sim: hanging up for %d ms\n", static_cast<int>(Ms));
    F.Port.Close();
    Forget();
    FDown = true;
    FReplugAt = Now + static_cast<int64_t>(Ms) * 1000000;
}

void RtuLoop::Answer(int64_t Now, const Link::ParsedRequest& P)
{
    F.Clock = Now;
    const Fault* Played = F.Ours(P) ? F.Faults.Next(F.First()) : nullptr;
    if (Played && Played->Kind == FaultKind::Hangup) {
        F.Trace.Verdict("fault: hang-up for " + std::to_string(Played->Ms) + " ms");
        HangUp(Now, Played->Ms);
        return;
    }
    Link::Frame Reply = F.Handle(P);
    if (Reply.empty())
        return;
    if (Played) {
        switch (Played->Kind) {
        case FaultKind::NoAnswer: F.Trace.Verdict("fault: no answer"); return;
        case FaultKind::BadCrc: Reply.back() ^= 0x5A; break;
        case FaultKind::Truncate: Reply.resize(Reply.size() > 4 ? Reply.size() - 3 : 1); break;
        case FaultKind::Late:
            F.Trace.Verdict("fault: answer " + std::to_string(Played->Ms) + " ms late");
            FLate = true;
            FSendAt = Now + static_cast<int64_t>(Played->Ms) * 1000000;
            break;
        case FaultKind::Hangup: break;
        }
    }
    FOut.insert(FOut.end(), Reply.begin(), Reply.end());
    if (!FLate) {
        F.Trace.Sent(Reply.data(), Reply.size());
        Flush();
    }
}

void RtuLoop::Frames(int64_t Now, bool Ended)
{
    // One request at a time: the next waits while a late answer is due.
    while (!FIn.empty() && !FLate && !FDown) {
        const Link::ParsedRequest P = Link::ParseRequest(FIn.data(), FIn.size(), Ended);
        if (P.Status == Link::RequestStatus::Incomplete)
            return;
        const size_t Used = std::min(std::max<size_t>(P.Used, 1), FIn.size());
        F.Trace.Received(FIn.data(), Used);
        FIn.erase(FIn.begin(), FIn.begin() + static_cast<std::ptrdiff_t>(Used));
        Answer(Now, P);
    }
}

void RtuLoop::Received(int64_t Now)
{
    uint8_t Buffer[512];
    for (;;) {
        const ssize_t N = ::read(F.Port.DataFd(), Buffer, sizeof Buffer);
        if (N > 0) {
            // A request is at most 264 bytes: more than a few frames of
            // unread bytes is noise, dropped.
            if (FIn.size() > 4096)
                FIn.clear();
            FIn.insert(FIn.end(), Buffer, Buffer + N);
            FLastByte = Now;
            continue;
        }
        if (N < 0 && errno == EINTR)
            continue;
        if (N < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        // End of file or an error: a TCP client left, or the port is gone.
        if (F.Port.IsTcp()) {
            F.Port.DropData();
            Forget();
        } else {
            std::fprintf(stderr, "velmor-sim: the line failed (%s); trying again in 500 ms\n",
                         N < 0 ? std::strerror(errno) : "end of file");
            HangUp(Now, 500);
        }
        return;
    }
    Frames(Now, false);
}

bool RtuLoop::Run(int StopFd)
{
    for (;;) {
        const int64_t Now = Sim::SteadyNow();
        // What is due next: a replug, a late answer, the silence after a
        // partial frame.
        int64_t Due = -1;
        auto Consider = [&](bool When, int64_t At) {
            if (When && (Due < 0 || At < Due))
                Due = At;
        };
        Consider(FDown, FReplugAt);
        Consider(FLate, FSendAt);
        Consider(!FIn.empty() && !FLate && !FDown, FLastByte + FGapNs);
        int Timeout = -1;
        if (Due >= 0)
            Timeout = Due <= Now ? 0 : static_cast<int>(std::min<int64_t>((Due - Now + 999999) / 1000000, 60000));

        pollfd Fds[3];
        nfds_t Count = 0;
        Fds[Count++] = {StopFd, POLLIN, 0};
        const nfds_t DataAt = Count;
        if (!FDown && F.Port.DataFd() >= 0)
            Fds[Count++] = {F.Port.DataFd(), static_cast<short>(POLLIN | (!FOut.empty() && !FLate ? POLLOUT : 0)),
                            0};
        const nfds_t ListenAt = Count;
        if (!FDown && F.Port.ListenFd() >= 0)
            Fds[Count++] = {F.Port.ListenFd(), POLLIN, 0};
        const int Ready = ::poll(Fds, Count, Timeout);
        if (const int End = Link::StopOrFailure(Ready, Fds[0], "velmor-sim"))
            return End > 0;
        const int64_t After = Sim::SteadyNow();

        if (FDown && After >= FReplugAt) {
            if (const Core::Status Opened = F.Port.Open()) {
                FDown = false;
                std::fprintf(stderr, "velmor-sim: back on %s\n", F.Port.Describe().c_str());
            } else {
                std::fprintf(stderr, "velmor-sim: %s; trying again in 500 ms\n", Opened.Text().c_str());
                FReplugAt = After + 500000000;
            }
            continue;
        }
        if (Ready > 0 && ListenAt < Count && (Fds[ListenAt].revents & POLLIN) && F.Port.Accept())
            Forget();
        if (Ready > 0 && DataAt < ListenAt) {
            const short Events = Fds[DataAt].revents;
            if (Events & (POLLIN | POLLHUP | POLLERR))
                Received(After);
            if (!FDown && (Events & POLLOUT))
                Flush();
        }
        if (FLate && After >= FSendAt) {
            FLate = false;
            F.Trace.Sent(FOut.data(), FOut.size());
            Flush();
            Frames(After, false); // what came meanwhile
        }
        if (!FIn.empty() && !FLate && !FDown && After - FLastByte >= FGapNs)
            Frames(After, true);
    }
}

// Modbus TCP: any number of clients, each request answered on its own
// connection under its transaction id. The line's faults of the control file
// apply to the answer as on a line (hang-up: the client is dropped).
class MbapLoop {
public:
    explicit MbapLoop(Serving& S) : F(S) {}
    bool Run(int StopFd);

private:
    struct Peer {
        int Fd;
        Link::Frame In, Out;
    };
    // False when the client is to go.
    bool Serve(Peer& P);

    Serving& F;
    std::vector<Peer> FPeers;
};

bool MbapLoop::Serve(Peer& P)
{
    if (!Link::ReceiveAvailable(P.Fd, P.In))
        return false;
    while (true) {
        const Link::MbapFrame M = Link::PeekMbap(P.In.data(), P.In.size());
        if (M.Status == Link::MbapStatus::Malformed)
            return false;
        if (M.Status == Link::MbapStatus::Incomplete)
            return Link::SendPending(P.Fd, P.Out);
        F.Trace.Received(P.In.data(), M.Size);
        Link::Frame Rtu = Link::MbapToRtu(P.In.data(), M.Size);
        P.In.erase(P.In.begin(), P.In.begin() + static_cast<std::ptrdiff_t>(M.Size));
        // Modbus TCP devices take unit 0 and 255 as "this device".
        if (!Rtu.empty() && (Rtu[0] == 0 || Rtu[0] == 0xFF)) {
            Rtu[0] = F.FirstAddress();
            Rtu.resize(Rtu.size() - 2);
            Link::AppendCrc(Rtu);
        }
        const Link::ParsedRequest R = Link::ParseRequest(Rtu.data(), Rtu.size(), true);
        F.Clock = Sim::SteadyNow();
        const Fault* Played = F.Faults.Next(F.First());
        if (Played && Played->Kind == FaultKind::Hangup) {
            F.Trace.Verdict("fault: hang-up (the client is dropped)");
            return false;
        }
        Link::Frame Reply = F.Handle(R);
        if (Reply.empty() || (Played && Played->Kind == FaultKind::NoAnswer))
            continue;
        Reply[0] = M.Unit; // answered under the unit id it was asked by
        const Link::Frame Answer = Link::RtuToMbap(M.Transaction, Reply.data(), Reply.size());
        F.Trace.Sent(Answer.data(), Answer.size());
        P.Out.insert(P.Out.end(), Answer.begin(), Answer.end());
    }
}

bool MbapLoop::Run(int StopFd)
{
    while (true) {
        std::vector<pollfd> Fds = {{StopFd, POLLIN, 0}, {F.Port.ListenFd(), POLLIN, 0}};
        for (const Peer& P : FPeers)
            Fds.push_back({P.Fd, static_cast<short>(POLLIN | (P.Out.empty() ? 0 : POLLOUT)), 0});
        const int Ready = ::poll(Fds.data(), Fds.size(), -1);
        if (const int End = Link::StopOrFailure(Ready, Fds[0], "velmor-sim"))
            return End > 0;
        if (Ready <= 0)
            continue;
        std::vector<Peer> Kept;
        for (size_t I = 0; I < FPeers.size(); ++I) {
            Peer& P = FPeers[I];
            const short Ev = Fds[2 + I].revents;
            bool Keep = true;
            if (Ev & (POLLIN | POLLHUP | POLLERR))
                Keep = Serve(P);
            else if (Ev & POLLOUT)
                Keep = Link::SendPending(P.Fd, P.Out);
            if (Keep)
                Kept.push_back(std::move(P));
            else
                ::close(P.Fd);
        }
        FPeers = std::move(Kept);
        if (Fds[1].revents & POLLIN)
            for (int Fd; (Fd = Link::AcceptClient(F.Port.ListenFd())) >= 0;)
                FPeers.push_back({Fd, {}, {}});
    }
}

} // namespace

int Serve(const Options& O, int StopFd, const Link::ReadyFn& Ready)
{
    // The model on the real clock, read once per request so that every value
    // of an answer is of the same instant.
    int64_t Clock = Sim::SteadyNow();
    Sim::Options Model = Sim::Options::FromEnvironment();
    if (O.StateSet) {
        Model.StatePath = O.State;
        if (!O.ControlSet)
            Model.ControlPath = Sim::DefaultControlPath(O.State);
    }
    if (O.ControlSet)
        Model.ControlPath = O.Control;
    Model.Now = [&Clock] { return Clock; };
    // Power-on: each controller its stored parameters.
    std::vector<Unit> Units;
    for (size_t I = 0; I < O.Addresses.size(); ++I) {
        Sim::Options Own = Model;
        if (I > 0)
            Own.StatePath = Sim::StatePathAt(Model.StatePath, O.Addresses[I]);
        Unit U;
        U.Device = std::make_unique<Sim::VirtualController>(Own);
        U.Answers = std::make_unique<Server>(*U.Device, O.Addresses[I]);
        Units.push_back(std::move(U));
    }

    Link::Trace Trace;
    if (const Core::Status Traced = O.Where.Line.TracePath.empty() ? Core::Status() : Trace.Open(O.Where.Line.TracePath);
        !Traced) {
        std::fprintf(stderr, "velmor-sim: %s\n", Traced.Text().c_str());
        return 1;
    }
    Line Port(O.Where);
    if (const Core::Status Opened = Port.Open(); !Opened) {
        std::fprintf(stderr, "velmor-sim: %s\n", Opened.Text().c_str());
        return 1;
    }
    Ready(Port.Describe());

    Serving S{Port, Units, Clock, Trace, FaultPlay(O.HaveFault ? &O.CommandLineFault : nullptr, O.Every)};
    // A serial port's frame ends after 3.5 characters of silence; elsewhere
    // after 5 ms.
    const int64_t GapNs = (O.Where.Kind == Place::Port ? Link::FrameGapUs(O.Where.Line.Baud) : 5000) * 1000;
    const bool Ok = O.Where.Kind == Place::ModbusTcp ? MbapLoop(S).Run(StopFd) : RtuLoop(S, GapNs).Run(StopFd);
    Port.Close();
    return Ok ? 0 : 1;
}

} // namespace LineSim
