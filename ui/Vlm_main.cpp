#include "ui/Vlm_main.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QMoveEvent>
#include <QPalette>
#include <QSignalBlocker>
#include <QTimer>

#include <algorithm>
#include <optional>

#include "app/Application.h"
#include "app/Bind.h"
#include "device/Commands.h"
#include "device/velmor.h"
#include "platform/Guard.h"
#include "platform/IniFile.h"
#include "settings/SettingsPath.h"
#include "ui/About.h"
#include "ui/ParameterWords.h"

using ParameterWords::Trunc;

TMainForm* MainForm = nullptr;

namespace {

// Sets a check box from the program. Its handler runs as for the operator's
// click; an exception from it goes on here.
void SetChecked(QCheckBox* Box, bool Checked)
{
    Emitting([&] { Box->setChecked(Checked); });
}

// A progress bar keeps its position inside the range when the range shrinks.
void SetProgressMax(QProgressBar* Bar, int Max)
{
    int Old = Bar->value();
    Bar->setMaximum(Max);
    Bar->setValue(std::clamp(Old, Bar->minimum(), Bar->maximum()));
}

void SetProgress(QProgressBar* Bar, int Value)
{
    Bar->setValue(std::clamp(Value, Bar->minimum(), Bar->maximum()));
}

std::string SettingsFileName()
{
    return SettingsFilePath(QFile::encodeName(Application::ExeName()).toStdString());
}

void ShowSettingsError(const Exception& E)
{
    Application::MessageBox(QString::fromStdString(E.Message()), QStringLiteral("Error"),
                            Application::MB_ICONERROR | Application::MB_OK);
}

} // namespace

TMainForm::TMainForm(QWidget* Parent) : QMainWindow(Parent)
{
    MainForm = this;
    setupUi(this);
    SetupWindow();
    FNormalPos = pos();
    BindHandlers();
    Guarded([&] { FormCreate(this); });
}

TMainForm::~TMainForm()
{
    if (MainForm == this)
        MainForm = nullptr;
}

void TMainForm::BindHandlers()
{
    Bind(cbSM, &QComboBox::activated, this, &TMainForm::cbModeChange);
    Bind(cbFM, &QComboBox::activated, this, &TMainForm::cbModeChange);
    feCw->SetOnChanged(BindEvent(this, &TMainForm::feCwChanged));
    feCa->SetOnChanged(BindEvent(this, &TMainForm::feCaChanged));
    feCh->SetOnChanged(BindEvent(this, &TMainForm::feChChanged));
    Bind(cbHold, &QCheckBox::toggled, this, &TMainForm::feChChanged);

    Bind(btClrNc, &QPushButton::clicked, this, &TMainForm::btClrNcClick);
    Bind(btStartN, &QPushButton::clicked, this, &TMainForm::btStartNClick);
    Bind(btStart0, &QPushButton::clicked, this, &TMainForm::btStart0Click);

    feVw->SetOnChanged(BindEvent(this, &TMainForm::feVwChanged));
    feAw->SetOnChanged(BindEvent(this, &TMainForm::feAwChanged));
    Bind(sbVw, &QScrollBar::valueChanged, this, &TMainForm::sbVwChange);

    Bind(btStartL, &QPushButton::clicked, this, &TMainForm::btStartLClick);
    Bind(btStop, &QPushButton::clicked, this, &TMainForm::btStopClick);
    Bind(btStartR, &QPushButton::clicked, this, &TMainForm::btStartRClick);
    Bind(btEEPROM, &QPushButton::clicked, this, &TMainForm::btEEPROMClick);

    feVm->SetOnChanged(BindEvent(this, &TMainForm::feVmChanged));
    feVmax->SetOnChanged(BindEvent(this, &TMainForm::feVmaxChanged));
    Bind(cbCntrl, &QComboBox::activated, this, &TMainForm::cbCntrlChange);
    Bind(cbHi, &QCheckBox::toggled, this, &TMainForm::cbCntrlChange);
    Bind(cbDbnc, &QCheckBox::toggled, this, &TMainForm::cbCntrlChange);
    Bind(cbAdc, &QCheckBox::toggled, this, &TMainForm::cbAdcClick);

    for (QCheckBox* Box : {cbLimEnR, cbLimNoR, cbLimStR, cbLimEnL, cbLimNoL, cbLimStL,
                           cbHomeEn, cbHomeNo, cbHomeSt, cbHomeDir})
        Bind(Box, &QCheckBox::toggled, this, &TMainForm::cbLimEnRClick);
    Bind(btHome, &QPushButton::clicked, this, &TMainForm::btHomeClick);

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

// ---------------------------------------------------------------- window

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
    try {
        Commands::Stop();
    } catch (const EHardwareException&) {
        // The motor may already be out of reach; closing goes on.
    }
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
        Timer->stop();
        Guarded([&] { FormClose(this); });
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

// ------------------------------------------------------------ connection

void TMainForm::Connect()
{
    if (!FConnected)
        FConnected = VLM_OpenDevice() != 0;
    if (FConnected) {
        char* Text = nullptr;
        VLM_GetInfo(&Text);
        SetStatusText(0, QStringLiteral(" ON LINE: ") + QString::fromUtf8(Text ? Text : ""));
        mnConnect->setEnabled(false);
        mnDisconnect->setEnabled(true);
        SendAllParameters();
    } else {
        Disconnect();
    }
}

void TMainForm::Disconnect()
{
    if (FConnected)
        VLM_Stop();
    VLM_CloseDevice();
    FConnected = false;
    SetStatusText(0, QStringLiteral(" OFF LINE "));
    mnConnect->setEnabled(true);
    mnDisconnect->setEnabled(false);
}

void TMainForm::mnConnectClick(QObject*)
{
    Disconnect();
    Connect();
    FKeepConnected = true;
    if (!FConnected)
        Application::MessageBox(QStringLiteral("Устройство не найдено."), QStringLiteral("Warning"),
                                Application::MB_ICONWARNING | Application::MB_OK);
}

void TMainForm::mnDisconnectClick(QObject*)
{
    FKeepConnected = false;
    Disconnect();
}

// ------------------------------------------------------ parameter controls

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

// ------------------------------------------------------------ motion

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

// ------------------------------------------------------------ status poll

void TMainForm::TimerTimer(QObject*)
{
    Timer->stop();
    if (FConnected) {
        try {
            const int Page = PageControl->currentIndex();
            if (Page == 0) {
                feNc->SetValue(Commands::GetNc());
                const int32_t Lim = Commands::GetLim();
                SetChecked(cbLimL, (Lim & 1) != 0);
                SetChecked(cbLimR, (Lim & 2) != 0);
                SetChecked(cbHome, (Lim & 4) != 0);
                const int32_t Vc = Commands::GetVc();
                feVc->SetValue(Vc);
                SetProgress(pbVc, ParameterWords::Magnitude(Vc));
            }
            if (Page == 1 && cbAdc->isChecked())
                feAdc->SetValue(Commands::GetAdc());
            if (Page == 2 && FHoming) {
                if (Commands::GetStat() == 1) {
                    feHome->SetValue(Commands::GetNb());
                    feHome->SetValueVisible(true);
                    FHoming = false;
                }
            }
            SetStatusText(1, QString::fromStdString(Commands::GetStateText()));
        } catch (const EHardwareException&) {
            FConnected = false;
        }
    }
    if (!FConnected) {
        Disconnect();
        if (FKeepConnected)
            Connect();
    }
    if (!FClosed)
        Timer->start();
}

void TMainForm::PageControlChange(QObject*) { TimerTimer(nullptr); }

// ------------------------------------------------------------ settings file

void TMainForm::LoadSettings()
{
    std::optional<TIniFile> Ini;
    try {
        Ini.emplace(SettingsFileName());
    } catch (const Exception& E) {
        // An unreadable file must not leave the panel dead: say so and go on
        // with the defaults.
        ShowSettingsError(E);
    }
    auto Int = [&](const char* Section, const char* Key, int32_t Default) {
        return Ini ? Ini->ReadInteger(Section, Key, Default) : Default;
    };
    auto Bool = [&](const char* Section, const char* Key, bool Default) {
        return Ini ? Ini->ReadBool(Section, Key, Default) : Default;
    };

    move(Int("General", "Left", x()), y());
    move(x(), Int("General", "Top", y()));
    cbSM->setCurrentIndex(Int("Mode", "Microstep", 0));
    cbFM->setCurrentIndex(Int("Mode", "Decay", 0));
    feCw->SetValue(Int("I", "Iw", 200));
    feCa->SetValue(Int("I", "Ia", 300));
    feCh->SetValue(Int("I", "Ih", 100));
    SetChecked(cbHold, Bool("I", "Hold", false));
    feNr->SetValue(Int("N", "Nr", 0));
    SetChecked(cbRelN, Bool("N", "Relative", false));
    feVmax->SetValue(Int("General", "Vmax", 4000));
    ApplyMaxSpeed();
    feVm->SetValue(Int("V", "Vm", 50));
    feVw->SetValue(Int("V", "Vw", 100));
    feAw->SetValue(Int("A", "Aw", 100));
    SetChecked(cbAdc, Bool("Adc", "Show", false));
    FLimR = Int("Limits", "R", 0);
    FLimL = Int("Limits", "L", 0);
    FHome = Int("Limits", "Home", 0);
    SetChecked(cbHomeDir, Bool("Limits", "HomeDir", true));
    FCntrl = Int("Control", "Mode", 32);
    // The stored position is the normal one, also if the window is first
    // shown minimised.
    FNormalPos = pos();
}

void TMainForm::SaveSettings()
{
    try {
        TIniFile Ini(SettingsFileName());
        const QPoint Pos = NormalPosition();
        Ini.WriteInteger("General", "Left", Pos.x());
        Ini.WriteInteger("General", "Top", Pos.y());
        Ini.WriteInteger("Mode", "Microstep", cbSM->currentIndex());
        Ini.WriteInteger("Mode", "Decay", cbFM->currentIndex());
        Ini.WriteInteger("I", "Iw", Trunc(feCw->Value()));
        Ini.WriteInteger("I", "Ia", Trunc(feCa->Value()));
        Ini.WriteInteger("I", "Ih", Trunc(feCh->Value()));
        Ini.WriteBool("I", "Hold", cbHold->isChecked());
        Ini.WriteInteger("N", "Nr", Trunc(feNr->Value()));
        Ini.WriteBool("N", "Relative", cbRelN->isChecked());
        Ini.WriteInteger("General", "Vmax", Trunc(feVmax->Value()));
        Ini.WriteInteger("V", "Vm", Trunc(feVm->Value()));
        Ini.WriteInteger("V", "Vw", Trunc(feVw->Value()));
        Ini.WriteInteger("A", "Aw", Trunc(feAw->Value()));
        Ini.WriteBool("Adc", "Show", cbAdc->isChecked());
        Ini.WriteInteger("Limits", "R", FLimR);
        Ini.WriteInteger("Limits", "L", FLimL);
        Ini.WriteInteger("Limits", "Home", FHome);
        Ini.WriteBool("Limits", "HomeDir", cbHomeDir->isChecked());
        Ini.WriteInteger("Control", "Mode", FCntrl);
        Ini.UpdateFile();
    } catch (const Exception& E) {
        // The settings of this run are lost, the stored ones are not.
        ShowSettingsError(E);
    }
}
