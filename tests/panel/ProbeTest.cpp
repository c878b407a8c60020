// A connection attempt whose open takes its time (the double holds it): the
// window goes on, nothing overtakes the open on the device thread, and what
// follows the attempt keeps its order.
#include "tests/panel/PanelFixture.h"

#include <QCoreApplication>
#include <QFile>
#include <QElapsedTimer>

#include <chrono>
#include <thread>

namespace {


// Lets the held open go a little after the calling thread has gone on to
// wait for it.
std::thread ReleaseSoon()
{
    return std::thread([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        VD::ReleaseOpen();
    });
}

} // namespace

class ProbeTest : public PanelTest {
protected:
    void SetUp() override
    {
        PanelTest::SetUp();
        TestSupport::RecordMessageBoxes(); // whatever an earlier test left
    }

    void TearDown() override
    {
        VD::ReleaseOpen(); // never leave the probe thread waiting
        PanelTest::TearDown();
    }

    // The attempt started by a tick is under way with its open held; the
    // window has not waited for it.
    void TickIntoAHeldOpen()
    {
        VD::HoldOpen();
        VD::ClearCalls();
        W->TimerTimer(W->Timer);
        ASSERT_FALSE(W->DeviceIdle());
        ASSERT_TRUE(Wait([] { return VD::OpenWaiting(); }));
    }

    // Runs the event loop until Done or 10 s have passed.
    template <class Cond> static bool Wait(Cond Done)
    {
        QElapsedTimer T;
        T.start();
        while (!Done() && T.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return Done();
    }
};

TEST_F(ProbeTest, NothingOvertakesASlowOpenAndTheAttemptEndsOnTheWindowsThread)
{
    Create();
    TickIntoAHeldOpen();
    EXPECT_EQ(W->StatusText(0), " OFF LINE ");

    // Ticks and a page change leave the link alone meanwhile.
    W->TimerTimer(W->Timer);
    W->PageControl->setCurrentIndex(1); // the operator's page change
    W->PageControl->setCurrentIndex(0);
    EXPECT_FALSE(W->Timer->isActive()) << "no tick starts while one is on the line";
    EXPECT_EQ(VD::Log(), (Strings{"VLM_CloseDevice()"})) << "the tick's disconnect, and the open still held";

    // The open returns: the rest of the attempt comes through the event loop.
    VD::ReleaseOpen();
    ASSERT_TRUE(Wait([&] { return W->DeviceIdle() && W->FConnected; }));
    EXPECT_EQ(Log(), Then({"VLM_CloseDevice()", "VLM_OpenDevice()", "VLM_GetInfo()"}, AllParameters));
    EXPECT_EQ(W->StatusText(0), " ON LINE: Test double");
    EXPECT_TRUE(W->Timer->isActive()) << "the attempt's end re-arms the poll";
}

TEST_F(ProbeTest, ACommandWaitsForTheOpenThenGoesOutAfterTheParameters)
{
    Create();
    TickIntoAHeldOpen();
    std::thread Releaser = ReleaseSoon();
    W->btStartR->click();
    EXPECT_EQ(VD::Log(), (Strings{"VLM_CloseDevice()"})) << "the command waits on the device thread";
    Releaser.join();
    EXPECT_EQ(Log(), Then(Then({"VLM_CloseDevice()", "VLM_OpenDevice()", "VLM_GetInfo()"}, AllParameters),
                          {"VLM_StartD(1)"}));
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(ProbeTest, AParameterChangeWhileTheLinkIsDownFollowsTheFailedOpenAndShowsItsBox)
{
    Create();
    VD::SetOpenResult(false);
    TickIntoAHeldOpen();
    VD::Fail("VLM_SetVw", "Not open");
    std::thread Releaser = ReleaseSoon();
    Type(W->feVw, "250");
    Releaser.join();
    EXPECT_EQ(Log(), (Strings{"VLM_CloseDevice()", "VLM_OpenDevice()", "VLM_CloseDevice()", "VLM_SetVw(250)",
                              "VLM_GetLastError()"}));
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].Text, "Not open.");
}

TEST_F(ProbeTest, ConnectCommandWarnsOnlyOnceTheSlowAttemptHasFailed)
{
    CreateWithNoDevice();
    VD::HoldOpen();
    ClearCalls();
    W->mnConnect->trigger();
    ASSERT_TRUE(W->ConnectPending());
    EXPECT_TRUE(W->FKeepConnected);
    ASSERT_TRUE(Wait([] { return VD::OpenWaiting(); }));
    QCoreApplication::processEvents();
    EXPECT_TRUE(TestSupport::Boxes().empty()) << "no warning before the attempt has failed";

    VD::ReleaseOpen();
    ASSERT_TRUE(Wait([&] { return !TestSupport::Boxes().empty(); }));
    ExpectNoDeviceWarning();
}

TEST_F(ProbeTest, TheCloseWaitsForTheAttemptThenStopsSavesAndClosesWithoutAWarning)
{
    CreateWithNoDevice();
    VD::HoldOpen();
    W->mnConnect->trigger();
    ASSERT_TRUE(W->ConnectPending());
    ASSERT_TRUE(Wait([] { return VD::OpenWaiting(); }));
    VD::ClearCalls();
    std::thread Releaser = ReleaseSoon();
    W->close();
    Releaser.join();
    EXPECT_EQ(Log(), (Strings{"VLM_OpenDevice()", "VLM_CloseDevice()", "VLM_Stop()", "VLM_CloseDevice()"}));
    EXPECT_TRUE(Boxes().empty()) << "the closing waits for nobody";
    EXPECT_TRUE(QFile::exists(Dir.path() + "/velmor.ini"));
    EXPECT_FALSE(W->Timer->isActive());
}

TEST_F(ProbeTest, ALinkLostWhileConnectedIsProbedOffTheWindowsThread)
{
    CreateConnected();
    VD::FailAll("Timeout");
    VD::HoldOpen();
    W->TimerTimer(W->Timer);
    ASSERT_TRUE(Wait([] { return VD::OpenWaiting(); }));
    EXPECT_EQ(VD::Log(), (Strings{"VLM_GetNc()", "VLM_GetLastError()", "VLM_CloseDevice()"}));
    ASSERT_TRUE(Wait([&] { return W->StatusText(0) == " OFF LINE "; }))
        << "the loss shows while the reconnection waits on the line";
    VD::Restore();
    VD::ReleaseOpen();
    ASSERT_TRUE(Wait([&] { return W->FConnected; }));
    EXPECT_EQ(Log(), Then({"VLM_GetNc()", "VLM_GetLastError()", "VLM_CloseDevice()", "VLM_OpenDevice()",
                           "VLM_GetInfo()"},
                          AllParameters));
}
