#include "tests/panel/PanelFixture.h"

using MotionTest = PanelTest;

TEST_F(MotionTest, ButtonsSendTheirCommands)
{
    CreateConnected();
    W->btClrNc->click();
    W->btStart0->click();
    W->btStartR->click();
    W->btStartL->click();
    W->btStop->click();
    W->btEEPROM->click();
    EXPECT_EQ(Log(), (Strings{"VLM_SetNc(0)", "VLM_StartN(0)", "VLM_StartD(1)", "VLM_StartD(-1)", "VLM_StartD(0)",
                              "VLM_SavePar()"}));
}

TEST_F(MotionTest, GoToCoordinateAbsoluteOrRelativeTruncated)
{
    CreateConnected();
    W->feNr->SetValue(1234.9);
    W->btStartN->click();
    W->feNr->SetValue(-10.5);
    W->cbRelN->click();
    W->btStartN->click();
    W->btStart0->click();
    EXPECT_EQ(Log(), (Strings{"VLM_StartN(1234)", "VLM_StartdN(-10)", "VLM_StartN(0)"}));
}

TEST_F(MotionTest, HomingBlanksTheCoordinateFirstAndFollowsTheDirectionBox)
{
    CreateConnected();
    W->cbHomeEn->click();
    W->cbHomeDir->setChecked(false);
    ClearCalls();
    W->feHome->SetValueVisible(true);
    W->btHome->click();
    EXPECT_EQ(Log(), (Strings{"VLM_Home(-1)"}));
    EXPECT_TRUE(W->FHoming);
    EXPECT_EQ(W->feHome->text(), "");
    W->cbHomeDir->click();
    ClearCalls();
    W->btHome->click();
    EXPECT_EQ(Log(), (Strings{"VLM_Home(1)"}));
}

TEST_F(MotionTest, FailedHomingLeavesTheCoordinateBlankAndAwaited)
{
    CreateConnected();
    W->cbHomeEn->click();
    W->feHome->SetValueVisible(true);
    W->feHome->SetValue(4321); // the coordinate of an earlier run
    ASSERT_EQ(W->feHome->text(), "4321");
    VD::Fail("VLM_Home", "Home sensor disabled");
    W->btHome->click();
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].Text, "Home sensor disabled.");
    EXPECT_TRUE(W->FHoming);
    EXPECT_EQ(W->feHome->text(), "");
}

TEST_F(MotionTest, StopIsSentAsContinuousMotionZeroNeverAsStop)
{
    CreateConnected();
    W->btStop->click();
    EXPECT_TRUE(CallsOf("VLM_Stop").empty());
    EXPECT_EQ(Log(), (Strings{"VLM_StartD(0)"}));
}
