#pragma once

// What the gateway's program tests share: velmor-sim on a pseudo-terminal
// behind velmor-gateway (its standard error kept with its output), a raw
// Modbus TCP client on loopback with bounded waits, and the trace read back.

#include <arpa/inet.h>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <cstdlib>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/linkclient/ChildProcess.h"
#include "tests/linkclient/LineTestTools.h"

namespace GatewayTest {

using Bytes = std::vector<uint8_t>;

inline Bytes Mbap(uint16_t Transaction, uint8_t Unit, const Bytes& Pdu)
{
    const size_t Length = Pdu.size() + 1;
    Bytes F(7 + Pdu.size());
    F[0] = uint8_t(Transaction >> 8);
    F[1] = uint8_t(Transaction);
    F[4] = uint8_t(Length >> 8);
    F[5] = uint8_t(Length);
    F[6] = Unit;
    std::copy(Pdu.begin(), Pdu.end(), F.begin() + 7);
    return F;
}

inline Bytes ReadInputs(uint16_t Transaction, uint8_t Unit, uint16_t Address, uint16_t Count)
{
    return Mbap(Transaction, Unit,
                {0x04, uint8_t(Address >> 8), uint8_t(Address), uint8_t(Count >> 8), uint8_t(Count)});
}

// The function byte of an answer (0x84 for an exception to 0x04), 0 when none.
inline uint8_t Function(const Bytes& Answer) { return Answer.size() > 7 ? Answer[7] : 0; }
inline uint8_t ExceptionCode(const Bytes& Answer) { return Answer.size() > 8 ? Answer[8] : 0; }
inline uint16_t Transaction(const Bytes& Answer)
{
    return Answer.size() > 1 ? uint16_t(Answer[0] << 8 | Answer[1]) : 0xFFFF;
}

// A Modbus TCP client on one socket, every wait bounded.
class Client {
public:
    Client() = default;
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    ~Client() { Close(); }

    // Connects to 127.0.0.1:Port, from Source (a loopback address) when
    // given, with a receive buffer of ReceiveBuffer bytes when given (a
    // small one fills soon when nothing is read).
    bool Connect(const std::string& Port, const char* Source = nullptr, int ReceiveBuffer = 0)
    {
        Close();
        FFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (ReceiveBuffer > 0)
            ::setsockopt(FFd, SOL_SOCKET, SO_RCVBUF, &ReceiveBuffer, sizeof ReceiveBuffer);
        sockaddr_in A{};
        A.sin_family = AF_INET;
        if (Source) {
            ::inet_pton(AF_INET, Source, &A.sin_addr);
            if (::bind(FFd, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0)
                return false;
        }
        A.sin_port = htons(static_cast<uint16_t>(std::stoi(Port)));
        ::inet_pton(AF_INET, "127.0.0.1", &A.sin_addr);
        int One = 1;
        ::setsockopt(FFd, IPPROTO_TCP, TCP_NODELAY, &One, sizeof One);
        return ::connect(FFd, reinterpret_cast<sockaddr*>(&A), sizeof A) == 0;
    }
    void Close()
    {
        if (FFd >= 0)
            ::close(FFd);
        FFd = -1;
        FIn.clear();
    }
    bool Send(const Bytes& B) { return ::send(FFd, B.data(), B.size(), MSG_NOSIGNAL) == ssize_t(B.size()); }
    // Sends without waiting: false when the socket would block.
    bool SendNow(const Bytes& B)
    {
        return ::send(FFd, B.data(), B.size(), MSG_NOSIGNAL | MSG_DONTWAIT) == ssize_t(B.size());
    }
    // One whole MBAP frame within Ms; empty on a timeout or when the gateway
    // closed the connection (then Closed() is true).
    Bytes Receive(int Ms)
    {
        const auto End = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms);
        while (true) {
            if (FIn.size() >= 6) {
                const size_t Size = 6u + size_t(FIn[4] << 8 | FIn[5]);
                if (FIn.size() >= Size) {
                    Bytes F(FIn.begin(), FIn.begin() + long(Size));
                    FIn.erase(FIn.begin(), FIn.begin() + long(Size));
                    return F;
                }
            }
            const auto Left =
                std::chrono::duration_cast<std::chrono::milliseconds>(End - std::chrono::steady_clock::now());
            if (Left.count() <= 0)
                return {};
            pollfd P{FFd, POLLIN, 0};
            if (::poll(&P, 1, int(Left.count())) <= 0)
                continue;
            uint8_t Buffer[4096];
            const ssize_t N = ::recv(FFd, Buffer, sizeof Buffer, 0);
            if (N <= 0) {
                FClosed = true;
                return {};
            }
            FIn.insert(FIn.end(), Buffer, Buffer + N);
        }
    }
    // Whether the gateway closed the connection within Ms (answers read on
    // the way are dropped).
    bool ClosedWithin(int Ms)
    {
        const auto End = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms);
        while (!FClosed && std::chrono::steady_clock::now() < End)
            Receive(50);
        return FClosed;
    }
    bool Closed() const { return FClosed; }
    // A request and its answer.
    Bytes Ask(const Bytes& Request, int Ms = 2000) { return Send(Request) ? Receive(Ms) : Bytes(); }
    int Fd() const { return FFd; }

private:
    int FFd = -1;
    bool FClosed = false;
    Bytes FIn;
};

// A serial line of a given speed between two pseudo-terminals, which have
// none: a new pseudo-terminal at Path (for the gateway) joined to Far (the
// one velmor-sim made), each byte passed on one character time (11 bits)
// after the one before it in the same direction, as a line at that speed
// carries it.
class PacedLine {
public:
    PacedLine() = default;
    PacedLine(const PacedLine&) = delete;
    PacedLine& operator=(const PacedLine&) = delete;
    ~PacedLine()
    {
        FStop = true;
        if (FThread.joinable())
            FThread.join();
        for (int Fd : {FMaster, FSlave, FFar})
            if (Fd >= 0)
                ::close(Fd);
    }
    bool Start(const std::string& Path, const std::string& Far, int Baud)
    {
        FCharUs = 11e6 / Baud;
        termios Raw{};
        ::cfmakeraw(&Raw);
        if (::openpty(&FMaster, &FSlave, nullptr, &Raw, nullptr) != 0)
            return false;
        FFar = ::open(Far.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (FFar < 0 || ::symlink(::ptsname(FMaster), Path.c_str()) != 0)
            return false;
        ::tcsetattr(FFar, TCSANOW, &Raw);
        ::fcntl(FMaster, F_SETFL, O_NONBLOCK);
        FThread = std::thread([this] { Run(); });
        return true;
    }

private:
    struct Direction {
        int From, To;
        std::deque<uint8_t> Held;
        int64_t Next = 0; // when the next byte may go, microseconds
    };
    static int64_t Now()
    {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    void Run()
    {
        Direction Ways[2] = {{FMaster, FFar, {}, 0}, {FFar, FMaster, {}, 0}};
        while (!FStop) {
            pollfd P[2] = {{FMaster, POLLIN, 0}, {FFar, POLLIN, 0}};
            int Wait = 10;
            for (const Direction& D : Ways)
                if (!D.Held.empty())
                    Wait = std::max(0, std::min<int>(Wait, int((D.Next - Now()) / 1000)));
            ::poll(P, 2, Wait);
            for (Direction& D : Ways) {
                uint8_t Buffer[512];
                const ssize_t N = ::read(D.From, Buffer, sizeof Buffer);
                if (N > 0)
                    D.Held.insert(D.Held.end(), Buffer, Buffer + N);
                const int64_t T = Now();
                if (D.Held.empty() || D.Next > T)
                    continue;
                if (D.Next < T - int64_t(FCharUs))
                    D.Next = T; // the line was idle
                while (!D.Held.empty() && D.Next <= T) {
                    if (::write(D.To, &D.Held.front(), 1) != 1)
                        break;
                    D.Held.pop_front();
                    D.Next += int64_t(FCharUs);
                }
            }
        }
    }
    int FMaster = -1, FSlave = -1, FFar = -1;
    double FCharUs = 0;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

inline std::string ReadFile(const std::string& Path)
{
    std::ifstream In(Path);
    return std::string((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
}

inline int Count(const std::string& Text, const std::string& Part)
{
    int N = 0;
    for (size_t At = Text.find(Part); At != std::string::npos; At = Text.find(Part, At + 1))
        ++N;
    return N;
}

// velmor-sim on a pseudo-terminal and velmor-gateway owning it, started with
// Args besides --port, --listen 127.0.0.1:0 and --trace.
struct Line {
    LinkTest::LineSim Sim;
    LinkTest::ChildProcess Gateway;
    std::string Port;      // the TCP port it listens on
    std::string TracePath; // the gateway's trace
    std::string Early;     // what it printed before it was ready (warnings)
    PacedLine Paced;

    // With PacedBaud, the gateway's port is a line of that speed to the sim.
    bool Start(const std::vector<std::string>& Args, const std::vector<std::string>& SimArgs = {}, int PacedBaud = 0)
    {
        if (!Sim.Start(SimArgs))
            return false;
        TracePath = Sim.Folder + "/gateway.trace";
        std::string Device = Sim.Link;
        if (PacedBaud > 0) {
            Device = Sim.Folder + "/paced";
            if (!Paced.Start(Device, Sim.Link, PacedBaud))
                return false;
        }
        // $VELMOR_TEST_GATEWAY runs the cases on another build of the gateway
        // (an earlier one, to see a case fail).
        const char* Other = std::getenv("VELMOR_TEST_GATEWAY");
        std::vector<std::string> All = {"-c", "exec \"$0\" \"$@\" 2>&1", Other ? Other : VELMOR_GATEWAY_EXE};
        for (const std::string& Arg : {std::string("--port"), Device, std::string("--listen"),
                                       std::string("127.0.0.1:0"), std::string("--trace"), TracePath})
            All.push_back(Arg);
        All.insert(All.end(), Args.begin(), Args.end());
        if (!Gateway.Start("/bin/sh", All))
            return false;
        std::string L;
        while (Gateway.ReadLine(L, 5000)) {
            if (L.compare(0, 10, "127.0.0.1:") == 0) {
                Port = L.substr(10);
                return true;
            }
            Early += L + "\n";
        }
        return false;
    }
    // What the gateway printed since, waiting up to Ms for Part.
    std::string LogUntil(const std::string& Part, int Ms)
    {
        std::string L;
        const auto End = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms);
        while (!LinkTest::Has(FLog, Part) && std::chrono::steady_clock::now() < End)
            if (Gateway.ReadLine(L, 100))
                FLog += L + "\n";
        return FLog;
    }
    std::string Trace() const { return ReadFile(TracePath); }
    int LineRequests() const { return Count(Trace(), " line-tx "); }
    // Writes the sim's control file and waits until it has surely looked.
    void Control(const std::string& Text)
    {
        std::ofstream(Sim.Control) << Text << "\n";
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
    }

private:
    std::string FLog;
};

} // namespace GatewayTest
