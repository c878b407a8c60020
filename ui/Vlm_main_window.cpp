#include "ui/Vlm_main.h"

#include <QLabel>
#include <QStatusBar>
#include <QTimer>

// Placeholder until the window layout lands.
void TMainForm::SetupWindow()
{
    Timer = new QTimer(this);
    Timer->setInterval(100);
    for (auto& P : FStatusPanels) {
        P = new QLabel(this);
        statusBar()->addWidget(P);
    }
}

QString TMainForm::StatusText(int Panel) const { return FStatusPanels[Panel]->text(); }
void TMainForm::SetStatusText(int Panel, const QString& Text) { FStatusPanels[Panel]->setText(Text); }
