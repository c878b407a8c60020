#include "ui/Vlm_main.h"

#include <QCloseEvent>
#include <QLabel>
#include <QTimer>

TMainForm* MainForm = nullptr;

TMainForm::TMainForm(QWidget* Parent) : QMainWindow(Parent)
{
    MainForm = this;
    setupUi(this);
}

TMainForm::~TMainForm()
{
    if (MainForm == this)
        MainForm = nullptr;
}

void TMainForm::closeEvent(QCloseEvent* Event) { QMainWindow::closeEvent(Event); }
