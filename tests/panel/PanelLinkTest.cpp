// The line's sequences the device thread runs, without a window: each call
// in its order, the link's state as the calls found it.
#include <gtest/gtest.h>

#include <stdexcept>

#include <string>
#include <vector>

#include "tests/support/VelmorDouble.h"
#include "ui/PanelLink.h"

namespace {

namespace VD = VelmorDouble;
using Strings = std::vector<std::string>;

PanelLink::TParameters Some()
{
    PanelLink::TParameters P;
    P.Step = 4;
    P.Decay = 1;
    P.Ih = 10;
    P.Ia = 20;
    P.Iw = 30;
    P.Vm = 40;
    P.Vw = 50;
    P.Aw = 60;
    P.LimBackward = 1;
    P.LimForward = 3;
    P.LimHome = 5;
    P.Control = 33;
    return P;
}

const Strings SomeSent = {"VLM_SetMode(4,1)", "VLM_SetIh(10)", "VLM_SetIa(20)", "VLM_SetIw(30)", "VLM_SetVm(40)",
                          "VLM_SetVw(50)", "VLM_SetAw(60)", "VLM_SetLim(1,3,5)", "VLM_SetCtrl(33)"};

Strings Then(Strings A, const Strings& B)
{
    A.insert(A.end(), B.begin(), B.end());
    return A;
}

class PanelLinkTest : public ::testing::Test {
protected:
    void SetUp() override { VD::Reset(); }
    PanelLink::TLink Link;

    void Connected()
    {
        ASSERT_TRUE(Link.Connect(Some()).Ok);
        VD::ClearCalls();
    }
};

TEST_F(PanelLinkTest, ConnectOpensReadsTheTextAndSendsEveryParameter)
{
    VD::SetInfoText("VLM-1 #7");
    const PanelLink::TOpened O = Link.Connect(Some());
    EXPECT_TRUE(O.Tried);
    EXPECT_TRUE(O.Ok);
    EXPECT_EQ(O.Info, "VLM-1 #7");
    EXPECT_TRUE(Link.Linked());
    EXPECT_EQ(VD::Log(), Then({"VLM_OpenDevice()", "VLM_GetInfo()"}, SomeSent));

    // Up already: no second open.
    VD::ClearCalls();
    EXPECT_TRUE(Link.Connect(Some()).Ok);
    EXPECT_EQ(VD::Log(), Then({"VLM_GetInfo()"}, SomeSent));
}

TEST_F(PanelLinkTest, AFailedOpenClosesAndReadsNoText)
{
    VD::SetOpenResult(false);
    const PanelLink::TOpened O = Link.Connect(Some());
    EXPECT_TRUE(O.Tried);
    EXPECT_FALSE(O.Ok);
    EXPECT_TRUE(O.Reason.empty());
    EXPECT_FALSE(Link.Linked());
    EXPECT_EQ(VD::Log(), (Strings{"VLM_OpenDevice()", "VLM_CloseDevice()"}));
}

TEST_F(PanelLinkTest, DisconnectStopsOnlyWhileTheLinkIsUp)
{
    Link.Disconnect();
    EXPECT_EQ(VD::Log(), (Strings{"VLM_CloseDevice()"}));
    Connected();
    VD::FailAll("gone");
    Link.Disconnect();
    EXPECT_EQ(VD::Log(), (Strings{"VLM_Stop()", "VLM_CloseDevice()"})) << "failures ignored, no text read";
    EXPECT_FALSE(Link.Linked());
}

TEST_F(PanelLinkTest, SendAllStopsAtTheFirstFailure)
{
    VD::FailCallAt(3, "Rejected");
    Link.SendAll(Some());
    EXPECT_EQ(VD::Log(), (Strings{"VLM_SetMode(4,1)", "VLM_SetIh(10)", "VLM_SetIa(20)", "VLM_SetIw(30)",
                                  "VLM_GetLastError()"}));
}

TEST_F(PanelLinkTest, APollReadsByPage)
{
    Connected();
    VD::SetRead("VLM_GetNc", -77);
    VD::SetRead("VLM_GetLim", 2);
    VD::SetRead("VLM_GetVc", 120);
    VD::SetRead("VLM_GetStat", 1);
    VD::SetRead("VLM_GetNb", 4990);
    VD::SetRead("VLM_GetAdc", 240);
    PanelLink::TPollRequest Q;
    PanelLink::TPollResult R = Link.Poll(Q);
    EXPECT_EQ(VD::Log(), (Strings{"VLM_GetNc()", "VLM_GetLim()", "VLM_GetVc()", "VLM_GetStat()"}));
    EXPECT_TRUE(R.Read);
    EXPECT_TRUE(R.Sample.Ok);
    EXPECT_EQ(R.Sample.Coordinate, -77);
    EXPECT_EQ(R.Sample.Limits, 2);
    EXPECT_EQ(R.Sample.Speed, 120);
    EXPECT_EQ(R.StateText, "Operation done");
    EXPECT_FALSE(R.Reconnect.Tried);

    VD::ClearCalls();
    Q.Page = 1;
    Q.Adc = true;
    R = Link.Poll(Q);
    EXPECT_EQ(VD::Log(), (Strings{"VLM_GetAdc()", "VLM_GetStat()"}));
    EXPECT_TRUE(R.HasAdc);
    EXPECT_DOUBLE_EQ(R.Adc, 24.0);
    EXPECT_FALSE(R.Sample.HasMotion);

    VD::ClearCalls();
    Q.Page = 2;
    Q.Homing = true;
    R = Link.Poll(Q);
    EXPECT_EQ(VD::Log(), (Strings{"VLM_GetStat()", "VLM_GetNb()", "VLM_GetStat()"}));
    EXPECT_TRUE(R.HomeDone);
    EXPECT_EQ(R.HomeCoordinate, 4990);
}

TEST_F(PanelLinkTest, AFailedReadIsHeardOfBeforeTheTickReconnects)
{
    Connected();
    VD::Fail("VLM_GetVc", "No answer from #1");
    PanelLink::TPollRequest Q;
    Q.KeepConnected = true;
    Q.Parameters = Some();
    static size_t CallsWhenHeard = 0;
    std::string Heard;
    const PanelLink::TPollResult R = Link.Poll(Q, [&](const std::string& Error) {
        Heard = Error;
        CallsWhenHeard = VD::Calls().size();
    });
    EXPECT_EQ(Heard, "No answer from #1");
    EXPECT_EQ(CallsWhenHeard, 4u) << "three reads and the error text, nothing of the reconnection";
    EXPECT_TRUE(R.Lost);
    EXPECT_FALSE(R.Sample.Ok);
    EXPECT_FALSE(R.Sample.HasMotion);
    EXPECT_EQ(R.Sample.Error, "No answer from #1");
    EXPECT_TRUE(R.Reconnect.Ok);
    EXPECT_TRUE(Link.Linked());
    EXPECT_EQ(VD::Log(), Then({"VLM_GetNc()", "VLM_GetLim()", "VLM_GetVc()", "VLM_GetLastError()",
                               "VLM_CloseDevice()", "VLM_OpenDevice()", "VLM_GetInfo()"},
                              SomeSent));
}

TEST_F(PanelLinkTest, WithTheLinkDownAPollOnlyClosesUnlessItKeepsConnected)
{
    PanelLink::TPollRequest Q;
    PanelLink::TPollResult R = Link.Poll(Q);
    EXPECT_FALSE(R.Read);
    EXPECT_FALSE(R.Reconnect.Tried);
    EXPECT_GT(R.Sample.SteadyUs, 0) << "timed all the same";
    EXPECT_EQ(VD::Log(), (Strings{"VLM_CloseDevice()"}));
    VD::ClearCalls();
    VD::SetOpenResult(false);
    Q.KeepConnected = true;
    R = Link.Poll(Q);
    EXPECT_TRUE(R.Reconnect.Tried);
    EXPECT_FALSE(R.Reconnect.Ok);
    EXPECT_EQ(VD::Log(), (Strings{"VLM_CloseDevice()", "VLM_OpenDevice()", "VLM_CloseDevice()"}));
}

} // namespace

// The device thread's queue on its own.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "ui/DeviceThread.h"

namespace {

TEST(DeviceThreadQueue, JobsRunInOrderOnOneThreadOtherThanTheCallers)
{
    std::vector<int> Order;
    std::thread::id Ran;
    bool OneThread = true;
    {
        TDeviceThread T;
        for (int I = 0; I < 50; ++I)
            ASSERT_TRUE(T.Post([&, I] {
                if (I == 0)
                    Ran = std::this_thread::get_id();
                OneThread = OneThread && Ran == std::this_thread::get_id();
                Order.push_back(I);
            }));
    } // the destruction runs what is queued, then ends the thread
    ASSERT_EQ(Order.size(), 50u);
    for (int I = 0; I < 50; ++I)
        EXPECT_EQ(Order[I], I);
    EXPECT_TRUE(OneThread);
    EXPECT_NE(Ran, std::this_thread::get_id());
}

TEST(DeviceThreadQueue, AFullQueueRefusesAndASealedOneTakesNothingButFinishesItsWork)
{
    std::mutex M;
    std::condition_variable Cv;
    bool Go = false;
    std::atomic<int> Done{0};
    TDeviceThread T(3);
    // The first job holds the thread; three more fill the queue.
    std::atomic<bool> Started{false};
    ASSERT_TRUE(T.Post([&] {
        Started = true;
        std::unique_lock<std::mutex> L(M);
        Cv.wait(L, [&] { return Go; });
        ++Done;
    }));
    while (!Started)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(T.Post([&] { ++Done; }));
    EXPECT_TRUE(T.Post([&] { ++Done; }));
    EXPECT_TRUE(T.Post([&] { ++Done; }));
    EXPECT_FALSE(T.Post([&] { ++Done; })) << "the limit holds";
    EXPECT_EQ(T.Outstanding(), 4u);
    T.Seal();
    EXPECT_FALSE(T.Post([&] { ++Done; })) << "nothing once sealed";
    {
        std::lock_guard<std::mutex> L(M);
        Go = true;
    }
    Cv.notify_all();
    T.Finish();
    EXPECT_EQ(Done.load(), 4);
    EXPECT_EQ(T.Outstanding(), 0u);
}

TEST(DeviceThreadQueue, AJobThatThrowsDoesNotEndTheThread)
{
    std::atomic<bool> After{false};
    TDeviceThread T;
    ASSERT_TRUE(T.Post([] { throw std::runtime_error("escaped"); }));
    ASSERT_TRUE(T.Post([&] { After = true; }));
    T.Finish();
    EXPECT_TRUE(After.load());
}

} // namespace
