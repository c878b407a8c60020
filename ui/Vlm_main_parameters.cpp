// The parameter controls and the words they compose: each sends its value as
// soon as it changes, and all of them go out when the link comes up.
#include "ui/Vlm_main.h"

#include <QApplication>
#include <QPalette>

#include <memory>

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
    const int32_t Step = ParameterWords::StepModeValue(cbSM->currentIndex());
    const int32_t Decay = cbFM->currentIndex();
    Command([Step, Decay] { Commands::SetMode(Step, Decay); });
}

void TMainForm::feCwChanged(QObject*)
{
    if (FUpdating)
        return;
    const int32_t V = Trunc(feCw->Value());
    Command([V] { Commands::SetIw(V); });
}

void TMainForm::feCaChanged(QObject*)
{
    if (FUpdating)
        return;
    const int32_t V = Trunc(feCa->Value());
    Command([V] { Commands::SetIa(V); });
}

void TMainForm::feChChanged(QObject*)
{
    if (FUpdating)
        return;
    const int32_t V = HoldingCurrent();
    Command([V] { Commands::SetIh(V); });
}

void TMainForm::feVmChanged(QObject*)
{
    if (FUpdating)
        return;
    const int32_t V = Trunc(feVm->Value());
    Command([V] { Commands::SetVm(V); });
}

void TMainForm::feVwChanged(QObject*)
{
    if (FUpdating)
        return;
    Emitting([&] { sbVw->setValue(Trunc(feVw->Value())); });
    const int32_t V = Trunc(feVw->Value());
    Command([V] { Commands::SetVw(V); });
}

void TMainForm::sbVwChange(QObject*)
{
    if (FUpdating)
        return;
    feVw->SetValue(static_cast<double>(sbVw->value()));
    const int32_t V = sbVw->value();
    Command([V] { Commands::SetVw(V); });
}

void TMainForm::feAwChanged(QObject*)
{
    if (FUpdating)
        return;
    const int32_t V = Trunc(feAw->Value());
    Command([V] { Commands::SetAw(V); });
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
    const int32_t Backward = FLimL, Forward = FLimR, Home = FHome;
    Command([Backward, Forward, Home] { Commands::SetLim(Backward, Forward, Home); });
}

void TMainForm::cbCntrlChange(QObject*)
{
    if (FUpdating)
        return;
    FCntrl = ComposeControlWord();
    const int32_t Word = FCntrl;
    Command([Word] { Commands::SetCtrl(Word); });
}

void TMainForm::cbAdcClick(QObject*)
{
    if (FUpdating)
        return;
    if (!cbAdc->isChecked()) {
        feAdc->SetValue(0);
        return;
    }
    auto Volts = std::make_shared<double>(0);
    Ask([Volts] { *Volts = Commands::GetAdc(); },
        [this, Volts](std::exception_ptr E) {
            if (E) {
                if (!FClosed)
                    std::rethrow_exception(E);
                return;
            }
            // Unless the operator has unticked the box meanwhile.
            if (cbAdc->isChecked())
                feAdc->SetValue(*Volts);
        },
        FGroup);
}

void TMainForm::SendAllParameters()
{
    const PanelLink::TParameters P = Parameters();
    Ask([this, P] { FLink.SendAll(P); }, nullptr);
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
