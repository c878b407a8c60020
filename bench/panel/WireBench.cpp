// How long the panel's GUI thread goes without an event-loop pass against a
// controller that takes a line's time to answer: the real window on the
// recording double, each call of which waits the wire time of a request and
// its answer at the given speed. A 1 ms timer of this program notes the gaps
// between its runs; a gap is a stall of the loop.
//
//   bench_wire BAUD SECONDS
//
// Prints one line per phase, "phase longest_ms p99_ms samples":
//   poll     connected on page "Управление", the panel's own 100 ms poll
//   connect  the connect command while connected (close, open, the device
//            text and the nine parameters), five times
//   buttons  each motion button and a parameter change, one at a time
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "application/Application.h"
#include "tests/support/VelmorDouble.h"
#include "ui/Vlm_main.h"

namespace VD = VelmorDouble;

namespace {

// The loop's gaps while Work runs (started from the loop) and for Ms after.
std::vector<double> Gaps(int Ms, const std::function<void()>& Work)
{
    std::vector<double> Out;
    QElapsedTimer Clock;
    Clock.start();
    qint64 Last = Clock.nsecsElapsed();
    QTimer Beat;
    Beat.setTimerType(Qt::PreciseTimer);
    Beat.setInterval(1);
    QObject::connect(&Beat, &QTimer::timeout, [&] {
        const qint64 Now = Clock.nsecsElapsed();
        Out.push_back((Now - Last) / 1e6);
        Last = Now;
    });
    Beat.start();
    if (Work)
        QTimer::singleShot(0, Work);
    while (Clock.elapsed() < Ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    Out.push_back((Clock.nsecsElapsed() - Last) / 1e6);
    return Out;
}

void Print(const char* Phase, std::vector<double> Ms)
{
    std::sort(Ms.begin(), Ms.end());
    if (Ms.empty()) {
        std::printf("%s n/a n/a 0\n", Phase);
        return;
    }
    const double P99 = Ms[std::min(Ms.size() - 1, static_cast<size_t>(0.99 * Ms.size()))];
    std::printf("%s %.2f %.2f %zu\n", Phase, Ms.back(), P99, Ms.size());
}

void Append(std::vector<double>& To, const std::vector<double>& From) { To.insert(To.end(), From.begin(), From.end()); }

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (argc < 3) {
        std::fputs("usage: bench_wire BAUD SECONDS\n", stderr);
        return 1;
    }
    const int Baud = std::atoi(argv[1]);
    const int Seconds = std::max(1, std::atoi(argv[2]));
    int QtArgc = 1;
    QApplication App(QtArgc, argv);
    Application::Initialize();
    Application::SetTitle(QStringLiteral("Velmor"));
    Application::SetMessageBoxHook([](const QString& Text, const QString&, int) {
        std::fprintf(stderr, "box: %s\n", Text.toUtf8().constData());
        return int(Application::IDOK);
    });
    QTemporaryDir Dir;
    Application::SetExeName(Dir.path() + "/velmor");
    VD::Reset();
    VD::SetCallDelay(VD::WireTimeUs(Baud));

    TMainForm W;
    W.show();
    // On line first, by the panel's own poll.
    QElapsedTimer Up;
    Up.start();
    while (!W.StatusText(0).startsWith(QStringLiteral(" ON LINE: ")) && Up.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (!W.FConnected) {
        std::fputs("the panel did not come on line\n", stderr);
        return 1;
    }

    Print("poll", Gaps(Seconds * 1000, nullptr));

    std::vector<double> Connect;
    for (int I = 0; I < 5; ++I)
        Append(Connect, Gaps(800, [&] { W.mnConnect->setEnabled(true); W.mnConnect->trigger(); }));
    Print("connect", Connect);

    std::vector<double> Buttons;
    for (QPushButton* B : {W.btStartR, W.btStop, W.btStartL, W.btStop, W.btStart0, W.btClrNc, W.btStartN, W.btStop})
        Append(Buttons, Gaps(300, [B] { B->click(); }));
    Append(Buttons, Gaps(300, [&] { W.cbHi->click(); }));
    Print("buttons", Buttons);

    VD::SetCallDelay(0);
    W.close();
    return 0;
}
