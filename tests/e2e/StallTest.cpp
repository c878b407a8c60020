// The real panel on libvelmor.so's serial line to velmor-sim, the controller
// silent (link=down, a powered-off controller behind a present adapter): the
// window's event loop must never wait on the line. A 1 ms timer of the test
// notes the gaps between its runs while the panel's own poll goes on, and of
// each gap the part the GUI thread spent asleep (not on a processor, not
// waiting for one, from the scheduler's figures): a wait on the line is
// sleep, while a loaded machine's delays are run-queue time.
//
// The library chooses its link once a process: one case a process (CTest
// runs each case in a process of its own).
#include <gtest/gtest.h>

#include <stdlib.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "application/Application.h"
#include "tests/linkclient/ChildProcess.h"
#include "tests/support/TestSupport.h"
#include "ui/Vlm_main.h"

namespace {

bool GLinkChosen = false;

// Nanoseconds this thread has been on a processor or waiting for one; -1
// where the kernel keeps no such figures.
long long BusyNs()
{
    FILE* F = std::fopen("/proc/thread-self/schedstat", "re");
    if (!F)
        return -1;
    unsigned long long Run = 0, Wait = 0;
    const bool Ok = std::fscanf(F, "%llu %llu", &Run, &Wait) == 2;
    std::fclose(F);
    return Ok ? static_cast<long long>(Run + Wait) : -1;
}

class SilentLine : public ::testing::Test {
protected:
    QTemporaryDir Dir;
    LinkTest::LineSim Sim;
    std::unique_ptr<TMainForm> W;

    // The panel on a silent velmor-sim with this link's options.
    void Start(const std::string& Options)
    {
        if (GLinkChosen)
            GTEST_SKIP() << "the library's link is chosen once a process: run this case alone";
        GLinkChosen = true;
        Sim.Folder = LinkTest::MakeTempFolder();
        Sim.Link = Sim.Folder + "/line";
        Sim.Control = Sim.Folder + "/control";
        std::ofstream(Sim.Control) << "link=down\n";
        ASSERT_TRUE(Sim.Start()) << "velmor-sim did not come up";
        setenv("VELMOR_LINK", ("serial:" + Sim.Link + "?" + Options).c_str(), 1);
        Application::SetExeName(Dir.path() + "/velmor");
        TestSupport::Boxes().clear();
        W = std::make_unique<TMainForm>(); // its poll timer runs
        W->show();
    }

    void TearDown() override
    {
        if (W)
            W->close(); // waits for an open under way: at most its deadline
        W.reset();
    }

    struct Window {
        double LongestMs = 0;      // the longest gap
        double LongestSleepMs = 0; // the longest sleep within one gap
        bool SawProbe = false;     // an open was under way off the window's thread
    };

    // The event loop for Ms, with a 1 ms timer noting the longest gap.
    Window Measure(int Ms)
    {
        Window R;
        QElapsedTimer Clock;
        Clock.start();
        qint64 Last = 0;
        long long LastBusy = BusyNs();
        const auto Note = [&] {
            const qint64 Now = Clock.nsecsElapsed();
            const long long Busy = BusyNs();
            const double Gap = (Now - Last) / 1e6;
            R.LongestMs = std::max(R.LongestMs, Gap);
            R.LongestSleepMs = std::max(R.LongestSleepMs, Busy < 0 ? Gap : Gap - (Busy - LastBusy) / 1e6);
            Last = Now;
            LastBusy = Busy;
        };
        QTimer Beat;
        Beat.setTimerType(Qt::PreciseTimer);
        Beat.setInterval(1);
        QObject::connect(&Beat, &QTimer::timeout, [&] {
            Note();
            R.SawProbe = R.SawProbe || !W->DeviceIdle();
        });
        Beat.start();
        while (Clock.elapsed() < Ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        Note(); // a wait on the line that outlasted the window counts too
        return R;
    }

    // Several ticks' worth of the loop. No pass may sleep 16 ms; and since a
    // loaded machine may hold the process off a processor for a while, a
    // window whose longest gap reaches 16 ms is measured again (three at
    // most), and the best must stay far below the probe's deadline (118 ms
    // at 9600 baud, 3 s with timeout=3000): a loop that waits on the line
    // has a gap that long in every window.
    void ExpectNoStall(int WindowMs, double DeadlineMs)
    {
        double Best = 1e9, Sleep = 0;
        bool SawProbe = false;
        for (int I = 0; I < 3 && Best >= 16; ++I) {
            const Window R = Measure(WindowMs);
            Best = std::min(Best, R.LongestMs);
            Sleep = std::max(Sleep, R.LongestSleepMs);
            SawProbe = SawProbe || R.SawProbe;
        }
        EXPECT_LT(Sleep, 16.0) << "the GUI thread's longest sleep within one event-loop pass, ms";
        EXPECT_LT(Best, DeadlineMs / 2) << "the longest event-loop pass, ms, of the best of three windows";
        std::printf("longest pass %.1f ms (best window), longest sleep in a pass %.1f ms\n", Best, Sleep);
        EXPECT_TRUE(SawProbe) << "the panel was trying to connect";
        EXPECT_FALSE(W->FConnected);
        EXPECT_EQ(W->StatusText(0), " OFF LINE ");
        EXPECT_TRUE(TestSupport::Boxes().empty()) << "the poll retries silently";
    }
};

TEST_F(SilentLine, At9600BaudTheLoopNeverWaitsOnTheProbe)
{
    Start("baud=9600");
    if (!IsSkipped())
        ExpectNoStall(1500, 118);
}

TEST_F(SilentLine, WithAThreeSecondTimeoutTheLoopNeverWaitsOnTheProbe)
{
    Start("baud=9600&timeout=3000");
    if (!IsSkipped())
        ExpectNoStall(1500, 3000);
}

} // namespace
