// Figures of device sessions and the bus scan, printed as rows of the
// benchmark table: a scan of addresses 1..247 at 115200 and 9600 baud with
// one controller on the line (goal: at most 12 s and 15 s), and two sessions
// at addresses 1 and 2 on one port each polling the status block as fast as
// it can, beside one session alone and the line's floor.
//
// The line is velmor-sim on a pseudo-terminal, which carries bytes with no
// wire time: an empty address costs what it costs on a real line (the client
// waits out the probe's deadline, which counts the wire time at the link's
// speed), a controller that answers costs less. The sessions are driven as
// libvelmor.so drives them: an RtuClient each, sharing the open port
// (link/TransportShare.h), each on its own thread.
// Usage: session_figures [SECONDS]   (polling time of each rate, default 3)
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

Link::LinkConfig Serial(const std::string& Path, int Baud, int Address = 1)
{
    Link::LinkConfig C;
    C.Type = Link::LinkConfig::Kind::Serial;
    C.Path = Path;
    C.Baud = Baud;
    C.Address = Address;
    return C;
}

double Seconds(int64_t Us) { return static_cast<double>(Us) / 1e6; }

// A whole scan of 1..247 as VLMS_Scan makes it: its time in seconds and the
// addresses found; -1 on a failure.
double ScanSeconds(const std::string& Path, int Baud, std::vector<int>& Found)
{
    Link::RtuClient C(Serial(Path, Baud));
    if (!C.OpenForScan())
        return -1;
    const int64_t T0 = Link::NowUs();
    std::string Info;
    for (int A = Link::MinAddress; A <= Link::MaxAddress; ++A) {
        const Link::RtuClient::Probe P = C.ProbeAt(static_cast<uint8_t>(A), Info);
        if (P == Link::RtuClient::Probe::Failed)
            return -1;
        if (P == Link::RtuClient::Probe::Found)
            Found.push_back(A);
    }
    return Seconds(Link::NowUs() - T0);
}

// Status reads per second of each of Addresses, all polling at once for
// Secs on one port, every read a fresh request.
std::vector<double> PollRates(const std::string& Path, const std::vector<int>& Addresses, int Secs)
{
    std::vector<std::atomic<long>> Reads(Addresses.size());
    std::atomic<bool> Failed{false};
    std::vector<std::thread> All;
    std::atomic<int> Ready{0};
    for (size_t I = 0; I < Addresses.size(); ++I)
        All.emplace_back([&, I] {
            // A clock that makes every status block stale: one request per read.
            Link::RtuClient C(Serial(Path, 115200, Addresses[I]), [] {
                static std::atomic<int64_t> Now{0};
                return Now += 1000000;
            });
            if (!C.OpenDevice()) {
                std::fprintf(stderr, "open #%d: %s\n", Addresses[I], C.LastError().c_str());
                Failed = true;
            }
            ++Ready;
            while (Ready < static_cast<int>(Addresses.size()))
                std::this_thread::yield();
            const int64_t End = Link::NowUs() + Secs * 1000000LL;
            int32_t V;
            while (!Failed && Link::NowUs() < End) {
                if (!C.GetStat(&V)) {
                    std::fprintf(stderr, "read #%d: %s\n", Addresses[I], C.LastError().c_str());
                    Failed = true;
                }
                ++Reads[I];
            }
        });
    for (std::thread& T : All)
        T.join();
    std::vector<double> Rates;
    for (auto& R : Reads)
        Rates.push_back(Failed ? -1 : static_cast<double>(R.load()) / Secs);
    return Rates;
}

std::string List(const std::vector<int>& V)
{
    std::string Out;
    for (int A : V)
        Out += (Out.empty() ? "" : ",") + std::to_string(A);
    return Out.empty() ? "none" : Out;
}

} // namespace

int main(int argc, char** argv)
{
    const int Secs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    LinkTest::LineSim Sim;
    if (!Sim.Start({"--address", "1,2"})) {
        std::fprintf(stderr, "velmor-sim did not start\n");
        return 1;
    }
    std::vector<int> Found115, Found96;
    const double Scan115 = ScanSeconds(Sim.Link, 115200, Found115);
    const double Scan96 = ScanSeconds(Sim.Link, 9600, Found96);
    Link::RtuClient Probe115(Serial(Sim.Link, 115200)), Probe96(Serial(Sim.Link, 9600));
    const std::vector<double> Alone = PollRates(Sim.Link, {1}, Secs);
    const std::vector<double> Two = PollRates(Sim.Link, {1, 2}, Secs);
    Sim.Process.Stop();

    // The line's floor of one status transaction at 115200 8E1: request and
    // answer at 11 bits a byte, then the silence before the next.
    const Link::Request Status = Link::ReadRequest(1, Link::ReadInput, Link::Input::State, Link::Input::StatusCount);
    const size_t Bytes = Link::BuildRequest(Status).size() + Link::ResponseSize(Status);
    const double FloorMs =
        static_cast<double>(Link::WireTimeUs(Bytes, 115200, 11) + Link::FrameGapUs(115200)) / 1000.0;

    std::printf("| scan: addresses 1..247 with controllers at 1 and 2, velmor-sim on a pty (found %s / %s); probe "
                "deadline %.1f / %.1f ms; at 115200 / 9600 baud (goal 12 / 15 s) | %.2f / %.2f s |\n",
                List(Found115).c_str(), List(Found96).c_str(), Probe115.ScanDeadlineUs() / 1000.0,
                Probe96.ScanDeadlineUs() / 1000.0, Scan115, Scan96);
    std::printf("| sessions: status reads per second, one session alone / each of two sessions (addresses 1, 2) "
                "sharing the port, velmor-sim on a pty at 115200; the line's floor (%.2f ms a read) gives %.0f / "
                "%.0f | %.0f / %.0f and %.0f |\n",
                FloorMs, 1000.0 / FloorMs, 500.0 / FloorMs, Alone[0], Two[0], Two[1]);
    return Scan115 < 0 || Scan96 < 0 || Alone[0] < 0 || Two[0] < 0 ? 1 : 0;
}
