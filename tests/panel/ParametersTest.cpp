#include "tests/panel/PanelFixture.h"

#include <QApplication>
#include <QPalette>

using ParametersTest = PanelTest;

TEST_F(ParametersTest, FieldValuesAreSentTruncated)
{
    CreateConnected();
    Type(W->feCw, "0.9");
    Type(W->feVm, "99.99");
    Type(W->feCa, "-0.01");
    Type(W->feAw, "1234.99");
    EXPECT_EQ(Log(), (Strings{"VLM_SetIw(0)", "VLM_SetVm(99)", "VLM_SetIa(0)", "VLM_SetAw(1234)"}));
    EXPECT_EQ(W->feCw->text(), "1") << "shown rounded, sent truncated";
}

TEST_F(ParametersTest, TypedValueBeyondTheRangeIsClampedBeforeItIsSent)
{
    CreateConnected();
    Type(W->feCw, "5000");
    // The clamp notifies once and the commit once: both carry the bound.
    EXPECT_EQ(Log(), (Strings{"VLM_SetIw(2000)", "VLM_SetIw(2000)"}));
    EXPECT_EQ(W->feCw->Value(), 2000);
}

TEST_F(ParametersTest, HoldingCurrentFollowsItsBox)
{
    CreateConnected();
    Type(W->feCh, "150.7");
    W->cbHold->click();
    Type(W->feCh, "300");
    W->cbHold->click();
    EXPECT_EQ(Log(), (Strings{"VLM_SetIh(0)", "VLM_SetIh(150)", "VLM_SetIh(300)", "VLM_SetIh(0)"}));
}

TEST_F(ParametersTest, EitherModeListSendsBothValues)
{
    CreateConnected();
    Pick(W->cbSM, 1);
    Pick(W->cbFM, 1);
    Pick(W->cbSM, 0);
    Pick(W->cbFM, 0);
    EXPECT_EQ(Log(), (Strings{"VLM_SetMode(2,0)", "VLM_SetMode(2,1)", "VLM_SetMode(1,1)", "VLM_SetMode(1,0)"}));
}

TEST_F(ParametersTest, DefaultWordsShowDisabledRowsAndGreyCaption)
{
    Create();
    for (QCheckBox* En : {W->cbLimEnR, W->cbLimEnL, W->cbHomeEn})
        EXPECT_FALSE(En->isChecked());
    for (QCheckBox* No : {W->cbLimNoR, W->cbLimNoL, W->cbHomeNo}) {
        EXPECT_TRUE(No->isChecked());
        EXPECT_FALSE(No->isEnabled());
    }
    for (QCheckBox* St : {W->cbLimStR, W->cbLimStL, W->cbHomeSt}) {
        EXPECT_FALSE(St->isChecked());
        EXPECT_FALSE(St->isEnabled());
    }
    EXPECT_FALSE(W->cbHomeDir->isEnabled());
    EXPECT_FALSE(W->feHome->isEnabled());
    EXPECT_FALSE(W->btHome->isEnabled());
    EXPECT_EQ(W->Label14->palette().color(QPalette::WindowText),
              QApplication::palette().color(QPalette::Disabled, QPalette::WindowText));
}

TEST_F(ParametersTest, LimitBoxesComposeTheWordsInBackwardForwardHomeOrder)
{
    CreateConnected();
    W->cbLimEnR->click();
    EXPECT_EQ(W->FLimR, 1);
    EXPECT_TRUE(W->cbLimNoR->isEnabled());
    W->cbLimNoR->click();
    W->cbLimEnL->click();
    W->cbLimStL->click();
    W->cbHomeEn->click();
    EXPECT_EQ(Log(), (Strings{"VLM_SetLim(0,1,0)", "VLM_SetLim(0,3,0)", "VLM_SetLim(1,3,0)",
                              "VLM_SetLim(5,3,0)", "VLM_SetLim(5,3,1)"}));
    EXPECT_TRUE(W->btHome->isEnabled());
    EXPECT_TRUE(W->cbHomeDir->isEnabled());
    EXPECT_EQ(W->Label14->palette().color(QPalette::WindowText),
              QApplication::palette().color(QPalette::Active, QPalette::WindowText));

    // Unticking a use box disables its sub-boxes but keeps their bits.
    ClearCalls();
    W->cbLimEnL->click();
    EXPECT_FALSE(W->cbLimStL->isEnabled());
    EXPECT_TRUE(W->cbLimStL->isChecked());
    // The search direction is no part of the words; they are sent again.
    W->cbHomeDir->click();
    EXPECT_EQ(Log(), (Strings{"VLM_SetLim(4,3,1)", "VLM_SetLim(4,3,1)"}));
}

TEST_F(ParametersTest, ControlWordFromListAndBoxes)
{
    CreateConnected();
    EXPECT_EQ(W->cbCntrl->currentIndex(), 0) << "default word 32: mode 0";
    EXPECT_TRUE(W->cbDbnc->isChecked());
    EXPECT_FALSE(W->cbHi->isChecked());
    Pick(W->cbCntrl, 3);
    W->cbHi->click();
    W->cbDbnc->click();
    EXPECT_EQ(Log(), (Strings{"VLM_SetCtrl(35)", "VLM_SetCtrl(51)", "VLM_SetCtrl(19)"}));
    EXPECT_EQ(W->FCntrl, 0x13);
}

TEST_F(ParametersTest, ControlWordWithNoSelectionKeepsItsModeBits)
{
    Create();
    W->ShowControlWord(0x29); // mode 9: no such item
    W->FCntrl = 0x29;
    EXPECT_EQ(W->cbCntrl->currentIndex(), -1);
    Tick();
    EXPECT_EQ(CallsOf("VLM_SetCtrl").back().Str(), "VLM_SetCtrl(41)") << "sent as stored";
    ClearCalls();
    W->cbHi->click();
    EXPECT_EQ(Log(), (Strings{"VLM_SetCtrl(57)"}));
    EXPECT_EQ(W->FCntrl, 0x39);
}

TEST_F(ParametersTest, SpeedFieldAndScrollBarFollowEachOther)
{
    CreateConnected();
    Type(W->feVw, "250.8");
    EXPECT_EQ(W->sbVw->value(), 250);
    for (const std::string& Call : Log())
        EXPECT_EQ(Call, "VLM_SetVw(250)");
    EXPECT_GE(Log().size(), 2u);

    ClearCalls();
    for (int Pos = 300; Pos <= 500; Pos += 100)
        W->sbVw->setValue(Pos); // as a drag reports it
    EXPECT_EQ(W->feVw->Value(), 500);
    Strings Sent;
    for (const auto& C : CallsOf("VLM_SetVw"))
        Sent.push_back(C.Str());
    // Each position reaches the controller (through the field and the bar).
    for (const char* Want : {"VLM_SetVw(300)", "VLM_SetVw(400)", "VLM_SetVw(500)"})
        EXPECT_NE(std::find(Sent.begin(), Sent.end(), Want), Sent.end()) << Want;
    EXPECT_EQ(Log().size(), Sent.size()) << "nothing else is sent";
}

TEST_F(ParametersTest, LoweringTheMaximumLowersTheSpeedRaisingItSendsNothing)
{
    CreateConnected();
    Type(W->feVw, "3000");
    ClearCalls();
    Type(W->feVmax, "2500");
    EXPECT_EQ(W->feVw->Value(), 2500);
    EXPECT_EQ(W->sbVw->value(), 2500);
    EXPECT_EQ(W->sbVw->maximum(), 2500);
    EXPECT_EQ(W->pbVc->maximum(), 2500);
    EXPECT_EQ(W->feVw->MaxValue(), 2500);
    ASSERT_FALSE(Log().empty());
    for (const std::string& Call : Log())
        EXPECT_EQ(Call, "VLM_SetVw(2500)");

    ClearCalls();
    Type(W->feVmax, "6000");
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(W->sbVw->maximum(), 6000);
    EXPECT_EQ(W->feVw->Value(), 2500);
}

TEST_F(ParametersTest, FailedSendShowsTheLibraryTextAndKeepsTheOperatorsValue)
{
    CreateConnected();
    VD::Fail("VLM_SetIw", "Current rejected");
    Type(W->feCw, "1500");
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].Text, "Current rejected.");
    EXPECT_EQ(Boxes()[0].Caption, "Velmor");
    EXPECT_EQ(W->feCw->Value(), 1500);
    EXPECT_EQ(Log(), (Strings{"VLM_SetIw(1500)", "VLM_GetLastError()"}));
}

TEST_F(ParametersTest, FailedSpeedSendTravelsThroughTheScrollBarOnce)
{
    CreateConnected();
    VD::Fail("VLM_SetVw", "Speed rejected", -1);
    Type(W->feVw, "700");
    // The bar's handler fails first; the field's own send is skipped and the
    // operator sees one message.
    EXPECT_EQ(Log(), (Strings{"VLM_SetVw(700)", "VLM_GetLastError()"}));
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].Text, "Speed rejected.");
    EXPECT_EQ(W->sbVw->value(), 700);
    EXPECT_EQ(W->feVw->Value(), 700);
}

TEST_F(ParametersTest, SupplyVoltageOnceOnTickingThenZero)
{
    CreateConnected();
    VD::SetRead("VLM_GetAdc", 241);
    W->cbAdc->click();
    Settle();
    EXPECT_DOUBLE_EQ(W->feAdc->Value(), 24.1);
    W->cbAdc->click();
    EXPECT_EQ(W->feAdc->Value(), 0);
    EXPECT_EQ(Log(), (Strings{"VLM_GetAdc()"}));

    VD::Fail("VLM_GetAdc", "No answer");
    W->feAdc->SetValue(12);
    W->cbAdc->click();
    EXPECT_EQ(W->feAdc->Value(), 12);
    EXPECT_TRUE(W->cbAdc->isChecked());
    EXPECT_EQ(Boxes().size(), 1u);
}

TEST_F(ParametersTest, SendAllParametersInOrderAndStopsAtAFailure)
{
    Create();
    W->cbHold->setChecked(true);
    W->FLimL = 5;
    W->FLimR = 3;
    W->FHome = 1;
    ClearCalls();
    W->SendAllParameters();
    EXPECT_EQ(Log(), (Strings{"VLM_SetMode(1,0)", "VLM_SetIh(100)", "VLM_SetIa(300)", "VLM_SetIw(200)",
                              "VLM_SetVm(50)", "VLM_SetVw(100)", "VLM_SetAw(100)", "VLM_SetLim(5,3,1)",
                              "VLM_SetCtrl(32)"}));
    ClearCalls();
    VD::Fail("VLM_SetIa", "Busy");
    W->SendAllParameters();
    EXPECT_EQ(Log(), (Strings{"VLM_SetMode(1,0)", "VLM_SetIh(100)", "VLM_SetIa(300)", "VLM_GetLastError()"}));
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(ParametersTest, HandlersDoNothingWhileUpdating)
{
    CreateConnected();
    W->FUpdating = true;
    Type(W->feCw, "100");
    W->cbHold->click();
    W->cbLimEnR->click();
    W->cbHi->click();
    Pick(W->cbSM, 1);
    W->sbVw->setValue(900);
    W->btStartR->click();
    W->btHome->setEnabled(true);
    W->btHome->click();
    W->btEEPROM->click();
    W->cbAdc->click();
    EXPECT_TRUE(Log().empty());
    EXPECT_FALSE(W->FHoming);
    W->FUpdating = false;
}

// Every parameter and motion handler does nothing while the window writes its
// own controls; the window, menu, page and timer handlers act regardless.
TEST_F(ParametersTest, UpdatingGuardsExactlyTheParameterAndMotionHandlers)
{
    using Handler = void (TMainForm::*)(QObject*);
    const Handler Guarded[] = {
        &TMainForm::cbModeChange,  &TMainForm::feCwChanged,    &TMainForm::feCaChanged,   &TMainForm::feChChanged,
        &TMainForm::btClrNcClick,  &TMainForm::btStartNClick,  &TMainForm::btStart0Click, &TMainForm::feVwChanged,
        &TMainForm::sbVwChange,    &TMainForm::feAwChanged,    &TMainForm::btStartRClick, &TMainForm::btStartLClick,
        &TMainForm::btStopClick,   &TMainForm::feVmChanged,    &TMainForm::feVmaxChanged, &TMainForm::cbCntrlChange,
        &TMainForm::cbAdcClick,    &TMainForm::btEEPROMClick,  &TMainForm::cbLimEnRClick, &TMainForm::btHomeClick};
    CreateConnected();
    W->cbAdc->setChecked(true);
    W->cbLimEnR->setChecked(true);
    W->feHome->SetValueVisible(true);
    W->feHome->SetValue(77);
    W->sbVw->setValue(900);
    ClearCalls();
    const int32_t LimR = W->FLimR, Cntrl = W->FCntrl;
    W->FUpdating = true;
    W->feVmax->SetValue(500); // its handler does not apply it
    W->feVw->SetValue(700);   // nor sends it, nor moves the bar
    for (Handler H : Guarded) {
        (W.get()->*H)(nullptr);
        EXPECT_TRUE(Log().empty()) << Log().front();
        ClearCalls();
    }
    EXPECT_FALSE(W->FHoming);
    EXPECT_EQ(W->feHome->text(), "77");
    EXPECT_EQ(W->sbVw->maximum(), 4000) << "the maximum speed was not applied";
    EXPECT_EQ(W->sbVw->value(), 900);
    EXPECT_EQ(W->FLimR, LimR);
    EXPECT_EQ(W->FCntrl, Cntrl);

    // The others act.
    W->TimerTimer(W->Timer);
    Settle();
    W->Timer->stop();
    EXPECT_EQ(CallsOf("VLM_GetNc").size(), 1u);
    W->PageControlChange(W->PageControl);
    Settle();
    W->Timer->stop();
    EXPECT_EQ(CallsOf("VLM_GetNc").size(), 2u);
    W->mnDisconnectClick(nullptr);
    EXPECT_FALSE(W->FConnected);
    W->mnConnectClick(nullptr);
    Settle();
    EXPECT_TRUE(W->FConnected);
    bool AboutShown = false;
    QTimer::singleShot(0, [&] {
        AboutShown = QApplication::activeModalWidget() != nullptr;
        if (AboutShown)
            QApplication::activeModalWidget()->close();
    });
    W->mnAboutClick(nullptr);
    EXPECT_TRUE(AboutShown);
    ClearCalls();
    W->FormClose(nullptr);
    EXPECT_EQ(CallsOf("VLM_Stop").size(), 2u) << "the closing stop and the disconnect's";
    W->FUpdating = true;
    W->FormCreate(nullptr);
    W->Timer->stop();
    EXPECT_FALSE(W->FUpdating);
    W->FUpdating = true;
    W->mnExitClick(nullptr);
    EXPECT_FALSE(W->isVisible());
    EXPECT_FALSE(W->Timer->isActive());
    W->FUpdating = false;
}
