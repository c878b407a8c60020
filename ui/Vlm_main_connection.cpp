// The link to the controller: connecting, disconnecting, and the status poll
// that finds out when it is lost.
#include "ui/Vlm_main.h"

#include <QTimer>

#include "app/Application.h"
#include "device/Commands.h"
#include "device/DeviceText.h"
#include "device/velmor.h"
#include "ui/MainFormControls.h"
#include "ui/ParameterWords.h"

void TMainForm::Connect()
{
    if (!FConnected)
        FConnected = VLM_OpenDevice() != 0;
    if (FConnected) {
        char* Text = nullptr;
        VLM_GetInfo(&Text);
        SetStatusText(0, QStringLiteral(" ON LINE: ") + QString::fromStdString(DeviceTextToUtf8(Text)));
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
