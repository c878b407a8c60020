// Lost links, reconnections and failures at every point of a tick, many
// times over: the panel must always end a tick in a state its behaviour
// allows, show nothing to the operator and keep polling.
#include "tests/panel/PanelFixture.h"

using StressTest = PanelTest;

namespace {

// What a finished tick may leave behind.
void ExpectConsistent(TMainForm* W)
{
    EXPECT_TRUE(W->Timer->isActive());
    if (W->FConnected) {
        EXPECT_TRUE(W->StatusText(0).startsWith(" ON LINE: "));
        EXPECT_FALSE(W->mnConnect->isEnabled());
        EXPECT_TRUE(W->mnDisconnect->isEnabled());
    } else {
        EXPECT_EQ(W->StatusText(0), " OFF LINE ");
        EXPECT_TRUE(W->mnConnect->isEnabled());
        EXPECT_FALSE(W->mnDisconnect->isEnabled());
    }
    EXPECT_FALSE(W->FUpdating);
    EXPECT_TRUE(TestSupport::Boxes().empty());
}

} // namespace

TEST_F(StressTest, EveryCallOfATickAndOfTheReconnectionFailingInTurn)
{
    Create();
    W->cbAdc->setChecked(true);
    W->cbHomeEn->setChecked(true);
    VD::SetRead("VLM_GetStat", 1);
    for (int Page = 0; Page < 3; ++Page) {
        W->SelectPage(Page);
        // A lost link is noticed and brought back: up to 4 reads, then
        // close, open, info and nine sends.
        for (int Point = 0; Point < 20; ++Point) {
            W->FHoming = true;
            Tick();
            ASSERT_TRUE(W->FConnected);
            ClearCalls();
            VD::FailCallAt(Point, "Injected failure");
            W->TimerTimer(W->Timer);
            Settle();
            ExpectConsistent(W.get());
            W->Timer->stop();
            // However it ended, the next ticks bring the link back.
            Tick();
            Tick();
            EXPECT_TRUE(W->FConnected) << "page " << Page << " point " << Point;
        }
    }
}

TEST_F(StressTest, ThousandsOfLostLinksAndReconnections)
{
    Create();
    int Reconnections = 0;
    for (int Cycle = 0; Cycle < 3000; ++Cycle) {
        ClearCalls();
        switch (Cycle % 4) {
        case 0: VD::FailAll(Cycle % 8 ? "Link lost" : nullptr); break;
        case 1: VD::SetOpenResult(Cycle % 3 != 0); break;
        case 2: VD::Restore(); VD::SetOpenResult(true); break;
        default: VD::Fail("VLM_GetVc", "Timeout"); break;
        }
        const bool Was = W->FConnected;
        W->SelectPage(Cycle % 3);
        W->TimerTimer(W->Timer);
        Settle();
        W->Timer->stop();
        if (!Was && W->FConnected)
            ++Reconnections;
        if (W->FConnected)
            EXPECT_TRUE(W->StatusText(0).startsWith(" ON LINE: "));
        else
            EXPECT_EQ(W->StatusText(0), " OFF LINE ");
        // The library is never asked for more than one open per tick.
        EXPECT_LE(CallsOf("VLM_OpenDevice").size(), 1u);
        if (::testing::Test::HasFailure())
            break;
    }
    EXPECT_GT(Reconnections, 500);
    EXPECT_TRUE(TestSupport::Boxes().empty());
}

TEST_F(StressTest, SendAllParametersFailingAtEverySend)
{
    Create();
    for (int Point = 0; Point < 9; ++Point) {
        ClearCalls();
        VD::FailCallAt(Point, "Rejected");
        W->SendAllParameters();
        Settle();
        // The failing send and the error-text fetch end it.
        EXPECT_EQ(VD::Calls().size(), static_cast<size_t>(Point + 2));
        EXPECT_EQ(VD::Calls().back().Name, "VLM_GetLastError");
    }
    EXPECT_TRUE(TestSupport::Boxes().empty());
}

TEST_F(StressTest, OperatorCommandsOnALostLinkEachShowOneMessage)
{
    Create();
    VD::FailAll("Device is not open");
    int Expected = 0;
    for (QPushButton* B : {W->btClrNc, W->btStartN, W->btStart0, W->btStartR, W->btStartL, W->btStop, W->btEEPROM}) {
        B->click();
        Settle();
        ++Expected;
        ASSERT_EQ(TestSupport::Boxes().size(), static_cast<size_t>(Expected));
        EXPECT_EQ(TestSupport::Boxes().back().Text, "Device is not open.");
    }
    ClearCalls();
    Type(W->feVw, "1234");
    Settle();
    EXPECT_EQ(TestSupport::Boxes().size(), static_cast<size_t>(Expected + 1));
    EXPECT_EQ(CallsOf("VLM_SetVw").size(), 1u);
}
