// Figures of the device library's line client, printed as rows of the
// benchmark table (bench/run): round trips per page-1 poll tick, the time the
// panel's thread spends in the library for that tick against velmor-sim on a
// pseudo-terminal, and the time an open takes with no port and with a port
// where nothing answers; each beside the wire-time floor of one status
// request and its answer at 115200 and 9600 baud (bytes x 10 / baud).
//
// The client is driven as libvelmor.so drives it (RtuClient, the backend the
// library hands every call to), so the requests it sends can be counted.
// With the line's silence: the cost of a tick whose requests follow each
// other (a setter, then the status), where the client waits 3.5 characters
// before the second. Through velmor-gateway (Modbus TCP on loopback): the
// latency it adds to a status read, and how many clients it serves at one
// status read per 100 ms tick each before the line is the limit, beside the
// line's floor (wire time of request and answer at 11 bits a byte, plus the
// silence) at 115200 and 9600 baud.
// Usage: link_figures [TICKS]   (default 200)
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "link/Registers.h"
#include "link/RtuClient.h"
#include "link/RtuFrame.h"
#include "tests/linkclient/ChildProcess.h"

namespace {

double Median(std::vector<double> V)
{
    if (V.empty())
        return 0;
    std::sort(V.begin(), V.end());
    const size_t N = V.size();
    return N % 2 ? V[N / 2] : (V[N / 2 - 1] + V[N / 2]) / 2;
}

double Percentile(std::vector<double> V, double P)
{
    if (V.empty())
        return 0;
    std::sort(V.begin(), V.end());
    return V[std::min(V.size() - 1, static_cast<size_t>(P * static_cast<double>(V.size())))];
}

Link::LinkConfig Serial(const std::string& Path, int Baud)
{
    Link::LinkConfig C;
    C.Type = Link::LinkConfig::Kind::Serial;
    C.Path = Path;
    C.Baud = Baud;
    return C;
}

double Ms(int64_t Us) { return static_cast<double>(Us) / 1000.0; }

// Opens with nothing answering on the line, Runs times: the probe's deadline.
double SilentOpenMs(int Baud, int Runs)
{
    int Master = -1, Slave = -1;
    char Name[256];
    if (::openpty(&Master, &Slave, Name, nullptr, nullptr) != 0)
        return -1;
    std::vector<double> T;
    Link::RtuClient C(Serial(Name, Baud));
    for (int I = 0; I < Runs; ++I) {
        const int64_t T0 = Link::NowUs();
        if (C.OpenDevice())
            return -1;
        T.push_back(Ms(Link::NowUs() - T0));
        // Whatever the probe sent, gone before the next.
        ::tcflush(Master, TCIOFLUSH);
    }
    ::close(Slave);
    ::close(Master);
    return Median(T);
}

// The median time of Step(0..Times-1), Pause apart; -1 when a step fails.
template <class F>
double MedianMs(int Times, std::chrono::milliseconds Pause, F Step)
{
    std::vector<double> T;
    for (int I = 0; I < Times; ++I) {
        const int64_t T0 = Link::NowUs();
        if (!Step(I))
            return -1;
        T.push_back(Ms(Link::NowUs() - T0));
        std::this_thread::sleep_for(Pause);
    }
    return Median(T);
}

// A tick of a setter then a status read: the status read waits the silence.
double PairMs(const std::string& Link, int Baud, int Ticks)
{
    Link::RtuClient C(Serial(Link, Baud));
    if (!C.OpenDevice())
        return -1;
    return MedianMs(Ticks, std::chrono::milliseconds(5), [&](int I) {
        int32_t V;
        return C.SetVw(100 + I % 7) && C.GetStat(&V);
    });
}

Link::LinkConfig ModbusTcp(const std::string& HostPort)
{
    return *Link::ParseLinkLine("modbus-tcp:" + HostPort + "?unit=1&baud=115200&timeout=2000");
}

// Median status read on the link, fresh each time.
double MedianReadMs(const Link::LinkConfig& Config, int Reads)
{
    Link::RtuClient C(Config, [] {
        static int64_t Now = 0;
        return Now += 1000000;
    });
    if (!C.OpenDevice())
        return -1;
    int32_t V;
    return MedianMs(Reads, std::chrono::milliseconds(2), [&](int) { return C.GetStat(&V); });
}

// Clients, each reading the status once per 100 ms tick for Seconds: true
// when every read was answered within its tick.
bool ClientsKeepUp(const std::string& HostPort, int Clients, int Seconds)
{
    std::atomic<int> Late{0};
    std::vector<std::thread> All;
    for (int K = 0; K < Clients; ++K)
        All.emplace_back([&] {
            Link::RtuClient C(ModbusTcp(HostPort), [] { return Link::NowUs() + 100000000; });
            if (!C.OpenDevice()) {
                ++Late;
                return;
            }
            const int64_t Start = Link::NowUs();
            for (int64_t Tick = Start; Tick < Start + Seconds * 1000000LL; Tick += 100000) {
                std::this_thread::sleep_until(std::chrono::steady_clock::time_point(std::chrono::microseconds(Tick)));
                int32_t V;
                if (!C.GetStat(&V) || Link::NowUs() > Tick + 100000)
                    ++Late;
            }
        });
    for (std::thread& T : All)
        T.join();
    return Late == 0;
}

} // namespace

int main(int argc, char** argv)
{
    const int Ticks = argc > 1 ? std::max(10, std::atoi(argv[1])) : 200;
    // Status request 8 bytes, its answer 5 + 2 x 9 = 23.
    const Link::Request Status = Link::ReadRequest(1, Link::ReadInput, Link::Input::State, Link::Input::StatusCount);
    const size_t Bytes = Link::BuildRequest(Status).size() + Link::ResponseSize(Status);
    const double Floor115 = Ms(Link::WireTimeUs(Bytes, 115200));
    const double Floor96 = Ms(Link::WireTimeUs(Bytes, 9600));

    LinkTest::LineSim Sim;
    if (!Sim.Start()) {
        std::fprintf(stderr, "velmor-sim did not start\n");
        return 1;
    }
    Link::RtuClient C(Serial(Sim.Link, 115200));
    if (!C.OpenDevice()) {
        std::fprintf(stderr, "open: %s\n", C.LastError().c_str());
        return 1;
    }
    // Page 1 of the panel: coordinate, limit word, speed, then the state for
    // the state text; the next tick comes later than the status block stays
    // fresh.
    std::vector<double> Tick;
    const uint64_t Sent0 = C.RequestsSent();
    for (int I = 0; I < Ticks; ++I) {
        int32_t V;
        const int64_t T0 = Link::NowUs();
        bool Ok = C.GetNc(&V) && C.GetLim(&V) && C.GetVc(&V) && C.GetStat(&V);
        Tick.push_back(Ms(Link::NowUs() - T0));
        if (!Ok) {
            std::fprintf(stderr, "tick: %s\n", C.LastError().c_str());
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(Link::RtuClient::FreshUs + 2000));
    }
    const double PerTick = static_cast<double>(C.RequestsSent() - Sent0) / Ticks;
    C.CloseDevice();
    const double Pair115 = PairMs(Sim.Link, 115200, Ticks / 2), Pair96 = PairMs(Sim.Link, 9600, Ticks / 4);
    const double Direct = MedianReadMs(Serial(Sim.Link, 115200), Ticks);
    double ThroughGateway = -1;
    int Served[2] = {0, 0};
    for (int G = 0; G < 2; ++G) {
        const int Baud = G == 0 ? 115200 : 9600;
        LinkTest::ChildProcess Gateway;
        std::string Bound;
        if (!Gateway.Start(VELMOR_GATEWAY_EXE, {"--port", Sim.Link, "--baud", std::to_string(Baud), "--listen",
                                                "127.0.0.1:0"}) ||
            !Gateway.ReadLine(Bound, 5000)) {
            std::fprintf(stderr, "velmor-gateway did not start\n");
            return 1;
        }
        if (G == 0)
            ThroughGateway = MedianReadMs(ModbusTcp(Bound), Ticks);
        // More clients until one tick is missed (3 s each).
        for (int N = 1; N <= 64; N = N < 8 ? N + 1 : N + 4) {
            if (!ClientsKeepUp(Bound, N, 3))
                break;
            Served[G] = N;
        }
        Gateway.Stop();
    }
    Sim.Process.Stop();

    std::vector<double> Absent;
    Link::RtuClient None(Serial(Sim.Folder + "/unplugged", 115200));
    for (int I = 0; I < 1000; ++I) {
        const int64_t T0 = std::chrono::duration_cast<std::chrono::nanoseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count();
        None.OpenDevice();
        const int64_t T1 = std::chrono::duration_cast<std::chrono::nanoseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count();
        Absent.push_back(static_cast<double>(T1 - T0) / 1e6);
    }
    const double Silent115 = SilentOpenMs(115200, 9);
    const double Silent96 = SilentOpenMs(9600, 5);

    std::printf("| link: wire-time floor of one status request and its answer (%zu bytes x 10 / baud), 115200 / 9600 "
                "baud | %.2f / %.1f ms |\n",
                Bytes, Floor115, Floor96);
    std::printf("| link: round trips per page-1 poll tick, velmor-sim on a pty (target 1) | %.2f |\n", PerTick);
    std::printf("| link: library time per page-1 tick, velmor-sim on a pty, median / 95th percentile | %.3f / %.3f ms |\n",
                Median(Tick), Percentile(Tick, 0.95));
    std::printf("| link: a setter then the status in one tick (the second waits the 3.5-character silence), velmor-sim "
                "on a pty, median at 115200 / 9600 baud | %.2f / %.2f ms |\n",
                Pair115, Pair96);
    std::printf("| link: status read direct on the pty / through velmor-gateway (Modbus TCP on loopback), median; the "
                "gateway adds | %.2f / %.2f ms; %.2f ms |\n",
                Direct, ThroughGateway, ThroughGateway - Direct);
    // One status transaction on the line: 31 bytes at 11 bits, then the
    // silence before the next.
    const double Line115 = Ms(Link::WireTimeUs(Bytes, 115200, 11) + Link::FrameGapUs(115200));
    const double Line96 = Ms(Link::WireTimeUs(Bytes, 9600, 11) + Link::FrameGapUs(9600));
    std::printf("| link: clients at one status read per 100 ms tick through velmor-gateway: line floor (100 ms / "
                "(wire time + silence) = %.2f / %.1f ms) at 115200 / 9600 baud | %d / %d (floor) ; measured on a pty: "
                "%d / %d |\n",
                Line115, Line96, static_cast<int>(100.0 / Line115), static_cast<int>(100.0 / Line96), Served[0],
                Served[1]);
    std::printf("| link: open with no port (target well under 1 ms) | %.4f ms |\n", Median(Absent));
    std::printf("| link: open with nothing answering (the probe's deadline), 115200 / 9600 baud | %.1f / %.1f ms |\n",
                Silent115, Silent96);
    return 0;
}
