// Figures of velmor-gateway against velmor-sim on a pseudo-terminal, printed
// as rows of a Markdown table:
//
// - watchers: 1, 2, 10 and 50 clients each reading the status block every
//   100 ms for SECONDS; the line's transactions per second (from the
//   gateway's trace) and each answer's time, median and 95th percentile,
//   with the answers that failed (0x0B or none within 2 s). A
//   pseudo-terminal has no speed: the gateway's port is joined to
//   velmor-sim's by a relay that passes each byte one character time (11
//   bits) after the one before, so the line costs what a real one would.
//   The floor beside it: the line's most status transactions per second at
//   that speed (31 bytes and the 3.5-character silence).
// - the latency the gateway adds to one transaction on loopback: a holding
//   register read (never cached) through it, against the same read sent on
//   the pseudo-terminal directly, medians.
// - the gateway's resident memory with 64 and with 1000 idle clients.
//
// $VELMOR_TEST_GATEWAY runs another build of the gateway (an earlier one, for
// the figures before a change; it is then given no option it may not know).
// Usage: gateway_figures [SECONDS]   (default 5)
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include "link/RtuFrame.h"
#include "link/Transport.h"
#include "tests/gateway/GatewayHarness.h"

namespace {

using namespace GatewayTest;
using Clock = std::chrono::steady_clock;

bool Before() { return std::getenv("VELMOR_TEST_GATEWAY") != nullptr; }

double Percentile(std::vector<double> V, double P)
{
    if (V.empty())
        return 0;
    std::sort(V.begin(), V.end());
    return V[std::min(V.size() - 1, static_cast<size_t>(P * static_cast<double>(V.size())))];
}

double Ms(Clock::duration D) { return std::chrono::duration<double, std::milli>(D).count(); }

long ResidentKb(pid_t Pid)
{
    const std::string Status = ReadFile("/proc/" + std::to_string(Pid) + "/status");
    const size_t At = Status.find("VmRSS:");
    return At == std::string::npos ? -1 : std::atol(Status.c_str() + At + 6);
}

void Watchers(int Baud, int Count, int Seconds)
{
    // Wire time of a status read and its answer (8 + 23 bytes, 11 bits).
    const double WireMs = 31.0 * 11.0 * 1000.0 / Baud;
    const double GapMs = Link::FrameGapUs(Baud) / 1000.0;
    Line L;
    if (!L.Start({"--baud", std::to_string(Baud)}, {}, Baud)) {
        std::printf("| %d watchers, %d baud | could not start |\n", Count, Baud);
        return;
    }
    std::mutex Lock;
    std::vector<double> Times;
    std::atomic<int> Failed{0};
    std::vector<std::thread> Threads;
    const std::string StartTrace = L.Trace();
    const auto Start = Clock::now();
    for (int W = 0; W < Count; ++W)
        Threads.emplace_back([&, W] {
            Client C;
            if (!C.Connect(L.Port)) {
                ++Failed;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(W * 100 / Count));
            const auto End = Start + std::chrono::seconds(Seconds);
            std::vector<double> Mine;
            for (uint16_t T = 0; Clock::now() < End; ++T) {
                const auto Asked = Clock::now();
                const Bytes A = C.Ask(ReadInputs(T, 1, 0, 9), 2000);
                if (Function(A) == 0x04 && Transaction(A) == T)
                    Mine.push_back(Ms(Clock::now() - Asked));
                else
                    ++Failed;
                if (C.Closed() && !C.Connect(L.Port))
                    break;
                std::this_thread::sleep_until(Asked + std::chrono::milliseconds(100));
            }
            std::lock_guard<std::mutex> G(Lock);
            Times.insert(Times.end(), Mine.begin(), Mine.end());
        });
    for (std::thread& T : Threads)
        T.join();
    const double Elapsed = Ms(Clock::now() - Start) / 1000.0;
    const int Transactions = GatewayTest::Count(L.Trace(), " line-tx ") - GatewayTest::Count(StartTrace, " line-tx ");
    std::printf("| %d watchers at 10 Hz, %d baud (line floor %.0f transactions/s) | %.1f transactions/s | "
                "p50 %.1f ms, p95 %.1f ms | %zu answered, %d failed |\n",
                Count, Baud, 1000.0 / (WireMs + GapMs), Transactions / Elapsed, Percentile(Times, 0.5),
                Percentile(Times, 0.95), Times.size(), Failed.load());
}

void AddedLatency(int Rounds)
{
    Line L;
    if (!L.Start({"--baud", "115200"}))
        return;
    // The working speed: two holding registers (0x03 is never cached).
    std::vector<double> Through, Direct;
    Client C;
    if (!C.Connect(L.Port))
        return;
    for (int I = 0; I < Rounds; ++I) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2)); // the line's silence, as below
        const auto Asked = Clock::now();
        const Bytes A = C.Ask(Mbap(uint16_t(I), 1, {0x03, 0x00, 0x0C, 0x00, 0x02}));
        if (Function(A) == 0x03)
            Through.push_back(Ms(Clock::now() - Asked));
    }
    C.Close();
    L.Gateway.Stop();
    auto Port = Link::OpenSerial(L.Sim.Link, 115200, Link::Parity::Even, 1);
    if (!Port)
        return;
    const uint8_t Body[] = {0x01, 0x03, 0x00, 0x0C, 0x00, 0x02};
    Link::Frame Request(Body, Body + sizeof Body);
    const uint16_t Crc = Link::Crc16(Body, sizeof Body);
    Request.push_back(uint8_t(Crc & 0xFF));
    Request.push_back(uint8_t(Crc >> 8));
    for (int I = 0; I < Rounds; ++I) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2)); // the line's silence
        const auto Asked = Clock::now();
        (*Port)->Send(Request.data(), Request.size(), Link::NowUs() + 100000);
        std::vector<uint8_t> Got;
        while (Got.size() < 9) {
            uint8_t Buffer[64];
            size_t N = 0;
            if ((*Port)->Receive(Buffer, sizeof Buffer, N, Link::NowUs() + 100000) != Link::IoStatus::Ok)
                break;
            Got.insert(Got.end(), Buffer, Buffer + N);
        }
        if (Got.size() >= 9)
            Direct.push_back(Ms(Clock::now() - Asked));
    }
    const double A = Percentile(Through, 0.5), B = Percentile(Direct, 0.5);
    std::printf("| latency added per transaction on loopback (median through the gateway %.3f ms, direct %.3f ms) | "
                "%.3f ms | | %zu / %zu rounds |\n",
                A, B, A - B, Through.size(), Direct.size());
}

void IdleMemory(int Clients)
{
    Line L;
    std::vector<std::string> Args;
    if (!Before())
        Args = {"--max-clients", std::to_string(Clients)};
    if (!L.Start(Args))
        return;
    const long Empty = ResidentKb(L.Gateway.Pid());
    std::vector<std::unique_ptr<Client>> All;
    int Served = 0;
    for (int I = 0; I < Clients; ++I) {
        All.push_back(std::make_unique<Client>());
        if (All.back()->Connect(L.Port) && Function(All.back()->Ask(Mbap(1, 1, {0x03, 0, 0x0C, 0, 2}), 2000)) == 0x03)
            ++Served;
    }
    const long Full = ResidentKb(L.Gateway.Pid());
    std::printf("| resident memory with %d idle clients (%d of them served) | %ld kB | with none: %ld kB | |\n",
                Clients, Served, Full, Empty);
}

} // namespace

int main(int Argc, char** Argv)
{
    const int Seconds = Argc > 1 && std::atoi(Argv[1]) > 0 ? std::atoi(Argv[1]) : 5;
    rlimit Files{};
    if (::getrlimit(RLIMIT_NOFILE, &Files) == 0 && Files.rlim_cur < 4096) {
        Files.rlim_cur = std::min<rlim_t>(Files.rlim_max, 4096);
        ::setrlimit(RLIMIT_NOFILE, &Files);
    }
    std::printf("| figure | line | answer time | answers |\n|---|---|---|---|\n");
    for (int Baud : {9600, 115200})
        for (int Count : {1, 2, 10, 50})
            Watchers(Baud, Count, Seconds);
    AddedLatency(500);
    IdleMemory(64);
    IdleMemory(1000);
    return 0;
}
