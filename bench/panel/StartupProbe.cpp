// Start-up probe: builds and runs the panel as the program does, on the
// virtual controller, and prints the wall-clock times (ms since the epoch)
// when the window was first shown and when the status bar first read
// " ON LINE: ", then the peak resident memory after a further second of
// polling. bench/run subtracts the moment it launched the probe.
//
// Usage: bench_startup          prints "shown_epoch_ms online_epoch_ms peak_rss_kb"
//        bench_startup cpu      the same, then the process's CPU time (ms, all
//                              threads) up to the window shown: a figure a
//                              loaded machine disturbs far less than wall time
//        bench_startup idle N  polls for N seconds once on line, then prints
//                              the CPU share of one core used meanwhile (%)
#include <QApplication>
#include <QTimer>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "application/Application.h"
#include "ui/Vlm_main.h"

namespace {

// Wall-clock milliseconds since the epoch: the caller subtracts the moment
// it launched the process.
double NowMs()
{
    timespec Now{};
    clock_gettime(CLOCK_REALTIME, &Now);
    return Now.tv_sec * 1000.0 + Now.tv_nsec / 1e6;
}

} // namespace

double CpuSeconds()
{
    rusage Use{};
    getrusage(RUSAGE_SELF, &Use);
    return Use.ru_utime.tv_sec + Use.ru_stime.tv_sec + (Use.ru_utime.tv_usec + Use.ru_stime.tv_usec) / 1e6;
}

int main(int argc, char** argv)
{
    const bool Idle = argc > 2 && std::string(argv[1]) == "idle";
    const int IdleSeconds = Idle ? std::max(1, std::atoi(argv[2])) : 0;
    const bool WithCpu = argc > 1 && std::string(argv[1]) == "cpu";
    int QtArgc = 1;
    char* QtArgv[] = {argc > 0 ? argv[0] : const_cast<char*>("velmor"), nullptr};
    QApplication App(QtArgc, QtArgv);
    Application::Initialize();
    Application::SetTitle(QStringLiteral("Velmor"));

    auto* W = new TMainForm();
    W->show();
    double Shown = -1, Online = -1, ShownCpu = -1;
    // The first pass of the event loop: the window is on screen.
    QTimer::singleShot(0, [&] {
        Shown = NowMs();
        ShownCpu = CpuSeconds() * 1000.0;
    });
    QTimer Watch;
    QObject::connect(&Watch, &QTimer::timeout, [&] {
        if (Online < 0 && W->StatusText(0).startsWith(" ON LINE: ")) {
            Online = NowMs();
            if (Idle) {
                Watch.stop();
                const double Cpu0 = CpuSeconds(), Wall0 = NowMs();
                QTimer::singleShot(IdleSeconds * 1000, &App, [&, Cpu0, Wall0] {
                    std::printf("%.3f\n", 100.0 * (CpuSeconds() - Cpu0) / ((NowMs() - Wall0) / 1000.0));
                    W->close();
                });
            } else {
                QTimer::singleShot(1000, &App, [&] { W->close(); });
            }
        }
    });
    Watch.start(1);
    App.exec();
    if (!Idle) {
        rusage Use{};
        getrusage(RUSAGE_SELF, &Use);
        if (WithCpu)
            std::printf("%.3f %.3f %ld %.2f\n", Shown, Online, Use.ru_maxrss, ShownCpu);
        else
            std::printf("%.3f %.3f %ld\n", Shown, Online, Use.ru_maxrss);
    }
    delete W;
    return 0;
}
