// A connection attempt whose open takes its time (the double holds it): the
// window goes on, nothing reaches the library before the open has returned,
// and what follows the attempt keeps its order.
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

    // The attempt started by a tick is under way with its open held.
    void TickIntoAHeldOpen()
    {
        VD::HoldOpen();
        VD::ClearCalls();
        Tick();
        ASSERT_TRUE(W->ProbePending());
        ASSERT_TRUE(VD::OpenWaiting());
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
    Tick();
    W->PageControl->setCurrentIndex(1); // the operator's page change
    W->Timer->stop();
    W->PageControl->setCurrentIndex(0);
    W->Timer->stop();
    EXPECT_EQ(Log(), (Strings{"VLM_CloseDevice()"})) << "the tick's disconnect, and the open still held";

    // The open returns: the rest of the attempt comes through the event loop.
    VD::ReleaseOpen();
    ASSERT_TRUE(Wait([&] { return !W->ProbePending() && W->FConnected; }));
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
    Releaser.join();
    EXPECT_FALSE(W->ProbePending());
    EXPECT_EQ(Log(), Then(Then({"VLM_CloseDevice()", "VLM_OpenDevice()", "VLM_GetInfo()"}, AllParameters),
                          {"VLM_StartD(1)"}));
    EXPECT_TRUE(TestSupport::Boxes().empty());
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
    ASSERT_EQ(TestSupport::Boxes().size(), 1u);
    EXPECT_EQ(TestSupport::Boxes()[0].Text, "Not open.");
}

TEST_F(ProbeTest, ConnectCommandWarnsOnlyOnceTheSlowAttemptHasFailed)
{
    CreateWithNoDevice();
    VD::HoldOpen();
    VD::ClearCalls();
    W->mnConnect->trigger();
    ASSERT_TRUE(W->ProbePending());
    EXPECT_TRUE(W->FKeepConnected);
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
    ASSERT_TRUE(W->ProbePending());
    VD::ClearCalls();
    std::thread Releaser = ReleaseSoon();
    W->close();
    Releaser.join();
    EXPECT_EQ(Log(), (Strings{"VLM_OpenDevice()", "VLM_CloseDevice()", "VLM_Stop()", "VLM_CloseDevice()"}));
    EXPECT_TRUE(TestSupport::Boxes().empty()) << "the closing waits for nobody";
    EXPECT_TRUE(QFile::exists(Dir.path() + "/velmor.ini"));
    EXPECT_FALSE(W->Timer->isActive());
}

TEST_F(ProbeTest, ALinkLostWhileConnectedIsProbedOffTheWindowsThread)
{
    CreateConnected();
    VD::FailAll("Timeout");
    VD::HoldOpen();
    Tick();
    EXPECT_TRUE(W->ProbePending());
    EXPECT_EQ(Log(), (Strings{"VLM_GetNc()", "VLM_GetLastError()", "VLM_CloseDevice()"}));
    EXPECT_EQ(W->StatusText(0), " OFF LINE ");
    VD::Restore();
    VD::ReleaseOpen();
    ASSERT_TRUE(Wait([&] { return W->FConnected; }));
    EXPECT_EQ(Log(), Then({"VLM_GetNc()", "VLM_GetLastError()", "VLM_CloseDevice()", "VLM_OpenDevice()",
                           "VLM_GetInfo()"},
                          AllParameters));
}
