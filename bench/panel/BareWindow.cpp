// The yardstick of the panel's start-up: a bare Qt 6 Widgets window of the
// panel's size, shown as bench_startup shows the panel. Prints the same
// line: "shown_epoch_ms shown_epoch_ms peak_rss_kb" (no link: the second
// figure repeats the first), after one second of its event loop; with the
// argument "cpu", then the process's CPU time (ms) up to the window shown.
#include <QApplication>
#include <QMainWindow>
#include <QTimer>

#include <sys/resource.h>
#include <time.h>

#include <cstdio>
#include <cstring>

namespace {

double NowMs()
{
    timespec Now{};
    clock_gettime(CLOCK_REALTIME, &Now);
    return Now.tv_sec * 1000.0 + Now.tv_nsec / 1e6;
}

double CpuMs()
{
    rusage Use{};
    getrusage(RUSAGE_SELF, &Use);
    return (Use.ru_utime.tv_sec + Use.ru_stime.tv_sec) * 1000.0 + (Use.ru_utime.tv_usec + Use.ru_stime.tv_usec) / 1000.0;
}

} // namespace

int main(int argc, char** argv)
{
    int QtArgc = 1;
    char* QtArgv[] = {argc > 0 ? argv[0] : const_cast<char*>("bare"), nullptr};
    QApplication App(QtArgc, QtArgv);
    QMainWindow W;
    W.setFixedSize(505, 487);
    W.show();
    const bool WithCpu = argc > 1 && std::strcmp(argv[1], "cpu") == 0;
    double Shown = -1, ShownCpu = -1;
    QTimer::singleShot(0, [&] {
        Shown = NowMs();
        ShownCpu = CpuMs();
    });
    QTimer::singleShot(1000, &App, [&] { W.close(); });
    App.exec();
    rusage Use{};
    getrusage(RUSAGE_SELF, &Use);
    if (WithCpu)
        std::printf("%.3f %.3f %ld %.2f\n", Shown, Shown, Use.ru_maxrss, ShownCpu);
    else
        std::printf("%.3f %.3f %ld\n", Shown, Shown, Use.ru_maxrss);
    return 0;
}
