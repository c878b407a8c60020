#include "tests/panel/PanelFixture.h"

#include <limits>

using PollTest = PanelTest;

TEST_F(PollTest, ControlPageReadsCoordinateLimitsSpeedAndState)
{
    CreateConnected();
    VD::SetRead("VLM_GetNc", 12345);
    VD::SetRead("VLM_GetLim", 5);
    VD::SetRead("VLM_GetVc", -150);
    VD::SetRead("VLM_GetStat", 3);
    Tick();
    EXPECT_EQ(Log(), (Strings{"VLM_GetNc()", "VLM_GetLim()", "VLM_GetVc()", "VLM_GetStat()"}));
    EXPECT_EQ(W->feNc->Value(), 12345);
    EXPECT_TRUE(W->cbLimL->isChecked());
    EXPECT_FALSE(W->cbLimR->isChecked());
    EXPECT_TRUE(W->cbHome->isChecked());
    EXPECT_EQ(W->feVc->Value(), -150);
    EXPECT_EQ(W->pbVc->value(), 150);
    EXPECT_EQ(W->StatusText(1), "Rotating...");

    VD::SetRead("VLM_GetLim", 2);
    Tick();
    EXPECT_FALSE(W->cbLimL->isChecked());
    EXPECT_TRUE(W->cbLimR->isChecked());
    EXPECT_FALSE(W->cbHome->isChecked());
}

TEST_F(PollTest, TickRestartsTheTimerAtItsEnd)
{
    CreateConnected();
    W->TimerTimer(W->Timer);
    Settle();
    EXPECT_TRUE(W->Timer->isActive());
    EXPECT_EQ(W->Timer->interval(), 100);
}

TEST_F(PollTest, ExtremeReadingsAreClampedByTheDisplays)
{
    CreateConnected();
    VD::SetRead("VLM_GetVc", std::numeric_limits<int32_t>::min());
    VD::SetRead("VLM_GetNc", std::numeric_limits<int32_t>::max());
    VD::SetRead("VLM_GetStat", 99);
    Tick();
    EXPECT_EQ(W->feVc->Value(), -30000);
    EXPECT_EQ(W->pbVc->value(), W->pbVc->maximum());
    EXPECT_EQ(W->feNc->Value(), 2000000000);
    EXPECT_EQ(W->StatusText(1), "Unknown state");
}

TEST_F(PollTest, ServicePageReadsVoltageOnlyWhileTicked)
{
    CreateConnected();
    W->SelectPage(1);
    Tick();
    EXPECT_EQ(Log(), (Strings{"VLM_GetStat()"}));
    W->cbAdc->setChecked(true);
    VD::SetRead("VLM_GetAdc", 239);
    ClearCalls();
    Tick();
    EXPECT_EQ(Log(), (Strings{"VLM_GetAdc()", "VLM_GetStat()"}));
    EXPECT_DOUBLE_EQ(W->feAdc->Value(), 23.9);
}

TEST_F(PollTest, HomingResultShownOnSensorsPageOnceOperationIsDone)
{
    CreateConnected();
    W->cbHomeEn->click();
    W->btHome->click();
    ClearCalls();
    VD::SetRead("VLM_GetStat", 6);
    VD::SetRead("VLM_GetNb", 4987);
    Tick(); // on page "Управление": no homing result looked for
    EXPECT_EQ(CallsOf("VLM_GetNb").size(), 0u);

    ClearCalls();
    W->SelectPage(2);
    Tick();
    EXPECT_EQ(Log(), (Strings{"VLM_GetStat()", "VLM_GetStat()"}));
    EXPECT_TRUE(W->FHoming);
    EXPECT_EQ(W->feHome->text(), "");

    VD::SetRead("VLM_GetStat", 1);
    ClearCalls();
    Tick();
    EXPECT_EQ(Log(), (Strings{"VLM_GetStat()", "VLM_GetNb()", "VLM_GetStat()"}));
    EXPECT_FALSE(W->FHoming);
    EXPECT_EQ(W->feHome->Value(), 4987);
    EXPECT_EQ(W->feHome->text(), "4987");
    EXPECT_EQ(W->StatusText(1), "Operation done");

    ClearCalls();
    Tick();
    EXPECT_EQ(Log(), (Strings{"VLM_GetStat()"})) << "without a homing run only the state";
}

TEST_F(PollTest, FailedReadDisconnectsAndReconnectsOnTheSameTick)
{
    CreateConnected();
    W->SetStatusText(1, "Rotating...");
    VD::Fail("VLM_GetLim", "Timeout");
    Tick();
    Strings Want = {"VLM_GetNc()", "VLM_GetLim()", "VLM_GetLastError()", "VLM_CloseDevice()",
                    "VLM_OpenDevice()", "VLM_GetInfo()", "VLM_SetMode(1,0)", "VLM_SetIh(0)",
                    "VLM_SetIa(300)", "VLM_SetIw(200)", "VLM_SetVm(50)", "VLM_SetVw(100)",
                    "VLM_SetAw(100)", "VLM_SetLim(0,0,0)", "VLM_SetCtrl(32)"};
    EXPECT_EQ(Log(), Want) << "the link was marked lost before the disconnect: no stop";
    EXPECT_TRUE(W->FConnected);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(PollTest, LostControllerIsRetriedEveryTickUntilItAnswers)
{
    CreateConnected();
    W->SetStatusText(1, "Rotating...");
    VD::FailAll("No answer");
    Tick();
    EXPECT_FALSE(W->FConnected);
    EXPECT_EQ(W->StatusText(0), " OFF LINE ");
    EXPECT_EQ(W->StatusText(1), "Rotating...") << "the last state text stays";
    for (int I = 0; I < 3; ++I) {
        ClearCalls();
        Tick();
        EXPECT_EQ(Log(), (Strings{"VLM_CloseDevice()", "VLM_OpenDevice()", "VLM_CloseDevice()"}));
    }
    VD::Restore();
    Tick();
    EXPECT_TRUE(W->FConnected);
    EXPECT_EQ(W->StatusText(0), " ON LINE: Test double");
}

TEST_F(PollTest, PageChangeRunsATickAtOnceProgramSelectionDoesNot)
{
    CreateConnected();
    W->SelectPage(1);
    EXPECT_TRUE(Log().empty());
    W->PageControl->setCurrentIndex(2); // as the operator's click on a tab
    EXPECT_EQ(Log(), (Strings{"VLM_GetStat()"}));
    EXPECT_TRUE(W->Timer->isActive()) << "the next tick comes a full interval later";
    W->Timer->stop();

    W->mnDisconnectClick(nullptr);
    ClearCalls();
    W->PageControl->setCurrentIndex(0);
    EXPECT_EQ(Log(), (Strings{"VLM_CloseDevice()"}));
}

TEST_F(PollTest, OtherPagesKeepTheirLastValues)
{
    CreateConnected();
    VD::SetRead("VLM_GetVc", 500);
    Tick();
    VD::SetRead("VLM_GetVc", 900);
    W->SelectPage(2);
    Tick();
    EXPECT_EQ(W->feVc->Value(), 500);
    EXPECT_EQ(W->pbVc->value(), 500);
}
