// velmor-gateway: owns one serial line of Modbus RTU slaves and serves it as
// Modbus TCP (MBAP) to any number of clients. One transaction is on the line
// at a time, in the order the requests arrived; each answer goes back to its
// own client under its own transaction id; the unit id is passed through as
// the RTU address, so any slave on the line is reached, not only a Velmor
// controller. A slave that does not answer within the line's deadline gives
// its client exception 0x0B (gateway target device failed to respond).
// One thread, one poll(); every wait bounded.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "link/Mbap.h"
#include "link/RtuFrame.h"
#include "link/SerialSpeed.h"
#include "link/Trace.h"
#include "link/Transport.h"

namespace {

const char* const Usage = R"(Usage: velmor-gateway --port DEVICE --listen HOST:PORT [options]

Shares one RS-485 line of Modbus RTU slaves (a Velmor controller or any
other) among any number of Modbus TCP clients: the panel, velmorctl, mbpoll,
SCADA. Requests go on the line one at a time in the order they arrived; each
answer goes back to the client that asked, with its transaction id. The unit
id is the slave's address on the line. A slave that does not answer within
the deadline gives its client exception 0x0B. Runs until SIGINT or SIGTERM.

  --port DEVICE       the serial port (opened exclusively)
  --listen HOST:PORT  where clients connect: a numeric address (0.0.0.0 for all,
                      [::1]:PORT for IPv6; port 0: any free port); prints
                      HOST:PORT as bound on one line once serving
  --baud N            the line's speed (default 9600)
  --parity P          none, even or odd (default even: 8E1, the Modbus default)
  --stopbits N        1 or 2 (default 1, or 2 when --parity none: 8N2)
  --timeout MS        the deadline of one transaction on the line, 1..10000
                      (default: the wire time of request and answer, three
                      frame silences and a 50 ms turnaround)
  --trace FILE        append every frame to FILE: monotonic microseconds,
                      direction (tcp-rx, line-tx, line-rx, tcp-tx), bytes in hex
  --help              this text

Exit codes: 0 ended by SIGINT or SIGTERM (or --help), 1 bad usage, a port or
address it cannot open, or the port gone (an adapter unplugged).

Example:
  velmor-gateway --port /dev/ttyUSB0 --baud 115200 --listen 0.0.0.0:5020
  VELMOR_LINK=modbus-tcp:127.0.0.1:5020?unit=1&baud=115200 velmor
  mbpoll -m tcp -p 5020 -a 1 -t 3 -0 -r 0 -c 9 -1 127.0.0.1
)";

constexpr int64_t TurnaroundUs = 50000;
constexpr size_t MaxClients = 64;
constexpr size_t MaxQueued = 4 * MaxClients;

struct Options {
    std::string Port, Host, TracePath;
    uint16_t ListenPort = 0;
    int Baud = 9600;
    Link::Parity Parity = Link::Parity::Even;
    int StopBits = 0; // 0: the default for the parity
    int TimeoutMs = 0;
};

int BadUsage(const std::string& Text)
{
    std::fprintf(stderr, "velmor-gateway: %s\nTry 'velmor-gateway --help'.\n", Text.c_str());
    return 1;
}

bool Number(const std::string& S, long Low, long High, long& Out)
{
    if (S.empty() || S.size() > 9 || S.find_first_not_of("0123456789") != std::string::npos)
        return false;
    Out = std::stol(S);
    return Out >= Low && Out <= High;
}

bool HostPort(const std::string& Text, std::string& Host, uint16_t& Port)
{
    std::string H, P;
    if (!Text.empty() && Text[0] == '[') {
        const size_t Close = Text.find(']');
        if (Close == std::string::npos || Close + 1 >= Text.size() || Text[Close + 1] != ':')
            return false;
        H = Text.substr(1, Close - 1);
        P = Text.substr(Close + 2);
    } else {
        const size_t Colon = Text.rfind(':');
        if (Colon == std::string::npos || Text.find(':') != Colon)
            return false;
        H = Text.substr(0, Colon);
        P = Text.substr(Colon + 1);
    }
    long V = 0;
    if (H.empty() || !Number(P, 0, 65535, V))
        return false;
    Host = H;
    Port = static_cast<uint16_t>(V);
    return true;
}

// Empty when the arguments are sound, else what is wrong.
std::string Parse(int Argc, char** Argv, Options& O, bool& Help)
{
    for (int I = 1; I < Argc; ++I) {
        std::string Arg = Argv[I], Value;
        const size_t Eq = Arg.find('=');
        const bool Inline = Arg.compare(0, 2, "--") == 0 && Eq != std::string::npos;
        if (Inline) {
            Value = Arg.substr(Eq + 1);
            Arg = Arg.substr(0, Eq);
        }
        if (Arg == "--help" || Arg == "-h") {
            Help = true;
            return {};
        }
        static const char* const Known[] = {"--port", "--listen", "--baud", "--parity", "--stopbits", "--timeout",
                                            "--trace"};
        if (std::none_of(std::begin(Known), std::end(Known), [&](const char* K) { return Arg == K; }))
            return "unknown option " + Arg;
        if (!Inline) {
            if (I + 1 >= Argc)
                return Arg + " needs a value";
            Value = Argv[++I];
        }
        long N = 0;
        if (Arg == "--port") {
            if (Value.empty())
                return "--port needs a device";
            O.Port = Value;
        } else if (Arg == "--listen") {
            if (!HostPort(Value, O.Host, O.ListenPort))
                return "--listen " + Value + ": give HOST:PORT, for example 127.0.0.1:5020";
        } else if (Arg == "--baud") {
            if (!Number(Value, 1, 4000000, N) || Link::SpeedCode(static_cast<int>(N)) == B0)
                return "--baud " + Value + ": use 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, "
                                           "460800 or 921600";
            O.Baud = static_cast<int>(N);
        } else if (Arg == "--parity") {
            if (Value == "none")
                O.Parity = Link::Parity::None;
            else if (Value == "even")
                O.Parity = Link::Parity::Even;
            else if (Value == "odd")
                O.Parity = Link::Parity::Odd;
            else
                return "--parity " + Value + ": use none, even or odd";
        } else if (Arg == "--stopbits") {
            if (Value != "1" && Value != "2")
                return "--stopbits " + Value + ": use 1 or 2";
            O.StopBits = Value[0] - '0';
        } else if (Arg == "--timeout") {
            if (!Number(Value, 1, 10000, N))
                return "--timeout " + Value + ": use 1..10000 (ms)";
            O.TimeoutMs = static_cast<int>(N);
        } else if (Arg == "--trace") {
            if (Value.empty())
                return "--trace needs a file";
            O.TracePath = Value;
        }
    }
    if (O.Port.empty())
        return "say which serial port to share: --port DEVICE";
    if (O.Host.empty())
        return "say where to listen: --listen HOST:PORT";
    if (O.StopBits == 0)
        O.StopBits = Link::DefaultStopBits(O.Parity);
    return {};
}

int Listen(const Options& O, std::string& Bound, std::string& Error)
{
    addrinfo Hints{};
    Hints.ai_family = AF_UNSPEC;
    Hints.ai_socktype = SOCK_STREAM;
    Hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    addrinfo* Found = nullptr;
    const std::string Port = std::to_string(O.ListenPort);
    if (getaddrinfo(O.Host.c_str(), Port.c_str(), &Hints, &Found) != 0 || !Found) {
        Error = O.Host + " is not a numeric IP address";
        return -1;
    }
    const int Fd = ::socket(Found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int One = 1;
    if (Fd < 0 || setsockopt(Fd, SOL_SOCKET, SO_REUSEADDR, &One, sizeof One) != 0 ||
        ::bind(Fd, Found->ai_addr, Found->ai_addrlen) != 0 || ::listen(Fd, 16) != 0) {
        Error = "cannot listen on " + O.Host + ":" + Port + ": " + std::strerror(errno);
        if (Fd >= 0)
            ::close(Fd);
        freeaddrinfo(Found);
        return -1;
    }
    freeaddrinfo(Found);
    sockaddr_storage Addr{};
    socklen_t Len = sizeof Addr;
    getsockname(Fd, reinterpret_cast<sockaddr*>(&Addr), &Len);
    const bool Six = Addr.ss_family == AF_INET6;
    const uint16_t P = ntohs(Six ? reinterpret_cast<sockaddr_in6*>(&Addr)->sin6_port
                                 : reinterpret_cast<sockaddr_in*>(&Addr)->sin_port);
    Bound = (Six ? "[" + O.Host + "]" : O.Host) + ":" + std::to_string(P);
    return Fd;
}

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
    const int Bits = 1 + 8 + (O.Parity == Link::Parity::None ? 0 : 1) + O.StopBits;
    return Link::WireTimeUs(Request.size() + Answer, O.Baud, Bits) + 3 * Link::FrameGapUs(O.Baud) + TurnaroundUs;
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
        : FOptions(O), FLine(Line), FListener(Listener), FTrace(T), FGapUs(Link::FrameGapUs(O.Baud))
    {
    }
    // Until a signal on SignalFd; false when the line failed.
    bool Run(int SignalFd);

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
    while (true) {
        const int Fd = ::accept4(FListener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (Fd < 0)
            return;
        if (FClients.size() >= MaxClients) {
            ::close(Fd);
            continue;
        }
        int One = 1;
        setsockopt(Fd, IPPROTO_TCP, TCP_NODELAY, &One, sizeof One);
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
    uint8_t Buffer[1024];
    while (true) {
        const ssize_t N = ::recv(C.Fd, Buffer, sizeof Buffer, 0);
        if (N > 0) {
            C.In.insert(C.In.end(), Buffer, Buffer + N);
            continue;
        }
        if (N < 0 && errno == EINTR)
            continue;
        if (N < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
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
    while (!C.Out.empty()) {
        const ssize_t N = ::send(C.Fd, C.Out.data(), C.Out.size(), MSG_NOSIGNAL);
        if (N > 0) {
            C.Out.erase(C.Out.begin(), C.Out.begin() + N);
            continue;
        }
        if (N < 0 && errno == EINTR)
            continue;
        if (N < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        DropClient(Id);
        return;
    }
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
        const int Bits = 1 + 8 + (FOptions.Parity == Link::Parity::None ? 0 : 1) + FOptions.StopBits;
        FQuietFrom = Link::NowUs() + Link::WireTimeUs(P.Rtu.size(), FOptions.Baud, Bits);
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

bool Gateway::Run(int SignalFd)
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
        std::vector<pollfd> Fds = {{SignalFd, POLLIN, 0}, {FLine.Descriptor(), POLLIN, 0}, {FListener, POLLIN, 0}};
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
        if (Ready < 0 && errno != EINTR) {
            std::perror("velmor-gateway: poll");
            return false;
        }
        if (Ready > 0 && (Fds[0].revents & POLLIN))
            return true;
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

int main(int Argc, char** Argv)
{
    Options O;
    bool Help = false;
    const std::string Wrong = Parse(Argc, Argv, O, Help);
    if (Help) {
        std::fputs(Usage, stdout);
        return 0;
    }
    if (!Wrong.empty())
        return BadUsage(Wrong);

    sigset_t Ending;
    sigemptyset(&Ending);
    sigaddset(&Ending, SIGINT);
    sigaddset(&Ending, SIGTERM);
    sigprocmask(SIG_BLOCK, &Ending, nullptr);
    const int SignalFd = signalfd(-1, &Ending, SFD_CLOEXEC | SFD_NONBLOCK);
    if (SignalFd < 0) {
        std::perror("velmor-gateway: signalfd");
        return 1;
    }
    signal(SIGPIPE, SIG_IGN);

    Link::Trace Trace;
    std::string Error;
    if (!O.TracePath.empty() && !Trace.Open(O.TracePath, Error)) {
        std::fprintf(stderr, "velmor-gateway: %s\n", Error.c_str());
        return 1;
    }
    auto Line = Link::OpenSerial(O.Port, O.Baud, O.Parity, O.StopBits, Error);
    if (!Line) {
        std::fprintf(stderr, "velmor-gateway: %s\n", Error.c_str());
        return 1;
    }
    std::string Bound;
    const int Listener = Listen(O, Bound, Error);
    if (Listener < 0) {
        std::fprintf(stderr, "velmor-gateway: %s\n", Error.c_str());
        return 1;
    }
    std::printf("%s\n", Bound.c_str());
    std::fflush(stdout);
    Gateway G(O, *Line, Listener, Trace);
    const bool Ok = G.Run(SignalFd);
    ::close(Listener);
    ::close(SignalFd);
    return Ok ? 0 : 1;
}
