#pragma once

#include <QMainWindow>

#include <cstdint>
#include <memory>

#include "ui_Vlm_main.h"

class QCloseEvent;
class QMoveEvent;
class QLabel;
class QTimer;
class TPlotForm;

// The main window: the whole operator interface of the panel. Its controls
// come from the window description (Vlm_main.ui) and are members under their
// own names (feCw, cbLimEnR, sbVw, mnConnect, ...). One unit per concern:
// Vlm_main.cpp the window, its creation and closing; Vlm_main_window.cpp what
// the description cannot hold; Vlm_main_connection.cpp the link and the status
// poll; Vlm_main_parameters.cpp the parameter controls and their words;
// Vlm_main_motion.cpp the motion commands; Vlm_main_settings.cpp the settings
// file.
class TMainForm : public QMainWindow, public Ui::TMainForm {
    Q_OBJECT

public:
    explicit TMainForm(QWidget* Parent = nullptr);
    ~TMainForm() override;

    // State fields, all zero when the window object is created.
    bool FUpdating = false;
    int32_t FLimR = 0;
    int32_t FLimL = 0;
    int32_t FHome = 0;
    int32_t FCntrl = 0;
    bool FHoming = false;
    bool FConnected = false;
    bool FKeepConnected = false;

    // The 100 ms poll timer (disabled until the end of window creation).
    QTimer* Timer = nullptr;

    // The status bar's two text panels: 0 the link, 1 the controller's state.
    QString StatusText(int Panel) const;
    void SetStatusText(int Panel, const QString& Text);

    // Window handlers.
    void FormCreate(QObject* Sender);
    void FormClose(QObject* Sender);
    void mnExitClick(QObject* Sender);
    void mnAboutClick(QObject* Sender);

    // Connection.
    void Connect();
    void Disconnect();
    void mnConnectClick(QObject* Sender);
    void mnDisconnectClick(QObject* Sender);

    // The open of a connection attempt runs on a thread of its own, and the
    // window waits for it a few milliseconds only: a library that answers at
    // once is done by then and the attempt ends as if it had been made here,
    // while a slow or silent line leaves the attempt under way and the rest
    // of Connect runs here once the open has returned. Until then the poll
    // leaves the link alone, and every handler that calls the library
    // settles the attempt first, so no call overtakes the open.
    bool ProbePending() const;
    // Waits for an attempt under way and runs the rest of its Connect.
    void SettleProbe();
    // Runs the rest of an attempt's Connect if its open has returned.
    void FinishProbeIfDone();

    // The link setting (Vlm_main_link.cpp): the dialog, and the link panel's
    // tooltip naming the link the panel is on or trying.
    void mnLinkSetupClick(QObject* Sender);
    QString LinkTip() const;
    void ShowLinkTip();

    // The plot window (Vlm_main_plot.cpp): made at its first opening, then
    // kept with its history, fed with every reading of the poll.
    TPlotForm* FPlotForm = nullptr;
    void mnPlotClick(QObject* Sender);

    // Parameter controls.
    void cbModeChange(QObject* Sender);
    void feCwChanged(QObject* Sender);
    void feCaChanged(QObject* Sender);
    void feChChanged(QObject* Sender);
    void feVmChanged(QObject* Sender);
    void feVwChanged(QObject* Sender);
    void sbVwChange(QObject* Sender);
    void feAwChanged(QObject* Sender);
    void feVmaxChanged(QObject* Sender);
    void cbLimEnRClick(QObject* Sender);
    void cbCntrlChange(QObject* Sender);
    void cbAdcClick(QObject* Sender);

    void SendAllParameters();
    void ComposeLimitWords(int32_t& Backward, int32_t& Forward, int32_t& Home);
    void ShowLimitWords(int32_t Backward, int32_t Forward, int32_t Home);
    int32_t ComposeControlWord();
    void ShowControlWord(int32_t Word);

    // Motion commands.
    void btClrNcClick(QObject* Sender);
    void btStartNClick(QObject* Sender);
    void btStart0Click(QObject* Sender);
    void btStartRClick(QObject* Sender);
    void btStartLClick(QObject* Sender);
    void btStopClick(QObject* Sender);
    void btHomeClick(QObject* Sender);
    void btEEPROMClick(QObject* Sender);

    // Status poll.
    void TimerTimer(QObject* Sender);
    void PageControlChange(QObject* Sender);

    // Settings file.
    void LoadSettings();
    void SaveSettings();

    // Selects a page from the program: PageControlChange does not run.
    void SelectPage(int Index);

protected:
    void closeEvent(QCloseEvent* Event) override;
    void moveEvent(QMoveEvent* Event) override;

private:
    // Builds what the window description cannot hold: fixed size, window
    // flags, fonts, the status panels, the timer, icons (Vlm_main_window.cpp).
    void SetupWindow();
    // Enables and binds "Настройка линии…" and sets the link tooltip.
    void SetupLinkMenu();
    // Binds "График".
    void SetupPlotMenu();
    // Binds every handler to its control, behind the guard.
    void BindHandlers();

    // The holding current sent: feCh truncated while cbHold is checked, else 0.
    int32_t HoldingCurrent() const;
    // The maximum speed applied to sbVw, pbVc and feVw.
    void ApplyMaxSpeed();
    // The enabling that follows the three "use" boxes of page 3.
    void ApplyLimitEnabling();
    // The window's position in its normal state, also while minimised.
    QPoint NormalPosition() const;

    // Where each entry of the settings file goes when loaded and comes from
    // when saved (Vlm_main_settings.cpp).
    struct TEntryBinding {
        void (*Load)(TMainForm& Form, int32_t Value);
        int32_t (*Save)(const TMainForm& Form);
    };
    static const TEntryBinding* EntryBindings();

    // Runs a library-calling handler once an attempt under way has ended.
    template <void (TMainForm::*Handler)(QObject*)>
    void Settled(QObject* Sender)
    {
        SettleProbe();
        (this->*Handler)(Sender);
    }
    // The rest of Connect once the open has told whether the device opened.
    void ConnectOpened(bool Opened);
    void EndProbe();
    void WarnNotFound();
    class TProbe;
    std::shared_ptr<TProbe> FProbe;
    // What follows an attempt that ends after its caller: a tick that found
    // it under way re-arms the timer, the Connect command warns of a failure.
    bool FRearmAfterProbe = false;
    bool FWarnAfterProbe = false;

    QLabel* FStatusPanels[2] = {nullptr, nullptr};
    QPoint FNormalPos;
    bool FClosed = false;
};

extern TMainForm* MainForm;
