// The motion commands of pages 1 and 3, each handed to the device thread with
// its arguments as the window has them now.
#include "ui/Vlm_main.h"

#include "core/ParameterWords.h"
#include "device/Commands.h"

using ParameterWords::Trunc;

void TMainForm::btClrNcClick(QObject*)
{
    if (FUpdating)
        return;
    Command([] { Commands::SetNc(0); });
}

void TMainForm::btStartNClick(QObject*)
{
    if (FUpdating)
        return;
    const bool Relative = cbRelN->isChecked();
    const int32_t N = Trunc(feNr->Value());
    if (Relative)
        Command([N] { Commands::StartdN(N); });
    else
        Command([N] { Commands::StartN(N); });
}

void TMainForm::btStart0Click(QObject*)
{
    if (FUpdating)
        return;
    Command([] { Commands::StartN(0); });
}

void TMainForm::btStartRClick(QObject*)
{
    if (FUpdating)
        return;
    Command([] { Commands::StartD(1); });
}

void TMainForm::btStartLClick(QObject*)
{
    if (FUpdating)
        return;
    Command([] { Commands::StartD(-1); });
}

void TMainForm::btStopClick(QObject*)
{
    if (FUpdating)
        return;
    Command([] { Commands::StartD(0); });
}

void TMainForm::btHomeClick(QObject*)
{
    if (FUpdating)
        return;
    FHoming = true;
    ++FHomingRun;
    feHome->SetValueVisible(false);
    const int32_t Dir = cbHomeDir->isChecked() ? 1 : -1;
    Command([Dir] { Commands::Home(Dir); });
}

void TMainForm::btEEPROMClick(QObject*)
{
    if (FUpdating)
        return;
    Command([] { Commands::SavePar(); });
}
