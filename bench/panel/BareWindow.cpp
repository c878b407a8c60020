// The yardstick of the panel's start-up: a bare Qt 6 Widgets window of the
// panel's size, shown as bench_startup shows the panel. Prints the same
// line: "shown_epoch_ms shown_epoch_ms peak_rss_kb" (no link: the second
// figure repeats the first), after one second of its event loop.
#include <QApplication>
#include <QMainWindow>
#include <QTimer>

#include <sys/resource.h>
#include <time.h>

#include <cstdio>

namespace {

double NowMs()
{
    timespec Now{};
    clock_gettime(CLOCK_REALTIME, &Now);
    return Now.tv_sec * 1000.0 + Now.tv_nsec / 1e6;
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
    double Shown = -1;
    QTimer::singleShot(0, [&] { Shown = NowMs(); });
    QTimer::singleShot(1000, &App, [&] { W.close(); });
    App.exec();
    rusage Use{};
    getrusage(RUSAGE_SELF, &Use);
    std::printf("%.3f %.3f %ld\n", Shown, Shown, Use.ru_maxrss);
    return 0;
}
