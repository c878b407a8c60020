// The plot's costs without the panel: one redraw of a full ten-minute
// history at 1280 pixels, its reduction to columns alone, one reading added,
// and the ring's memory.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <cstdlib>

#include "plot/Decimate.h"
#include "plot/History.h"
#include "ui/PlotView.h"

namespace {

constexpr int64_t Tick = 100000;

// Ten minutes of 100 ms readings: back-and-forth runs with ramps, a limit
// reached now and then, the link lost for three seconds every minute.
void Fill(Plot::THistory& H, int64_t Count = 6001)
{
    int32_t Coord = 0, Speed = 0, Dir = 1;
    for (int64_t K = 0; K < Count; ++K) {
        Core::PollSample S;
        S.SteadyUs = 1000000 + K * Tick;
        S.UtcUs = 1796860800LL * 1000000 + K * Tick;
        if (K % 600 < 30) {
            S.Error = "Timeout: no answer from the controller";
            H.Add(S);
            continue;
        }
        Speed += Dir * 200;
        if (Speed > 3000 || Speed < -3000)
            Dir = -Dir;
        Coord += Speed / 10;
        S.Ok = S.HasMotion = S.HasState = true;
        S.Coordinate = Coord;
        S.Speed = Speed;
        S.Limits = (Coord > 20000 ? 2 : 0) | (Coord < -20000 ? 1 : 0) | (std::abs(Coord - 5000) < 50 ? 4 : 0);
        S.StateCode = Speed == 0 ? 0 : 3;
        H.Add(S);
    }
}

void BM_RedrawFullHistory1280(benchmark::State& State)
{
    Plot::THistory H;
    Fill(H);
    TPlotView View(H);
    View.resize(1280, 600);
    View.SetSpanUs(H.SpanUs());
    QImage Image(1280, 600, QImage::Format_RGB32);
    for (auto _ : State) {
        QPainter P(&Image);
        View.Render(P, Image.size());
    }
    State.counters["readings"] = static_cast<double>(View.Columns().Visited);
}
BENCHMARK(BM_RedrawFullHistory1280)->Unit(benchmark::kMicrosecond);

void BM_DecimateFullHistory1280(benchmark::State& State)
{
    Plot::THistory H;
    Fill(H);
    Plot::TDecimation D;
    for (auto _ : State) {
        Plot::Decimate(H, H.Oldest().SteadyUs, H.Newest().SteadyUs + 1, 1202, D);
        benchmark::DoNotOptimize(D.Columns.data());
    }
}
BENCHMARK(BM_DecimateFullHistory1280)->Unit(benchmark::kMicrosecond);

void BM_AddReading(benchmark::State& State)
{
    Plot::THistory H;
    Fill(H);
    int64_t K = 6001;
    Core::PollSample S;
    S.Ok = S.HasMotion = S.HasState = true;
    for (auto _ : State) {
        S.SteadyUs = 1000000 + K * Tick;
        S.Coordinate = static_cast<int32_t>(K++);
        benchmark::DoNotOptimize(H.Add(S));
    }
}
BENCHMARK(BM_AddReading);

// The memory of the full ring: readings only, and with every slot a failed
// reading with the longest text kept.
void BM_RingMemory(benchmark::State& State)
{
    Plot::THistory Full, Failed;
    Fill(Full, 20000);
    Core::PollSample S;
    S.Error = std::string(500, 'e');
    for (int64_t K = 0; K < 20000; ++K) {
        S.SteadyUs = K * 10000; // 10 ms apart: the ring fills before the span
        Failed.Add(S);
    }
    for (auto _ : State)
        benchmark::DoNotOptimize(Full.MemoryBytes());
    State.counters["full_KiB"] = static_cast<double>(Full.MemoryBytes()) / 1024;
    State.counters["all_failed_KiB"] = static_cast<double>(Failed.MemoryBytes()) / 1024;
    State.counters["capacity"] = static_cast<double>(Full.Capacity());
}
BENCHMARK(BM_RingMemory)->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int QtArgc = 1;
    QApplication App(QtArgc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
