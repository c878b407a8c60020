// "График": the plot window, opened from the menu and fed with the readings
// the poll takes anyway. It makes no call to the device library of its own.
#include "ui/Vlm_main.h"

#include "application/Bind.h"
#include "platform/Guard.h"
#include "ui/PlotForm.h"

void TMainForm::SetupPlotMenu()
{
    Bind(mnPlot, &QAction::triggered, this, &TMainForm::mnPlotClick);
    // Once opened, the plot keeps every reading, also while it is closed.
    connect(this, &TMainForm::Sampled, this, [this](const Core::PollSample& Sample) {
        if (FPlotForm)
            Guarded([&] { FPlotForm->AddSample(Sample); });
    });
}

void TMainForm::mnPlotClick(QObject*)
{
    if (!FPlotForm) {
        FPlotForm = new TPlotForm(this);
        FPlotForm->LoadPlacement();
    }
    FPlotForm->show();
    FPlotForm->raise();
    FPlotForm->activateWindow();
}
