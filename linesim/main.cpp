// velmor-sim: the virtual controller as a device on a line. Serves the line
// protocol (docs/protocol.md) with the model of the in-process virtual
// controller, on a pseudo-terminal, a serial port or TCP, until SIGINT or
// SIGTERM, and plays the faults a real line has. One thread, one poll().
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "link/Mbap.h"
#include "link/RtuFrame.h"
#include "link/Trace.h"
#include "linesim/Line.h"
#include "linesim/Server.h"
#include "sim/Controller.h"
#include "sim/Storage.h"

namespace {

const char* const Usage = R"(Usage: velmor-sim (--pty PATH | --port DEVICE | --tcp HOST:PORT | --modbus-tcp HOST:PORT) [options]

The virtual controller VLM-1 as a device on a Modbus RTU line, with the same
model as the panel's in-process virtual controller (the line protocol is
docs/protocol.md in the Velmor source). It runs until SIGINT or SIGTERM, so the
axis keeps its coordinate while panels come and go.

Where it serves (exactly one):
  --pty PATH          create a pseudo-terminal and keep a symlink at PATH to its
                      slave; prints "SLAVE PATH" on one line, then serves
                      (an existing PATH is replaced only when it is a symlink)
  --port DEVICE       a serial port, raw, opened exclusively; prints DEVICE
  --tcp HOST:PORT     RTU frames over TCP (no MBAP header), one client at a time
                      (a second is turned away), a numeric address ([::1]:PORT
                      for IPv6; port 0: any free port); prints HOST:PORT as bound
  --modbus-tcp HOST:PORT
                      Modbus TCP (MBAP framing) as a device with its own
                      Ethernet port: any number of clients at once, each
                      answered with its transaction id; the unit id is the
                      address (--address; 0 and 255 also reach it)
Options:
  --baud N            line speed (default 115200); sets the port's speed and the
                      silence that ends a frame (3.5 characters, 1.75 ms above
                      19200); a pseudo-terminal or TCP uses a 5 ms silence
  --parity P          none, even or odd (default even: 8E1, the Modbus default)
  --stopbits N        1 or 2 (default 1, or 2 when --parity none: 8N2)
  --address N         slave address 1..247 (default 1); 0 (broadcast) is carried
                      out and never answered
  --state FILE        the stored parameters (default: as the virtual controller,
                      $VELMOR_SIM_STATE, else
                      ~/.local/state/velmor/virtual-controller.ini), loaded at
                      start (power-on) and written by the store command
  --control FILE      the control file (default: as the virtual controller,
                      $VELMOR_SIM_CONTROL, else virtual-controller.control beside
                      the state file), read again within 200 ms of a change
  --trace FILE        append every frame received and sent to FILE: monotonic
                      microseconds, rx or tx, the bytes in hex
  --fault KIND        play a fault on the next answer: no-answer (the request is
                      carried out, its answer lost), late=MS (the answer MS ms
                      late), bad-crc, truncate (the answer without its last 3
                      bytes), hangup=MS (the request is lost, the port goes away
                      and comes back after MS ms)
  --fault-every       play the --fault on every answer instead of the next only
  --help              this text

Control file lines for the line (besides link=down/up and fail lines):
  line no-answer | line late MS | line bad-crc | line truncate
                      on every answer while the line is in the file
  line-once KIND      on the next answer only (armed again when the file changes)
  line hangup MS      the next request is lost and the line hangs up: the
                      pseudo-terminal and its symlink go (TCP: the client and the
                      listener), back after MS ms at the same place; once per
                      change of the file
  link=down           every request goes unanswered (the controller hears nothing)

Exit codes: 0 ended by SIGINT or SIGTERM (or --help), 1 bad usage or a place
it cannot serve.

Examples:
  velmor-sim --pty /tmp/velmor-line
  VELMOR_LINK=serial:/tmp/velmor-line velmor
  velmor-sim --tcp 127.0.0.1:5020 --address 3
  velmor-sim --port /dev/ttyUSB1 --baud 9600 --parity none --fault late=200 --fault-every
  echo 'line hangup 2000' >> ~/.local/state/velmor/virtual-controller.control
)";

struct Config {
    LineSim::Place Where;
    uint8_t Address = 1;
    bool HaveFault = false;
    Sim::LineRule Fault;
    bool Every = false;
    bool StateSet = false, ControlSet = false;
    std::string State, Control;
    std::string TracePath;
    bool StopBitsSet = false;
};

int BadUsage(const std::string& Text)
{
    std::fprintf(stderr, "velmor-sim: %s\nTry 'velmor-sim --help'.\n", Text.c_str());
    return 1;
}

bool ParseNumber(const std::string& S, long Low, long High, long& Out)
{
    if (S.empty() || S.size() > 9)
        return false;
    long V = 0;
    for (char C : S) {
        if (C < '0' || C > '9')
            return false;
        V = V * 10 + (C - '0');
    }
    if (V < Low || V > High)
        return false;
    Out = V;
    return true;
}

// Fills C from the arguments; an empty text when they are sound, else what is
// wrong. Help: --help was given.
std::string ParseArguments(int Argc, char** Argv, Config& C, bool& Help)
{
    int Places = 0;
    for (int I = 1; I < Argc; ++I) {
        std::string Arg = Argv[I], Value;
        const size_t Eq = Arg.find('=');
        bool Inline = false;
        if (Arg.compare(0, 2, "--") == 0 && Eq != std::string::npos) {
            Value = Arg.substr(Eq + 1);
            Arg = Arg.substr(0, Eq);
            Inline = true;
        }
        if (Arg == "--help" || Arg == "-h") {
            Help = true;
            return {};
        }
        if (Arg == "--fault-every") {
            C.Every = true;
            continue;
        }
        static const char* const WithValue[] = {"--pty", "--port", "--tcp", "--baud", "--address",
                                                "--state", "--control", "--fault", "--parity",
                                                "--stopbits", "--trace", "--modbus-tcp"};
        if (std::find_if(std::begin(WithValue), std::end(WithValue), [&](const char* O) { return Arg == O; }) ==
            std::end(WithValue))
            return "unknown option " + Arg;
        if (!Inline) {
            if (I + 1 >= Argc)
                return Arg + " needs a value";
            Value = Argv[++I];
        }
        long N = 0;
        if (Arg == "--pty" || Arg == "--port") {
            if (Value.empty())
                return Arg + " needs a path";
            C.Where.Kind = Arg == "--pty" ? LineSim::Place::Pty : LineSim::Place::Port;
            C.Where.Path = Value;
            ++Places;
        } else if (Arg == "--tcp" || Arg == "--modbus-tcp") {
            if (!LineSim::ParseHostPort(Value, C.Where.Host, C.Where.TcpPort))
                return Arg + " " + Value + ": give HOST:PORT, for example 127.0.0.1:5020";
            C.Where.Kind = Arg == "--tcp" ? LineSim::Place::Tcp : LineSim::Place::ModbusTcp;
            ++Places;
        } else if (Arg == "--baud") {
            if (!ParseNumber(Value, 1, 4000000, N) || !LineSim::KnownBaud(static_cast<int>(N)))
                return "--baud " + Value + ": use 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, "
                                           "460800 or 921600";
            C.Where.Baud = static_cast<int>(N);
        } else if (Arg == "--parity") {
            if (Value == "none")
                C.Where.Parity = Link::Parity::None;
            else if (Value == "even")
                C.Where.Parity = Link::Parity::Even;
            else if (Value == "odd")
                C.Where.Parity = Link::Parity::Odd;
            else
                return "--parity " + Value + ": use none, even or odd";
        } else if (Arg == "--stopbits") {
            if (Value != "1" && Value != "2")
                return "--stopbits " + Value + ": use 1 or 2";
            C.Where.StopBits = Value[0] - '0';
            C.StopBitsSet = true;
        } else if (Arg == "--trace") {
            if (Value.empty())
                return "--trace needs a file";
            C.TracePath = Value;
        } else if (Arg == "--address") {
            if (!ParseNumber(Value, Link::MinAddress, Link::MaxAddress, N))
                return "--address " + Value + ": use 1..247";
            C.Address = static_cast<uint8_t>(N);
        } else if (Arg == "--state") {
            C.State = Value;
            C.StateSet = true;
        } else if (Arg == "--control") {
            C.Control = Value;
            C.ControlSet = true;
        } else if (Arg == "--fault") {
            if (!Sim::ParseLineFault(Value, C.Fault))
                return "--fault " + Value + ": use no-answer, late=MS, bad-crc, truncate or hangup=MS";
            C.HaveFault = true;
        }
    }
    if (Places != 1)
        return Places == 0 ? "say where to serve: --pty PATH, --port DEVICE, --tcp HOST:PORT or --modbus-tcp HOST:PORT"
                           : "give only one of --pty, --port, --tcp and --modbus-tcp";
    if (C.Every && !C.HaveFault)
        return "--fault-every needs a --fault";
    if (!C.StopBitsSet)
        C.Where.StopBits = Link::DefaultStopBits(C.Where.Parity);
    return {};
}

// The serving loop: bytes to frames, frames to the server, answers back with
// the faults played on them.
class Loop {
public:
    Loop(const Config& C, LineSim::Line& L, Sim::VirtualController& D, LineSim::Server& S, int64_t& Clock,
         Link::Trace& T)
        : FConfig(C), FLine(L), FDevice(D), FServer(S), FClock(Clock), FTrace(T)
    {
        FGapNs = (C.Where.Kind == LineSim::Place::Port ? Link::FrameGapUs(C.Where.Baud) : 5000) * 1000;
    }

    // Until a signal on SignalFd; false on an error that ends the program.
    bool Run(int SignalFd);

private:
    void Received(int64_t Now);
    void Frames(int64_t Now, bool Ended);
    void Answer(int64_t Now, const Link::ParsedRequest& P);
    const Sim::LineRule* TakeFault();
    void Flush();
    void HangUp(int64_t Now, int32_t Ms);

    const Config& FConfig;
    LineSim::Line& FLine;
    Sim::VirtualController& FDevice;
    LineSim::Server& FServer;
    int64_t& FClock;
    Link::Trace& FTrace;
    int64_t FGapNs;
    Link::Frame FIn, FOut;
    int64_t FLastByte = 0;
    bool FLate = false; // FOut waits for FSendAt
    int64_t FSendAt = 0;
    bool FDown = false; // hung up, back at FReplugAt
    int64_t FReplugAt = 0;
    bool FFaultUsed = false;
};

void Loop::Flush()
{
    while (!FOut.empty() && FLine.DataFd() >= 0) {
        const ssize_t N = ::write(FLine.DataFd(), FOut.data(), FOut.size());
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
        if (FLine.IsTcp())
            FLine.DropData();
    }
    if (FLine.DataFd() < 0)
        FOut.clear();
}

void Loop::HangUp(int64_t Now, int32_t Ms)
{
    std::fprintf(stderr, "velmor-sim: hanging up for %d ms\n", static_cast<int>(Ms));
    FLine.Close();
    FIn.clear();
    FOut.clear();
    FLate = false;
    FDown = true;
    FReplugAt = Now + static_cast<int64_t>(Ms) * 1000000;
}

const Sim::LineRule* Loop::TakeFault()
{
    // The control file first (LinkUp looks at it), then the command line's.
    FDevice.LinkUp();
    if (const Sim::LineRule* Rule = FDevice.Control().LineFault())
        return Rule;
    if (FConfig.HaveFault && (FConfig.Every || !FFaultUsed)) {
        FFaultUsed = true;
        return &FConfig.Fault;
    }
    return nullptr;
}

void Loop::Answer(int64_t Now, const Link::ParsedRequest& P)
{
    FClock = Now;
    const bool Heard = P.Status == Link::RequestStatus::Ok || P.Status == Link::RequestStatus::BadCount ||
                       P.Status == Link::RequestStatus::UnknownFunction;
    const bool Mine = Heard && (P.Req.Address == FServer.Address() || P.Req.Address == Link::Broadcast);
    const Sim::LineRule* Fault = Mine ? TakeFault() : nullptr;
    if (Fault && Fault->Kind == Sim::LineFaultKind::Hangup) {
        FTrace.Verdict("fault: hang-up for " + std::to_string(Fault->Ms) + " ms");
        HangUp(Now, Fault->Ms);
        return;
    }
    Link::Frame Reply = FServer.Handle(P);
    if (Reply.empty())
        return;
    if (Fault) {
        switch (Fault->Kind) {
        case Sim::LineFaultKind::NoAnswer: FTrace.Verdict("fault: no answer"); return;
        case Sim::LineFaultKind::BadCrc: Reply.back() ^= 0x5A; break;
        case Sim::LineFaultKind::Truncate: Reply.resize(Reply.size() > 4 ? Reply.size() - 3 : 1); break;
        case Sim::LineFaultKind::Late:
            FTrace.Verdict("fault: answer " + std::to_string(Fault->Ms) + " ms late");
            FLate = true;
            FSendAt = Now + static_cast<int64_t>(Fault->Ms) * 1000000;
            break;
        case Sim::LineFaultKind::Hangup: break;
        }
    }
    FOut.insert(FOut.end(), Reply.begin(), Reply.end());
    if (!FLate) {
        FTrace.Sent(Reply.data(), Reply.size());
        Flush();
    }
}

void Loop::Frames(int64_t Now, bool Ended)
{
    // One request at a time: the next waits while a late answer is due.
    while (!FIn.empty() && !FLate && !FDown) {
        const Link::ParsedRequest P = Link::ParseRequest(FIn.data(), FIn.size(), Ended);
        if (P.Status == Link::RequestStatus::Incomplete)
            return;
        const size_t Used = std::min(std::max<size_t>(P.Used, 1), FIn.size());
        FTrace.Received(FIn.data(), Used);
        FIn.erase(FIn.begin(), FIn.begin() + static_cast<std::ptrdiff_t>(Used));
        Answer(Now, P);
    }
}

void Loop::Received(int64_t Now)
{
    uint8_t Buffer[512];
    for (;;) {
        const ssize_t N = ::read(FLine.DataFd(), Buffer, sizeof Buffer);
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
        if (FLine.IsTcp()) {
            FLine.DropData();
            FIn.clear();
            FOut.clear();
            FLate = false;
        } else {
            std::fprintf(stderr, "velmor-sim: the line failed (%s); trying again in 500 ms\n",
                         N < 0 ? std::strerror(errno) : "end of file");
            HangUp(Now, 500);
        }
        return;
    }
    Frames(Now, false);
}

bool Loop::Run(int SignalFd)
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
        Fds[Count++] = {SignalFd, POLLIN, 0};
        const nfds_t DataAt = Count;
        if (!FDown && FLine.DataFd() >= 0)
            Fds[Count++] = {FLine.DataFd(), static_cast<short>(POLLIN | (!FOut.empty() && !FLate ? POLLOUT : 0)), 0};
        const nfds_t ListenAt = Count;
        if (!FDown && FLine.ListenFd() >= 0)
            Fds[Count++] = {FLine.ListenFd(), POLLIN, 0};
        const int Ready = ::poll(Fds, Count, Timeout);
        if (Ready < 0 && errno != EINTR) {
            std::perror("velmor-sim: poll");
            return false;
        }
        if (Ready > 0 && (Fds[0].revents & POLLIN))
            return true;
        const int64_t After = Sim::SteadyNow();

        if (FDown && After >= FReplugAt) {
            std::string Error;
            if (FLine.Open(Error)) {
                FDown = false;
                std::fprintf(stderr, "velmor-sim: back on %s\n", FLine.Describe().c_str());
            } else {
                std::fprintf(stderr, "velmor-sim: %s; trying again in 500 ms\n", Error.c_str());
                FReplugAt = After + 500000000;
            }
            continue;
        }
        if (Ready > 0 && ListenAt < Count && (Fds[ListenAt].revents & POLLIN)) {
            if (FLine.Accept()) {
                FIn.clear();
                FOut.clear();
                FLate = false;
            }
        }
        if (Ready > 0 && DataAt < ListenAt) {
            const short Events = Fds[DataAt].revents;
            if (Events & (POLLIN | POLLHUP | POLLERR))
                Received(After);
            if (!FDown && (Events & POLLOUT))
                Flush();
        }
        if (FLate && After >= FSendAt) {
            FLate = false;
            FTrace.Sent(FOut.data(), FOut.size());
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
    MbapLoop(const Config& C, LineSim::Line& L, Sim::VirtualController& D, LineSim::Server& S, int64_t& Clock,
             Link::Trace& T)
        : FConfig(C), FLine(L), FDevice(D), FServer(S), FClock(Clock), FTrace(T)
    {
    }
    bool Run(int SignalFd);

private:
    struct Peer {
        int Fd;
        Link::Frame In, Out;
    };
    // False when the client is to go.
    bool Serve(Peer& P);
    bool Flush(Peer& P);

    const Config& FConfig;
    LineSim::Line& FLine;
    Sim::VirtualController& FDevice;
    LineSim::Server& FServer;
    int64_t& FClock;
    Link::Trace& FTrace;
    std::vector<Peer> FPeers;
    bool FFaultUsed = false;
};

bool MbapLoop::Flush(Peer& P)
{
    while (!P.Out.empty()) {
        const ssize_t N = ::send(P.Fd, P.Out.data(), P.Out.size(), MSG_NOSIGNAL);
        if (N > 0) {
            P.Out.erase(P.Out.begin(), P.Out.begin() + N);
            continue;
        }
        if (N < 0 && errno == EINTR)
            continue;
        return N < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
    return true;
}

bool MbapLoop::Serve(Peer& P)
{
    uint8_t Buffer[1024];
    while (true) {
        const ssize_t N = ::recv(P.Fd, Buffer, sizeof Buffer, 0);
        if (N > 0) {
            P.In.insert(P.In.end(), Buffer, Buffer + N);
            continue;
        }
        if (N < 0 && errno == EINTR)
            continue;
        if (N < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        return false;
    }
    while (true) {
        const Link::MbapFrame F = Link::PeekMbap(P.In.data(), P.In.size());
        if (F.Status == Link::MbapStatus::Malformed)
            return false;
        if (F.Status == Link::MbapStatus::Incomplete)
            return Flush(P);
        FTrace.Received(P.In.data(), F.Size);
        Link::Frame Rtu = Link::MbapToRtu(P.In.data(), F.Size);
        P.In.erase(P.In.begin(), P.In.begin() + static_cast<std::ptrdiff_t>(F.Size));
        // Modbus TCP devices take unit 0 and 255 as "this device".
        if (!Rtu.empty() && (Rtu[0] == 0 || Rtu[0] == 0xFF)) {
            Rtu[0] = FServer.Address();
            Rtu.resize(Rtu.size() - 2);
            Link::AppendCrc(Rtu);
        }
        const Link::ParsedRequest R = Link::ParseRequest(Rtu.data(), Rtu.size(), true);
        FClock = Sim::SteadyNow();
        FDevice.LinkUp();
        const Sim::LineRule* Fault = FDevice.Control().LineFault();
        if (!Fault && FConfig.HaveFault && (FConfig.Every || !FFaultUsed)) {
            FFaultUsed = true;
            Fault = &FConfig.Fault;
        }
        if (Fault && Fault->Kind == Sim::LineFaultKind::Hangup) {
            FTrace.Verdict("fault: hang-up (the client is dropped)");
            return false;
        }
        Link::Frame Reply = FServer.Handle(R);
        if (Reply.empty() || (Fault && Fault->Kind == Sim::LineFaultKind::NoAnswer))
            continue;
        Reply[0] = F.Unit; // answered under the unit id it was asked by
        const Link::Frame Answer = Link::RtuToMbap(F.Transaction, Reply.data(), Reply.size());
        FTrace.Sent(Answer.data(), Answer.size());
        P.Out.insert(P.Out.end(), Answer.begin(), Answer.end());
    }
}

bool MbapLoop::Run(int SignalFd)
{
    while (true) {
        std::vector<pollfd> Fds = {{SignalFd, POLLIN, 0}, {FLine.ListenFd(), POLLIN, 0}};
        for (const Peer& P : FPeers)
            Fds.push_back({P.Fd, static_cast<short>(POLLIN | (P.Out.empty() ? 0 : POLLOUT)), 0});
        const int Ready = ::poll(Fds.data(), Fds.size(), -1);
        if (Ready < 0 && errno != EINTR) {
            std::perror("velmor-sim: poll");
            return false;
        }
        if (Ready <= 0)
            continue;
        if (Fds[0].revents & POLLIN)
            return true;
        std::vector<Peer> Kept;
        for (size_t I = 0; I < FPeers.size(); ++I) {
            Peer& P = FPeers[I];
            const short Ev = Fds[2 + I].revents;
            bool Keep = true;
            if (Ev & (POLLIN | POLLHUP | POLLERR))
                Keep = Serve(P);
            else if (Ev & POLLOUT)
                Keep = Flush(P);
            if (Keep)
                Kept.push_back(std::move(P));
            else
                ::close(P.Fd);
        }
        FPeers = std::move(Kept);
        if (Fds[1].revents & POLLIN) {
            while (true) {
                const int Fd = ::accept4(FLine.ListenFd(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (Fd < 0)
                    break;
                int One = 1;
                setsockopt(Fd, IPPROTO_TCP, TCP_NODELAY, &One, sizeof One);
                FPeers.push_back({Fd, {}, {}});
            }
        }
    }
}

} // namespace

int main(int Argc, char** Argv)
{
    Config C;
    bool Help = false;
    const std::string Wrong = ParseArguments(Argc, Argv, C, Help);
    if (Help) {
        std::fputs(Usage, stdout);
        return 0;
    }
    if (!Wrong.empty())
        return BadUsage(Wrong);

    // The signals that end the program arrive on a descriptor poll() watches.
    sigset_t Ending;
    sigemptyset(&Ending);
    sigaddset(&Ending, SIGINT);
    sigaddset(&Ending, SIGTERM);
    sigprocmask(SIG_BLOCK, &Ending, nullptr);
    const int SignalFd = signalfd(-1, &Ending, SFD_CLOEXEC | SFD_NONBLOCK);
    if (SignalFd < 0) {
        std::perror("velmor-sim: signalfd");
        return 1;
    }
    signal(SIGPIPE, SIG_IGN);

    // The model on the real clock, read once per request so that every value
    // of an answer is of the same instant.
    int64_t Clock = Sim::SteadyNow();
    Sim::Options O = Sim::Options::FromEnvironment();
    if (C.StateSet) {
        O.StatePath = C.State;
        if (!C.ControlSet)
            O.ControlPath = Sim::DefaultControlPath(C.State);
    }
    if (C.ControlSet)
        O.ControlPath = C.Control;
    O.Now = [&Clock] { return Clock; };
    Sim::VirtualController Device(O); // power-on: the stored parameters
    LineSim::Server Server(Device, C.Address);

    Link::Trace Trace;
    std::string Error;
    if (!C.TracePath.empty() && !Trace.Open(C.TracePath, Error)) {
        std::fprintf(stderr, "velmor-sim: %s\n", Error.c_str());
        return 1;
    }
    LineSim::Line Line(C.Where);
    if (!Line.Open(Error)) {
        std::fprintf(stderr, "velmor-sim: %s\n", Error.c_str());
        return 1;
    }
    std::printf("%s\n", Line.Describe().c_str());
    std::fflush(stdout);

    bool Ok;
    if (C.Where.Kind == LineSim::Place::ModbusTcp) {
        MbapLoop L(C, Line, Device, Server, Clock, Trace);
        Ok = L.Run(SignalFd);
    } else {
        Loop L(C, Line, Device, Server, Clock, Trace);
        Ok = L.Run(SignalFd);
    }
    Line.Close();
    ::close(SignalFd);
    return Ok ? 0 : 1;
}
