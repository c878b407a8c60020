// The window and its device thread: the GUI thread never waits for the line,
// what a tick reads comes back as a sample, readings go stale with the link,
// the off-line panel says why, and the close runs to its end during a slow
// call.
#include "tests/panel/PanelFixture.h"

#include <QGraphicsOpacityEffect>
#include <QHelpEvent>
#include <QLabel>
#include <QSignalSpy>

#include <cstdio>
#include <ctime>
#include <functional>
#include <thread>

#include "core/Clock.h"

namespace {

// Milliseconds the calling thread spent asleep (neither on a processor nor
// waiting for one) while Work ran: a wait on the line is sleep, a loaded
// machine's delays are not. Where the kernel keeps no figures, wall time.
double SleptMs(const std::function<void()>& Work)
{
    const auto Busy = [] {
        FILE* F = std::fopen("/proc/thread-self/schedstat", "re");
        if (!F)
            return -1.0;
        unsigned long long Run = 0, Wait = 0;
        const bool Ok = std::fscanf(F, "%llu %llu", &Run, &Wait) == 2;
        std::fclose(F);
        return Ok ? (Run + Wait) / 1e6 : -1.0;
    };
    QElapsedTimer Wall;
    const double Before = Busy();
    Wall.start();
    Work();
    const double WallMs = Wall.nsecsElapsed() / 1e6;
    const double After = Busy();
    return Before < 0 || After < 0 ? WallMs : WallMs - (After - Before);
}

// A frame at 60 Hz.
constexpr double FrameMs = 16.0;
// Each call of the slow double: a request and its answer at 9600 baud, and
// then some.
constexpr int SlowCallUs = 40000;

} // namespace

class DeviceThreadTest : public PanelTest {
protected:
    void TearDown() override
    {
        VD::SetCallDelay(0);
        PanelTest::TearDown();
    }

    // The event loop's passes for Ms: the longest sleep within one pass.
    double LongestPassSleep(int Ms)
    {
        double Longest = 0;
        QElapsedTimer T;
        T.start();
        while (T.elapsed() < Ms) {
            Longest = std::max(Longest, SleptMs([] { QCoreApplication::processEvents(); }));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return Longest;
    }
};

TEST_F(DeviceThreadTest, WithASlowLineTheGuiThreadNeverWaitsAndTheCallsKeepTheirOrder)
{
    VD::SetCallDelay(SlowCallUs);
    Create();
    // The first tick connects: close, open, the text, nine parameters.
    EXPECT_LT(SleptMs([&] { W->TimerTimer(W->Timer); }), FrameMs) << "at connect";
    EXPECT_LT(LongestPassSleep(100), FrameMs) << "while the connection is made";
    Settle();
    ASSERT_TRUE(W->FConnected);
    ClearCalls();

    // Connected, the poll running on its own.
    W->Timer->start();
    EXPECT_LT(LongestPassSleep(600), FrameMs) << "while connected";
    W->Timer->stop();
    Settle();
    EXPECT_GE(CallsOf("VLM_GetNc").size(), 2u) << "the poll kept reading";

    // Every button, one right after the other: none waits, all go out in
    // the order pressed.
    ClearCalls();
    W->SelectPage(0);
    for (QPushButton* B : {W->btClrNc, W->btStartN, W->btStart0, W->btStartR, W->btStartL, W->btStop, W->btEEPROM})
        EXPECT_LT(SleptMs([&] { B->click(); }), FrameMs) << B->objectName().toStdString();
    EXPECT_LT(SleptMs([&] { W->cbHi->click(); }), FrameMs);
    EXPECT_EQ(Log(), (Strings{"VLM_SetNc(0)", "VLM_StartN(0)", "VLM_StartN(0)", "VLM_StartD(1)", "VLM_StartD(-1)",
                              "VLM_StartD(0)", "VLM_SavePar()", "VLM_SetCtrl(48)"}));

    // The connect command while connected.
    ClearCalls();
    EXPECT_LT(SleptMs([&] { W->mnConnectClick(nullptr); }), FrameMs) << "the connect command";
    EXPECT_LT(LongestPassSleep(100), FrameMs) << "while it reconnects";
    Strings Sent = AllParameters;
    Sent.back() = "VLM_SetCtrl(48)"; // as the box above made it
    EXPECT_EQ(Log(), Then({"VLM_Stop()", "VLM_CloseDevice()", "VLM_OpenDevice()", "VLM_GetInfo()"}, Sent));
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(DeviceThreadTest, ASetterAskedDuringATickGoesOutAfterTheTicksReadsAndNoTickOverlaps)
{
    CreateConnected();
    VD::SetCallDelay(SlowCallUs);
    W->TimerTimer(W->Timer);
    Type(W->feCw, "700");
    // A second tick (the timer, a page change) while the first is on the
    // line starts nothing: the first one's end re-arms the timer.
    W->TimerTimer(W->Timer);
    EXPECT_FALSE(W->Timer->isActive());
    Settle();
    EXPECT_EQ(Log(), (Strings{"VLM_GetNc()", "VLM_GetLim()", "VLM_GetVc()", "VLM_GetStat()", "VLM_SetIw(700)"}));
    EXPECT_TRUE(W->Timer->isActive());
}

TEST_F(DeviceThreadTest, EveryTickGivesASampleTimedAtItsAnswer)
{
    CreateConnected();
    QSignalSpy Spy(W.get(), &TMainForm::Sampled);
    VD::SetRead("VLM_GetNc", 321);
    VD::SetRead("VLM_GetVc", -40);
    VD::SetRead("VLM_GetLim", 6);
    VD::SetRead("VLM_GetStat", 3);
    const int64_t Before = Core::SteadyNowUs();
    Tick();
    const int64_t After = Core::SteadyNowUs();
    ASSERT_EQ(Spy.count(), 1);
    Core::PollSample S = Spy.at(0).at(0).value<Core::PollSample>();
    EXPECT_TRUE(S.Ok);
    EXPECT_TRUE(S.HasMotion);
    EXPECT_TRUE(S.HasState);
    EXPECT_EQ(S.Coordinate, 321);
    EXPECT_EQ(S.Speed, -40);
    EXPECT_EQ(S.Limits, 6);
    EXPECT_EQ(S.StateCode, 3);
    EXPECT_GE(S.SteadyUs, Before);
    EXPECT_LE(S.SteadyUs, After);
    EXPECT_GT(S.UtcUs, 1600000000000000LL) << "microseconds since 1970";

    // Another page reads the state only.
    W->SelectPage(1);
    Tick();
    ASSERT_EQ(Spy.count(), 2);
    S = Spy.at(1).at(0).value<Core::PollSample>();
    EXPECT_TRUE(S.Ok);
    EXPECT_FALSE(S.HasMotion);
    EXPECT_TRUE(S.HasState);

    // A lost link: a gap with the library's text, then a gap each tick
    // while the link stays down.
    W->SelectPage(0);
    VD::FailAll("No answer from #1");
    Tick();
    Tick();
    ASSERT_EQ(Spy.count(), 4);
    for (int I : {2, 3}) {
        S = Spy.at(I).at(0).value<Core::PollSample>();
        EXPECT_FALSE(S.Ok) << I;
        EXPECT_FALSE(S.HasMotion) << I;
        EXPECT_FALSE(S.HasState) << I;
        EXPECT_EQ(S.Error, "No answer from #1") << I;
    }
}

TEST_F(DeviceThreadTest, ReadingsAreMarkedNotCurrentFromTheLossUntilTheyAreReadAgain)
{
    CreateConnected();
    VD::SetRead("VLM_GetNc", 1500);
    VD::SetRead("VLM_GetStat", 3);
    Tick();
    const auto Faded = [](QWidget* X) {
        auto* E = qobject_cast<QGraphicsOpacityEffect*>(X->graphicsEffect());
        return E && E->isEnabled() && E->opacity() < 0.5;
    };
    QLabel* StatePanel = W->findChild<QLabel*>(QStringLiteral("StatusPanel1"));
    ASSERT_TRUE(StatePanel);
    EXPECT_TRUE(W->MotionCurrent());
    EXPECT_FALSE(Faded(W->feNc));
    EXPECT_FALSE(Faded(StatePanel));

    VD::FailAll("Timeout");
    Tick();
    EXPECT_FALSE(W->MotionCurrent());
    EXPECT_FALSE(W->StateCurrent());
    for (QWidget* X : std::initializer_list<QWidget*>{W->feNc, W->feVc, W->pbVc, W->cbLimL, W->cbLimR, W->cbHome,
                                                      StatePanel})
        EXPECT_TRUE(Faded(X)) << X->objectName().toStdString();
    EXPECT_EQ(W->feNc->Value(), 1500) << "the last known value stays";
    EXPECT_EQ(W->StatusText(1), "Rotating...");

    // Back on line: still not current until read; a page that reads the
    // state only brings back the state alone.
    VD::Restore();
    W->SelectPage(1);
    Tick();
    ASSERT_TRUE(W->FConnected);
    EXPECT_FALSE(W->StateCurrent()) << "the reconnecting tick read nothing";
    Tick();
    EXPECT_TRUE(W->StateCurrent());
    EXPECT_FALSE(Faded(StatePanel));
    EXPECT_FALSE(W->MotionCurrent());
    EXPECT_TRUE(Faded(W->feNc));
    W->SelectPage(0);
    Tick();
    EXPECT_TRUE(W->MotionCurrent());
    for (QWidget* X : std::initializer_list<QWidget*>{W->feNc, W->feVc, W->pbVc, W->cbLimL, W->cbLimR, W->cbHome})
        EXPECT_FALSE(Faded(X)) << X->objectName().toStdString();

    // The operator's disconnect makes them stale too.
    W->mnDisconnectClick(nullptr);
    EXPECT_FALSE(W->MotionCurrent());
}

TEST_F(DeviceThreadTest, TheOffLinePanelSaysWhyWhenItsTooltipIsAboutToShow)
{
    CreateWithNoDevice();
    Settle();
    QLabel* LinkPanel = W->findChild<QLabel*>(QStringLiteral("StatusPanel0"));
    ASSERT_TRUE(LinkPanel);
    ClearCalls();
    Tick();
    EXPECT_EQ(Log(), (Strings{"VLM_CloseDevice()"})) << "the poll reads no text";

    VD::Fail("VLM_OpenDevice", "no such port (is the adapter plugged in?)", -1);
    ClearCalls();
    W->mnConnect->trigger();
    ExpectNoDeviceWarning();
    ExpectDetailsShow("no such port (is the adapter plugged in?)");

    // The tooltip asks the library once, as it is about to show.
    VD::Fail("VLM_OpenDevice", "no valid answer from #5", -1);
    Tick(); // the poll's own attempt: close, open, close, and no text read
    ClearCalls();
    QHelpEvent Hover(QEvent::ToolTip, QPoint(5, 5), LinkPanel->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(LinkPanel, &Hover);
    EXPECT_EQ(Log(), (Strings{"VLM_GetLastError()"}));
    EXPECT_TRUE(LinkPanel->toolTip().endsWith("\nOFF LINE: no valid answer from #5"))
        << LinkPanel->toolTip().toStdString();
    EXPECT_EQ(W->LastFailure(), "no valid answer from #5");

    // On line the tooltip names the link again, and asks nothing.
    VD::Restore();
    VD::SetOpenResult(true);
    Tick();
    ASSERT_TRUE(W->FConnected);
    ClearCalls();
    QApplication::sendEvent(LinkPanel, &Hover);
    EXPECT_TRUE(Log().empty());
    EXPECT_FALSE(LinkPanel->toolTip().contains("OFF LINE"));
}

TEST_F(DeviceThreadTest, CloseDuringASlowCallStopsSavesAndDisconnectsAfterIt)
{
    CreateConnected();
    VD::SetCallDelay(150000);
    W->btStartR->click();
    double Slept = SleptMs([&] { W->close(); });
    EXPECT_LT(Slept, FrameMs) << "the close does not wait on the line";
    EXPECT_FALSE(W->isVisible());
    EXPECT_TRUE(QFile::exists(Dir.path() + "/velmor.ini")) << "saved at once";
    // Nothing more is taken once closing; the destruction waits for the
    // device thread to finish what it has.
    W->btStartL->click();
    W->TimerTimer(W->Timer);
    W.reset();
    EXPECT_EQ(VD::Log(), (Strings{"VLM_StartD(1)", "VLM_Stop()", "VLM_Stop()", "VLM_CloseDevice()"}));
    EXPECT_TRUE(TestSupport::Boxes().empty());
}

TEST_F(DeviceThreadTest, AFailureInAHandlerSkipsTheRestOfItsCallsAndShowsOneBox)
{
    CreateConnected();
    // The field moves the bar, whose handler sends first and fails: the
    // field's own send does not follow, and the operator sees one box.
    VD::Fail("VLM_SetVw", "Speed rejected", 1);
    Type(W->feVw, "640");
    EXPECT_EQ(Log(), (Strings{"VLM_SetVw(640)", "VLM_GetLastError()"}));
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].Text, "Speed rejected.");
    // The next handler is a group of its own and goes out.
    ClearCalls();
    Type(W->feVw, "650");
    EXPECT_EQ(Log(), (Strings{"VLM_SetVw(650)", "VLM_SetVw(650)"}));
    EXPECT_EQ(Boxes().size(), 1u);
}
