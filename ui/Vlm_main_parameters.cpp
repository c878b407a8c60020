// The parameter controls and the words they compose: each sends its value as
// soon as it changes, and all of them go out when the link comes up.
#include "ui/Vlm_main.h"

#include <QApplication>
#include <QPalette>

#include "application/Bind.h"
#include "core/ParameterWords.h"
#include "device/Commands.h"
#include "ui/MainFormControls.h"

using ParameterWords::Trunc;

int32_t TMainForm::HoldingCurrent() const { return cbHold->isChecked() ? Trunc(feCh->Value()) : 0; }

void TMainForm::cbModeChange(QObject*)
{
    if (FUpdating)
        return;
    Commands::SetMode(ParameterWords::StepModeValue(cbSM->currentIndex()), cbFM->currentIndex());
}

void TMainForm::feCwChanged(QObject*)
{
    if (FUpdating)
        return;
    Commands::SetIw(Trunc(feCw->Value()));
}

void TMainForm::feCaChanged(QObject*)
{
    if (FUpdating)
        return;
    Commands::SetIa(Trunc(feCa->Value()));
}

void TMainForm::feChChanged(QObject*)
{
    if (FUpdating)
        return;
    Commands::SetIh(HoldingCurrent());
}

void TMainForm::feVmChanged(QObject*)
{
    if (FUpdating)
        return;
    Commands::SetVm(Trunc(feVm->Value()));
}

void TMainForm::feVwChanged(QObject*)
{
    if (FUpdating)
        return;
    Emitting([&] { sbVw->setValue(Trunc(feVw->Value())); });
    Commands::SetVw(Trunc(feVw->Value()));
}

void TMainForm::sbVwChange(QObject*)
{
    if (FUpdating)
        return;
    feVw->SetValue(static_cast<double>(sbVw->value()));
    Commands::SetVw(sbVw->value());
}

void TMainForm::feAwChanged(QObject*)
{
    if (FUpdating)
        return;
    Commands::SetAw(Trunc(feAw->Value()));
}

void TMainForm::feVmaxChanged(QObject*)
{
    if (FUpdating)
        return;
    ApplyMaxSpeed();
}

void TMainForm::ApplyMaxSpeed()
{
    Emitting([&] { sbVw->setMaximum(Trunc(feVmax->Value())); });
    SetProgressMax(pbVc, Trunc(feVmax->Value()));
    feVw->SetMaxValue(feVmax->Value());
}

void TMainForm::cbLimEnRClick(QObject*)
{
    if (FUpdating)
        return;
    ComposeLimitWords(FLimL, FLimR, FHome);
    Commands::SetLim(FLimL, FLimR, FHome);
}

void TMainForm::cbCntrlChange(QObject*)
{
    if (FUpdating)
        return;
    FCntrl = ComposeControlWord();
    Commands::SetCtrl(FCntrl);
}

void TMainForm::cbAdcClick(QObject*)
{
    if (FUpdating)
        return;
    if (cbAdc->isChecked())
        feAdc->SetValue(Commands::GetAdc());
    else
        feAdc->SetValue(0);
}

void TMainForm::SendAllParameters()
{
    try {
        Commands::SetMode(ParameterWords::StepModeValue(cbSM->currentIndex()), cbFM->currentIndex());
        Commands::SetIh(HoldingCurrent());
        Commands::SetIa(Trunc(feCa->Value()));
        Commands::SetIw(Trunc(feCw->Value()));
        Commands::SetVm(Trunc(feVm->Value()));
        Commands::SetVw(Trunc(feVw->Value()));
        Commands::SetAw(Trunc(feAw->Value()));
        Commands::SetLim(FLimL, FLimR, FHome);
        Commands::SetCtrl(FCntrl);
    } catch (const EHardwareException&) {
        // The next poll finds out whether the link is really gone.
    }
}

void TMainForm::ComposeLimitWords(int32_t& Backward, int32_t& Forward, int32_t& Home)
{
    Backward = 0;
    Forward = 0;
    Home = 0;
    Forward = ParameterWords::LimitWord(cbLimEnR->isChecked(), cbLimNoR->isChecked(), cbLimStR->isChecked());
    Backward = ParameterWords::LimitWord(cbLimEnL->isChecked(), cbLimNoL->isChecked(), cbLimStL->isChecked());
    Home = ParameterWords::LimitWord(cbHomeEn->isChecked(), cbHomeNo->isChecked(), cbHomeSt->isChecked());
    ApplyLimitEnabling();
}

void TMainForm::ShowLimitWords(int32_t Backward, int32_t Forward, int32_t Home)
{
    const struct {
        int32_t Word;
        QCheckBox *En, *No, *St;
    } Rows[] = {{Forward, cbLimEnR, cbLimNoR, cbLimStR},
                {Backward, cbLimEnL, cbLimNoL, cbLimStL},
                {Home, cbHomeEn, cbHomeNo, cbHomeSt}};
    for (const auto& Row : Rows) {
        ParameterWords::LimitBoxes B = ParameterWords::LimitWordBoxes(Row.Word);
        SetChecked(Row.En, B.Enabled);
        SetChecked(Row.No, B.NormallyOpen);
        SetChecked(Row.St, B.AbruptStop);
    }
    ApplyLimitEnabling();
}

void TMainForm::ApplyLimitEnabling()
{
    const bool R = cbLimEnR->isChecked();
    cbLimStR->setEnabled(R);
    cbLimNoR->setEnabled(R);
    const bool L = cbLimEnL->isChecked();
    cbLimStL->setEnabled(L);
    cbLimNoL->setEnabled(L);

    const bool H = cbHomeEn->isChecked();
    cbHomeSt->setEnabled(H);
    cbHomeNo->setEnabled(H);
    cbHomeDir->setEnabled(H);
    QPalette P = Label14->palette();
    P.setColor(QPalette::WindowText, H ? QApplication::palette().color(QPalette::Active, QPalette::WindowText)
                                       : QApplication::palette().color(QPalette::Disabled, QPalette::WindowText));
    Label14->setPalette(P);
    feHome->setEnabled(H);
    btHome->setEnabled(H);
}

int32_t TMainForm::ComposeControlWord()
{
    return ParameterWords::ControlWord(cbCntrl->currentIndex(), cbHi->isChecked(), cbDbnc->isChecked(), FCntrl);
}

void TMainForm::ShowControlWord(int32_t Word)
{
    ParameterWords::ControlBoxes B = ParameterWords::ControlWordBoxes(Word);
    cbCntrl->setCurrentIndex(B.Index);
    SetChecked(cbHi, B.ActiveHigh);
    SetChecked(cbDbnc, B.Debounce);
}
