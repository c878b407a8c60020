// CPU of the panel with the plot closed and open: the real panel on the
// virtual controller (libvelmor.so), the motor rotating so that every display
// and the plot change on every tick. Polls N seconds with the plot closed,
// then N seconds with it open (fed by the poll and repainting), and prints
// the CPU share of one core of each phase and the difference, in %:
//
//   bench_plot_cpu [N]      prints "closed_pct open_pct difference_pct"
//
// The settings file goes into a temporary folder; the motor is stopped at the
// end by the panel's close, as always.
#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "application/Application.h"
#include "ui/PlotForm.h"
#include "ui/Vlm_main.h"

namespace {

double CpuSeconds()
{
    rusage Use{};
    getrusage(RUSAGE_SELF, &Use);
    return Use.ru_utime.tv_sec + Use.ru_stime.tv_sec + (Use.ru_utime.tv_usec + Use.ru_stime.tv_usec) / 1e6;
}

double WallSeconds()
{
    timespec Now{};
    clock_gettime(CLOCK_MONOTONIC, &Now);
    return Now.tv_sec + Now.tv_nsec / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    const int Seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QTemporaryDir Dir;
    // The virtual controller's stored parameters stay out of the user's files.
    setenv("VELMOR_SIM_STATE", (Dir.path() + "/sim.ini").toLocal8Bit().constData(), 1);
    setenv("VELMOR_SIM_CONTROL", (Dir.path() + "/sim.control").toLocal8Bit().constData(), 1);
    unsetenv("VELMOR_LINK");
    int QtArgc = 1;
    char* QtArgv[] = {argv[0], nullptr};
    QApplication App(QtArgc, QtArgv);
    Application::Initialize();
    Application::SetTitle(QStringLiteral("Velmor"));
    Application::SetExeName(Dir.path() + "/velmor");

    auto* W = new TMainForm();
    W->show();
    double Closed = -1, Open = -1;
    double Cpu0 = 0, Wall0 = 0;
    const auto Share = [&] { return 100.0 * (CpuSeconds() - Cpu0) / (WallSeconds() - Wall0); };
    const auto Start = [&] {
        Cpu0 = CpuSeconds();
        Wall0 = WallSeconds();
    };
    QTimer Watch;
    QObject::connect(&Watch, &QTimer::timeout, [&] {
        if (!W->StatusText(0).startsWith(" ON LINE: "))
            return;
        Watch.stop();
        W->feVw->SetValue(3000);
        W->btStartRClick(nullptr);
        // A second to settle, then the two phases.
        QTimer::singleShot(1000, &App, [&] {
            Start();
            QTimer::singleShot(Seconds * 1000, &App, [&] {
                Closed = Share();
                W->mnPlotClick(nullptr);
                QTimer::singleShot(1000, &App, [&] {
                    Start();
                    QTimer::singleShot(Seconds * 1000, &App, [&] {
                        Open = Share();
                        W->close();
                    });
                });
            });
        });
    });
    Watch.start(10);
    App.exec();
    const std::size_t Readings = W->FPlotForm ? W->FPlotForm->History().Size() : 0;
    delete W;
    if (Closed < 0 || Open < 0) {
        std::fprintf(stderr, "bench_plot_cpu: the panel did not come on line\n");
        return 1;
    }
    std::printf("%.3f %.3f %.3f\n", Closed, Open, Open - Closed);
    std::fprintf(stderr, "readings in the plot: %zu\n", Readings);
    return 0;
}
