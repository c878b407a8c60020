// How long the panel's event loop goes without a pass while it polls: the
// real window with its own 100 ms poll timer, on libvelmor.so, and beside it a
// 1 ms timer of this program whose gaps are the loop's stalls.
//
//   bench_stall virtual SECONDS              the in-process virtual controller
//   bench_stall silent BAUD TIMEOUT SECONDS  velmor-sim on a pseudo-terminal,
//                                            silent (link=down); TIMEOUT 0: the
//                                            library's own deadline
//   bench_stall tick SECONDS                 velmor-sim answering: the GUI-thread
//                                            time of one connected page-1 tick
//
// One line on standard output: "max_ms p99_ms median_ms samples".
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "application/Application.h"
#include "tests/linkclient/ChildProcess.h"
#include "ui/Vlm_main.h"

namespace {

void Report(std::vector<double> Ms)
{
    if (Ms.empty()) {
        std::puts("n/a n/a n/a 0");
        return;
    }
    std::sort(Ms.begin(), Ms.end());
    const auto At = [&](double Q) { return Ms[std::min(Ms.size() - 1, static_cast<size_t>(Q * Ms.size()))]; };
    std::printf("%.2f %.2f %.3f %zu\n", Ms.back(), At(0.99), At(0.5), Ms.size());
}

int Usage()
{
    std::fputs("usage: bench_stall virtual SECONDS | silent BAUD TIMEOUT SECONDS | tick SECONDS\n", stderr);
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (argc < 3)
        return Usage();
    const std::string Mode = argv[1];
    LinkTest::LineSim Sim;
    double Seconds = 0;
    if (Mode == "virtual") {
        setenv("VELMOR_LINK", "virtual", 1);
        Seconds = std::atof(argv[2]);
    } else if (Mode == "silent" && argc >= 5) {
        if (!Sim.Start())
            return std::fputs("velmor-sim did not start\n", stderr), 2;
        std::ofstream(Sim.Control) << "link=down\n";
        std::this_thread::sleep_for(std::chrono::milliseconds(500)); // the sim looks every 200 ms
        std::string Link = "serial:" + Sim.Link + "?baud=" + argv[2];
        if (std::atoi(argv[3]) > 0)
            Link += std::string("&timeout=") + argv[3];
        setenv("VELMOR_LINK", Link.c_str(), 1);
        Seconds = std::atof(argv[4]);
    } else if (Mode == "tick") {
        if (!Sim.Start())
            return std::fputs("velmor-sim did not start\n", stderr), 2;
        setenv("VELMOR_LINK", ("serial:" + Sim.Link).c_str(), 1);
        Seconds = std::atof(argv[2]);
    } else {
        return Usage();
    }

    int QtArgc = 1;
    QApplication App(QtArgc, argv);
    Application::Initialize();
    Application::SetTitle("Velmor");
    Application::SetMessageBoxHook([](const QString&, const QString&, int) { return int(Application::IDOK); });
    QTemporaryDir Dir;
    Application::SetExeName(Dir.path() + "/velmor");

    auto* W = new TMainForm();
    W->show();
    std::vector<double> Ms;
    QElapsedTimer Clock;

    if (Mode == "tick") {
        // Connected first (the panel's own timer), then ticks run here with
        // the panel's timer held still, a tick interval apart.
        QElapsedTimer Wait;
        Wait.start();
        while (!W->FConnected && Wait.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (!W->FConnected)
            return std::fputs("the panel did not connect\n", stderr), 3;
        W->Timer->stop();
        Clock.start();
        while (Clock.elapsed() < Seconds * 1000) {
            QElapsedTimer One;
            One.start();
            W->TimerTimer(W->Timer);
            Ms.push_back(One.nsecsElapsed() / 1e6);
            W->Timer->stop();
            QElapsedTimer Gap;
            Gap.start();
            while (Gap.elapsed() < 100)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        Report(Ms);
        delete W;
        return 0;
    }

    // The first second is the panel's start; the stalls are taken after it.
    QTimer Probe;
    Probe.setTimerType(Qt::PreciseTimer);
    Probe.setInterval(1);
    qint64 Last = -1;
    QObject::connect(&Probe, &QTimer::timeout, [&] {
        const qint64 Now = Clock.nsecsElapsed();
        if (Last >= 0) {
            Ms.push_back((Now - Last) / 1e6);
            if (std::getenv("BENCH_STALL_TRACE") && Ms.back() > 50)
                std::fprintf(stderr, "gap %.1f ms ending at %.1f ms\n", Ms.back(), Now / 1e6);
        }
        Last = Now;
    });
    QTimer::singleShot(1000, [&] {
        Clock.start();
        Probe.start();
        // The window stays open: the measurement ends before the closing.
        QTimer::singleShot(static_cast<int>(Seconds * 1000), [&] {
            Probe.stop();
            Report(Ms);
            std::fflush(stdout);
            Sim.Process.Stop();
            std::_Exit(0);
        });
    });
    App.exec();
    return 0;
}
