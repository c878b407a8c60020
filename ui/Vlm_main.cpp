#include "ui/Vlm_main.h"

#include <QCloseEvent>
#include <QMoveEvent>
#include <QSignalBlocker>
#include <QTimer>

#include "application/Bind.h"
#include "core/ParameterWords.h"
#include "device/Commands.h"
#include "platform/Guard.h"
#include "ui/About.h"
#include "ui/DeviceThread.h"
#include "ui/MainFormControls.h"

using ParameterWords::Trunc;

TMainForm* MainForm = nullptr;

TMainForm::TMainForm(QWidget* Parent) : QMainWindow(Parent), FDevice(std::make_unique<TDeviceThread>())
{
    qRegisterMetaType<Core::PollSample>();
    MainForm = this;
    // The controls are made in the window's own font: none is measured in
    // another one first.
    setFont(WindowFont());
    setupUi(this);
    SetupWindow();
    FNormalPos = pos();
    BindHandlers();
    Guarded([&] { FormCreate(this); });
}

TMainForm::~TMainForm()
{
    // What was handed to the device thread is done before the window goes
    // (the close's stop and disconnect among it); their results are not
    // shown any more.
    FDevice->Finish();
    if (MainForm == this)
        MainForm = nullptr;
}

void TMainForm::BindHandlers()
{
    // The handlers that call the library: each one's calls make one group
    // (Grouped).
    Bind(cbSM, &QComboBox::activated, this, &TMainForm::Grouped<&TMainForm::cbModeChange>);
    Bind(cbFM, &QComboBox::activated, this, &TMainForm::Grouped<&TMainForm::cbModeChange>);
    feCw->SetOnChanged(BindEvent(this, &TMainForm::Grouped<&TMainForm::feCwChanged>));
    feCa->SetOnChanged(BindEvent(this, &TMainForm::Grouped<&TMainForm::feCaChanged>));
    feCh->SetOnChanged(BindEvent(this, &TMainForm::Grouped<&TMainForm::feChChanged>));
    Bind(cbHold, &QCheckBox::toggled, this, &TMainForm::Grouped<&TMainForm::feChChanged>);

    Bind(btClrNc, &QPushButton::clicked, this, &TMainForm::Grouped<&TMainForm::btClrNcClick>);
    Bind(btStartN, &QPushButton::clicked, this, &TMainForm::Grouped<&TMainForm::btStartNClick>);
    Bind(btStart0, &QPushButton::clicked, this, &TMainForm::Grouped<&TMainForm::btStart0Click>);

    feVw->SetOnChanged(BindEvent(this, &TMainForm::Grouped<&TMainForm::feVwChanged>));
    feAw->SetOnChanged(BindEvent(this, &TMainForm::Grouped<&TMainForm::feAwChanged>));
    Bind(sbVw, &QScrollBar::valueChanged, this, &TMainForm::Grouped<&TMainForm::sbVwChange>);

    Bind(btStartL, &QPushButton::clicked, this, &TMainForm::Grouped<&TMainForm::btStartLClick>);
    Bind(btStop, &QPushButton::clicked, this, &TMainForm::Grouped<&TMainForm::btStopClick>);
    Bind(btStartR, &QPushButton::clicked, this, &TMainForm::Grouped<&TMainForm::btStartRClick>);
    Bind(btEEPROM, &QPushButton::clicked, this, &TMainForm::Grouped<&TMainForm::btEEPROMClick>);

    feVm->SetOnChanged(BindEvent(this, &TMainForm::Grouped<&TMainForm::feVmChanged>));
    feVmax->SetOnChanged(BindEvent(this, &TMainForm::Grouped<&TMainForm::feVmaxChanged>));
    Bind(cbCntrl, &QComboBox::activated, this, &TMainForm::Grouped<&TMainForm::cbCntrlChange>);
    Bind(cbHi, &QCheckBox::toggled, this, &TMainForm::Grouped<&TMainForm::cbCntrlChange>);
    Bind(cbDbnc, &QCheckBox::toggled, this, &TMainForm::Grouped<&TMainForm::cbCntrlChange>);
    Bind(cbAdc, &QCheckBox::toggled, this, &TMainForm::Grouped<&TMainForm::cbAdcClick>);

    for (QCheckBox* Box : {cbLimEnR, cbLimNoR, cbLimStR, cbLimEnL, cbLimNoL, cbLimStL,
                           cbHomeEn, cbHomeNo, cbHomeSt, cbHomeDir})
        Bind(Box, &QCheckBox::toggled, this, &TMainForm::Grouped<&TMainForm::cbLimEnRClick>);
    Bind(btHome, &QPushButton::clicked, this, &TMainForm::Grouped<&TMainForm::btHomeClick>);

    Bind(PageControl, &QTabWidget::currentChanged, this, &TMainForm::PageControlChange);
    Bind(Timer, &QTimer::timeout, this, &TMainForm::TimerTimer);

    Bind(mnConnect, &QAction::triggered, this, &TMainForm::mnConnectClick);
    Bind(mnDisconnect, &QAction::triggered, this, &TMainForm::mnDisconnectClick);
    Bind(mnExit, &QAction::triggered, this, &TMainForm::mnExitClick);
    Bind(mnAbout, &QAction::triggered, this, &TMainForm::mnAboutClick);
}

void TMainForm::SelectPage(int Index)
{
    QSignalBlocker Quiet(PageControl);
    PageControl->setCurrentIndex(Index);
}


// The window: creation and closing.

void TMainForm::FormCreate(QObject*)
{
    FUpdating = true;
    SelectPage(0);
    LoadSettings();
    Emitting([&] { sbVw->setValue(Trunc(feVw->Value())); });
    ShowLimitWords(FLimL, FLimR, FHome);
    ShowControlWord(FCntrl);
    FUpdating = false;
    FHoming = false;
    Disconnect();
    FKeepConnected = true;
    Timer->start();
}

void TMainForm::FormClose(QObject*)
{
    Ask(
        [] {
            try {
                Commands::Stop();
            } catch (const EHardwareException&) {
                // The motor may already be out of reach; closing goes on.
            }
        },
        nullptr);
    SaveSettings();
    Disconnect();
}

void TMainForm::closeEvent(QCloseEvent* Event)
{
    if (!FClosed) {
        // From here on no tick may run, not even inside a message box of the
        // closing itself, so nothing reaches the controller after its stop
        // but the final disconnect; and the window closes only once.
        FClosed = true;
        FClosing = true;
        Timer->stop();
        Guarded([&] { FormClose(this); });
        // The device thread takes nothing more; what the closing handed it
        // runs to its end, and the window's destruction waits for that.
        FDevice->Seal();
    }
    Event->accept();
}

void TMainForm::moveEvent(QMoveEvent* Event)
{
    QMainWindow::moveEvent(Event);
    if (!isMinimized())
        FNormalPos = pos();
}

QPoint TMainForm::NormalPosition() const { return isMinimized() ? FNormalPos : pos(); }

void TMainForm::mnExitClick(QObject*) { close(); }

void TMainForm::mnAboutClick(QObject*)
{
    if (!AboutForm)
        AboutForm = new TAboutForm(this);
    ModalScope Modal;
    AboutForm->exec();
}
