// CPU cost of one connected poll tick on page "Управление": four reads of
// the test double on the device thread, the results brought back, the
// displays updated and repainted.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdlib>

#include "application/Application.h"
#include "tests/support/VelmorDouble.h"
#include "ui/Vlm_main.h"

namespace VD = VelmorDouble;

static void ConnectedTick(benchmark::State& State, bool Repaint)
{
    QTemporaryDir Dir;
    Application::SetExeName(Dir.path() + "/velmor");
    VD::Reset();
    TMainForm W;
    W.show();
    W.TimerTimer(nullptr); // connects
    while (!W.DeviceIdle())
        QCoreApplication::processEvents();
    W.Timer->stop();
    QCoreApplication::processEvents();
    int32_t N = 0;
    for (auto _ : State) {
        // New values every tick, so every display really changes.
        ++N;
        VD::SetRead("VLM_GetNc", N);
        VD::SetRead("VLM_GetVc", (N % 2 ? -1 : 1) * (N % 3000));
        VD::SetRead("VLM_GetLim", N % 8);
        VD::SetRead("VLM_GetStat", N % 7);
        W.TimerTimer(W.Timer);
        // The readings come back from the device thread through the loop.
        while (!W.DeviceIdle())
            QCoreApplication::processEvents(Repaint ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
        W.Timer->stop();
        if (Repaint)
            QCoreApplication::processEvents();
        if (VD::Calls().size() > 100000)
            VD::ClearCalls();
    }
}
static void BM_ConnectedTickControlPage(benchmark::State& State) { ConnectedTick(State, true); }
// The same without the event loop's repaint, to tell the tick's own work
// from Qt's painting.
static void BM_ConnectedTickNoRepaint(benchmark::State& State) { ConnectedTick(State, false); }
BENCHMARK(BM_ConnectedTickControlPage);
BENCHMARK(BM_ConnectedTickNoRepaint);

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int QtArgc = 1;
    QApplication App(QtArgc, argv);
    Application::Initialize();
    Application::SetTitle("Velmor");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
