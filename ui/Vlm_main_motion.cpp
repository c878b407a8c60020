// The motion commands of pages 1 and 3.
#include "ui/Vlm_main.h"

#include "core/ParameterWords.h"
#include "device/Commands.h"

using ParameterWords::Trunc;

void TMainForm::btClrNcClick(QObject*)
{
    if (FUpdating)
        return;
    Commands::SetNc(0);
}

void TMainForm::btStartNClick(QObject*)
{
    if (FUpdating)
        return;
    const bool Relative = cbRelN->isChecked();
    const int32_t N = Trunc(feNr->Value());
    if (Relative)
        Commands::StartdN(N);
    else
        Commands::StartN(N);
}

void TMainForm::btStart0Click(QObject*)
{
    if (FUpdating)
        return;
    Commands::StartN(0);
}

void TMainForm::btStartRClick(QObject*)
{
    if (FUpdating)
        return;
    Commands::StartD(1);
}

void TMainForm::btStartLClick(QObject*)
{
    if (FUpdating)
        return;
    Commands::StartD(-1);
}

void TMainForm::btStopClick(QObject*)
{
    if (FUpdating)
        return;
    Commands::StartD(0);
}

void TMainForm::btHomeClick(QObject*)
{
    if (FUpdating)
        return;
    FHoming = true;
    feHome->SetValueVisible(false);
    Commands::Home(cbHomeDir->isChecked() ? 1 : -1);
}

void TMainForm::btEEPROMClick(QObject*)
{
    if (FUpdating)
        return;
    Commands::SavePar();
}
